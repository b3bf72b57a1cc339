// CSid (BIN) archives.
//
//   offset  size  field
//   0       4     magic "CSid"
//   4       2     entry count (u16 LE)
//   6       21*n  directory
//
//   directory entry, 21 bytes:
//   0       1     name length, never read: the name ends at its first NUL
//   1       12    name, NUL-padded (no NUL when 12 long)
//   13      4     size   (u32 LE)
//   17      4     offset (u32 LE) of the member's bytes
//
// Members lie anywhere in the file.
//
// Writing: the table in front (a new archive, made with -csid, has room for
// 2,048 entries), at most 65,535 entries. Names are flat, up to 12 bytes; the
// length byte of a new or replaced entry is its name's length.
#include <cstdio>
#include <vector>

#include "core/bytes.h"
#include "core/format.h"
#include "formats/update.h"

namespace {
constexpr uint32_t kEntrySize = 21;
constexpr uint32_t kNameAt = 1;
constexpr uint32_t kNameWidth = 12;
constexpr uint32_t kSizeAt = 13;
constexpr uint32_t kOffsetAt = 17;

void ReadHeader(const ArchiverState& run, Layout* layout) {
  layout->dirSize = ReadHeaderField(run, 2) * kEntrySize;
  layout->entrySize = kEntrySize;
}

void Decode(const uint8_t* entry, Member* m) {
  NameMember(m, entry + kNameAt, kNameWidth);
  m->size = ReadU32LE(entry + kSizeAt);
  m->offset = ReadU32LE(entry + kOffsetAt);
}

void PrintRow(const Member& m) { printf("%-12.12s\t%-7d\t%08X\n", m.stored, int32_t(m.size), m.offset); }

// ---- writing

constexpr uint32_t kCountAt = 4;
constexpr uint32_t kTableAt = 6;
constexpr EntryFields kFields = {kEntrySize, kOffsetAt, kSizeAt, NO_FIELD, kNameAt, kNameWidth, kNameWidth};

void Plan(const AddRequest&, const uint8_t* directory, uint32_t count, const std::vector<AddInput>& inputs,
          UpdatePlan* plan) {
  PlanFlatNames(kFields, directory, count, inputs, plan);
  for (Put& put : plan->puts) {
    if (put.refusal) continue;
    if (put.replaces >= 0) {
      const uint8_t* old = directory + uint64_t(put.replaces) * kEntrySize;
      put.entry.assign(old, old + kEntrySize);
    }
    put.entry[0] = uint8_t(StoredName(kFields, put.entry.data()).size());
  }
}

// The table in front, the count at 4 commits.
const WriteRow kWriteRow = {
    COMMIT_FRONT_TABLE, TABLE_IN_FRONT, kTableAt, kTableAt,                  // style, table, header
    {{kCountAt, 2, WORD_ENTRY_COUNT}, {0, 0, WORD_ENTRY_COUNT}}, false,       // header words
    kFields,
    1, 2048, 0xFFFF, true, DATA_AS_IS, nullptr,  // alignment, room, limit, keeps room, coding, transform
    "CSid\0\0", {nullptr, nullptr},             // made with -csid only
    "Can't allocate %ul bytes for %.12s - skiped\n", true, true,  // directory order kept; stored names
    Plan, nullptr,
};
}  // namespace

extern const Format kCsid = {
    "CSid", {{}, 0, {"CSid"}, 4}, ReadHeader,     // name, detection, header fields
    Decode, nullptr, nullptr,                     // decoding (or a walk), offsets
    "\nname\t\tsize\t\tseek\n"
    "------------------------------------\n",
    PrintRow, nullptr, false, false,              // row, extraction, walks the archive, "~" alias
    &kWriteRow,                                   // d, a and m
};
