// Quake and Half-Life WAD files, "WAD2" and "WAD3" alike.
//
//   offset  size  field
//   0       4     magic "WAD2" or "WAD3"
//   4       4     entryCount (u32 LE)
//   8       4     dirOffset  (u32 LE) file offset of the directory
//
//   directory entry, 32 bytes:
//   0       4     offset     (u32 LE) of the member's data
//   4       4     size       (u32 LE) bytes stored in the file
//   8       4     packedSize (u32 LE) listed only
//   12      4     flags      type, compression and two pad bytes; listed as one u32
//   16      16    name, NUL-padded (no NUL when full)
//
// Every entry is a member; member data is copied as stored, never decoded.
#include <cstdio>

#include "core/bytes.h"
#include "core/format.h"
#include "formats/compact.h"

namespace {
constexpr uint32_t kEntrySize = 32;
constexpr uint32_t kOffsetAt = 0;
constexpr uint32_t kSizeAt = 4;
constexpr uint32_t kPackedSizeAt = 8;
constexpr uint32_t kFlagsAt = 12;
constexpr uint32_t kNameAt = 16;
constexpr uint32_t kNameWidth = 16;

void ReadHeader(const ArchiverState& run, Layout* layout) {
  uint32_t count = ReadHeaderField(run, 4);
  layout->dirOffset = ReadHeaderField(run, 4);
  layout->dirSize = count * kEntrySize;
  layout->entrySize = kEntrySize;
}

void Decode(const uint8_t* entry, Member* m) {
  NameMember(m, entry + kNameAt, kNameWidth);
  m->offset = ReadU32LE(entry + kOffsetAt);
  m->size = ReadU32LE(entry + kSizeAt);
  m->packedSize = ReadU32LE(entry + kPackedSizeAt);
  m->flags = ReadU32LE(entry + kFlagsAt);
}

// The name as selection left it (upper-cased when patterns were given).
void PrintRow(const Member& m) {
  printf("%-17.17s\t%-7d\t%-7d\t%08X\t%08X\n", m.name, int32_t(m.size), int32_t(m.packedSize), m.flags,
         m.offset);
}

const DeleteRow kDeleteRow = {
    kEntrySize, kOffsetAt, kSizeAt, kNameAt, kNameWidth,  // entry layout, name in messages
    "Can't allocate %ul bytes for %.16s - skiped\n",
    true, false, false, 12,  // count and directory offset in the header; sorted
};
}  // namespace

extern const Format kQuakeWad = {
    "Quake WAD", {{}, 0, {"WAD3", "WAD2"}, 4}, ReadHeader,
    Decode, nullptr, nullptr,
    "\nname\t\t\tsize\tpacked\tflags\t\tseek\n"
    "----------------------------------------------------------------\n",
    PrintRow, nullptr, false, false, &kDeleteRow, nullptr, nullptr,
};
