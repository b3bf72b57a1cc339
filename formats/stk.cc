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
#include <cstdio>

#include "core/bytes.h"
#include "core/format.h"

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
}  // namespace

extern const Format kStk = {
    "STK", {{"stk", "itk"}, TAG_STK, {}, 0}, ReadHeader,// name, detection, header fields
    Decode, nullptr, nullptr,                     // decoding (or a walk), offsets
    "\nname\t\tsize\tseek\tflags\n"
    "-------------------------------------\n",
    PrintRow, nullptr, false, false,              // row, extraction, walks the archive, "~" alias
    nullptr,                                      // d, a and m: read only
};
