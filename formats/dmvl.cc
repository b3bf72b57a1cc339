// DMVL files: a directory without offsets, members back to back behind it.
//
//   offset  size  field
//   0       4     magic "DMVL"
//   4       4     entry count (u32 LE)
//   8       17*n  directory
//   8+17*n        member bytes, back to back in directory order
//
//   directory entry, 17 bytes:
//   0       13    name; the first 12 bytes are the name (NUL-padded,
//                 no NUL when 12 long); byte 12 is listed as flags
//   13      4     size (u32 LE)
//
// A member's offset is the end of the directory plus the sizes of all
// entries before it, selected or not (modulo 2^32).
//
// Writing rewrites the file, the entries in their order. Names are flat, up
// to 12 bytes; byte 12 of a new entry is 0, a replaced one keeps its own.
#include <cstdio>

#include "core/bytes.h"
#include "core/format.h"
#include "formats/update.h"

namespace {
constexpr uint32_t kHeaderSize = 8;
constexpr uint32_t kEntrySize = 17;
constexpr uint32_t kNameWidth = 12;
constexpr uint32_t kFlagsAt = 12;
constexpr uint32_t kSizeAt = 13;

void ReadHeader(const ArchiverState& run, Layout* layout) {
  layout->dirSize = ReadHeaderField(run, 4) * kEntrySize;
  layout->entrySize = kEntrySize;
}

uint32_t FirstData(uint32_t count) { return kHeaderSize + kEntrySize * count; }

void Decode(const uint8_t* entry, Member* m) {
  NameMember(m, entry, kNameWidth);
  m->size = ReadU32LE(entry + kSizeAt);
  m->flags = entry[kFlagsAt];
}

void PrintRow(const Member& m) {
  printf("%-12.12s\t%-7d\t%08X\t%02X\n", m.stored, int32_t(m.size), m.offset, m.flags);
}

const OffsetRule kBackToBack = {OffsetRule::BACK_TO_BACK, FirstData, 0};

// ---- writing

constexpr EntryFields kFields = {kEntrySize, NO_FIELD, kSizeAt, NO_FIELD, 0, kNameWidth, kNameWidth};

void Plan(const AddRequest&, const uint8_t* directory, uint32_t count, const std::vector<AddInput>& inputs,
          UpdatePlan* plan) {
  PlanFlatNames(kFields, directory, count, inputs, plan);
}

// Rewritten whole; the count at 4.
const WriteRow kWriteRow = {
    COMMIT_REWRITE, TABLE_IN_FRONT, kHeaderSize, kHeaderSize,                // style, table, header
    {{4, 4, WORD_ENTRY_COUNT}, {0, 0, WORD_ENTRY_COUNT}}, false,              // header words
    kFields,
    1, 0, 0, false, DATA_AS_IS, nullptr,  // alignment, room, limit, keeps room, coding, transform
    "DMVL\0\0\0\0", {"mvl", nullptr},
    "Can't allocate %ul bytes for %.12s - skiped\n", true, true,  // directory order kept; stored names
    Plan, nullptr,
};
}  // namespace

extern const Format kDmvl = {
    "DMVL", {{}, 0, {"DMVL"}, 4}, ReadHeader,     // name, detection, header fields
    Decode, nullptr, &kBackToBack,                // decoding (or a walk), offsets
    "\nname\t\tsize\t\tseek\t\tflags\n"
    "-----------------------------------------------------\n",
    PrintRow, nullptr, false, false,              // row, extraction, walks the archive, "~" alias
    &kWriteRow,                                   // d, a and m
};
