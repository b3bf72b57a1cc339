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
#include <cstdio>

#include "core/bytes.h"
#include "core/format.h"

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
}  // namespace

extern const Format kCsid = {
    "CSid", {{}, 0, {"CSid"}, 4}, ReadHeader,     // name, detection, header fields
    Decode, nullptr, nullptr,                     // decoding (or a walk), offsets
    "\nname\t\tsize\t\tseek\n"
    "------------------------------------\n",
    PrintRow, nullptr, false, false,              // row, extraction, walks the archive, "~" alias
    nullptr,                                      // d, a and m: read only
};
