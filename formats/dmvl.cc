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
#include <cstdio>

#include "core/bytes.h"
#include "core/format.h"

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
}  // namespace

extern const Format kDmvl = {
    "DMVL", {{}, 0, {"DMVL"}, 4}, ReadHeader,     // name, detection, header fields
    Decode, nullptr, &kBackToBack,                // decoding (or a walk), offsets
    "\nname\t\tsize\t\tseek\t\tflags\n"
    "-----------------------------------------------------\n",
    PrintRow, nullptr, false, false,              // row, extraction, walks the archive, "~" alias
    nullptr,                                      // d, a and m: read only
};
