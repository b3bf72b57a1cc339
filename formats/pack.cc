// Quake PACK archives.
//
//   offset  size  field
//   0       4     magic "PACK"
//   4       4     dirOffset  (u32 LE) file offset of the directory
//   8       4     dirLength  (u32 LE) directory bytes; entries = dirLength / 64
//
//   directory entry, 64 bytes:
//   0       56    name, "/" between folders, NUL-padded (no NUL when full)
//   56      4     offset (u32 LE) of the member's data
//   60      4     size   (u32 LE)
//
// Member data lies anywhere behind the header; the directory anywhere.
#include <cstdio>

#include "core/bytes.h"
#include "core/format.h"
#include "formats/compact.h"

namespace {
constexpr uint32_t kEntrySize = 64;
constexpr uint32_t kNameWidth = 56;
constexpr uint32_t kOffsetAt = 56;
constexpr uint32_t kSizeAt = 60;

void ReadHeader(const ArchiverState& run, Layout* layout) {
  layout->dirOffset = ReadHeaderField(run, 4);
  layout->dirSize = ReadHeaderField(run, 4);
  layout->entrySize = kEntrySize;
}

void Decode(const uint8_t* entry, Member* m) {
  NameMember(m, entry, kNameWidth);
  m->offset = ReadU32LE(entry + kOffsetAt);
  m->size = ReadU32LE(entry + kSizeAt);
}

// The stored name, padded to 56 columns, directly followed by the size.
void PrintRow(const Member& m) { printf("%-56.56s%-7d\t%08X\n", m.stored, int32_t(m.size), m.offset); }

const DeleteRow kDeleteRow = {
    kEntrySize, kOffsetAt, kSizeAt, 0, kNameWidth,  // entry layout, name in messages
    "Can't allocate %ul bytes for %.56s - skiped\n",
    false, false, true, 12,  // directory offset and length in the header; sorted; stored names
};
}  // namespace

extern const Format kPack = {
    "PACK", {{}, 0, {"PACK"}, 4}, ReadHeader,
    Decode, nullptr, nullptr,
    "\nname\t\t\t\t\t\t\tsize\tseek\n"
    "------------------------------------------------------------------------\n",
    PrintRow, nullptr, false, false, &kDeleteRow,
};
