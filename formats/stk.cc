// STK (and ITK) archives, recognised by the file name's extension alone.
//
//   offset  size  field
//   0       2     entry count (u16 LE)
//   2       22*n  directory
//
//   directory entry, 22 bytes:
//   0       13    name; only the first 12 bytes are read (NUL-padded,
//                 no NUL when 12 long); byte 12 is ignored
//   13      4     size   (u32 LE)
//   17      4     offset (u32 LE) of the member's bytes
//   21      1     flags, only listed
//
// Members are stored as they are and lie anywhere in the file.
//
// Writing: the table in front (room for 256 entries in a new archive), at
// most 65,535 entries. Names are flat, up to 12 bytes; new and replaced
// entries get flags 0 (stored).
#include <cstdio>
#include <vector>

#include "core/bytes.h"
#include "core/format.h"
#include "formats/update.h"

namespace {
constexpr uint32_t kEntrySize = 22;
constexpr uint32_t kNameWidth = 12;
constexpr uint32_t kSizeAt = 13;
constexpr uint32_t kOffsetAt = 17;
constexpr uint32_t kFlagsAt = 21;

// No magic: the count is the file's first two bytes.
void ReadHeader(const ArchiverState& run, Layout* layout) {
  layout->dirSize = ReadHeaderField(run, 2) * kEntrySize;
  layout->entrySize = kEntrySize;
}

void Decode(const uint8_t* entry, Member* m) {
  NameMember(m, entry, kNameWidth);
  m->size = ReadU32LE(entry + kSizeAt);
  m->offset = ReadU32LE(entry + kOffsetAt);
  m->flags = entry[kFlagsAt];
}

void PrintRow(const Member& m) { printf("%-12.12s\t%-7d\t%08X %02X\n", m.stored, int32_t(m.size), m.offset, m.flags); }

// ---- writing

constexpr uint32_t kTableAt = 2;
constexpr EntryFields kFields = {kEntrySize, kOffsetAt, kSizeAt, NO_FIELD, 0, kNameWidth, kNameWidth};

void Plan(const AddRequest&, const uint8_t* directory, uint32_t count, const std::vector<AddInput>& inputs,
          UpdatePlan* plan) {
  PlanFlatNames(kFields, directory, count, inputs, plan);
  for (Put& put : plan->puts) {
    if (put.refusal || put.replaces < 0) continue;
    const uint8_t* old = directory + uint64_t(put.replaces) * kEntrySize;
    put.entry.assign(old, old + kEntrySize);
    put.entry[kFlagsAt] = 0;
  }
}

// The table in front, the count at 0 commits.
const WriteRow kWriteRow = {
    COMMIT_FRONT_TABLE, TABLE_IN_FRONT, kTableAt, kTableAt,                  // style, table, header
    {{0, 2, WORD_ENTRY_COUNT}, {0, 0, WORD_ENTRY_COUNT}}, false,              // header words
    kFields,
    1, 256, 0xFFFF, false, DATA_AS_IS, nullptr,  // alignment, room, limit, keeps room, coding, transform
    "\0\0", {"stk", "itk"},
    "Can't allocate %ul bytes for %.12s - skiped\n", true, true,  // directory order kept; stored names
    Plan, nullptr,
};
}  // namespace

extern const Format kStk = {
    "STK", {{"stk", "itk"}, TAG_STK, {}, 0}, ReadHeader,// name, detection, header fields
    Decode, nullptr, nullptr,                     // decoding (or a walk), offsets
    "\nname\t\tsize\tseek\tflags\n"
    "-------------------------------------\n",
    PrintRow, nullptr, false, false,              // row, extraction, walks the archive, "~" alias
    &kWriteRow,                                   // d, a and m
};
