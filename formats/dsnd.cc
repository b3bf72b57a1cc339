// Descent sound files ("DSND", extension S11 or S22).
//
//   offset  size  field
//   0       4     magic "DSND"
//   4       4     version (u32 LE), not used
//   8       4     count   (u32 LE)
//   12      20*n  directory
//   12+20*n       sound data
//
//   directory entry, 20 bytes:
//   0       8     name, NUL-padded (no NUL when 8 long)
//   8       4     length       (u32 LE) of the sound
//   12      4     storedLength (u32 LE) bytes stored; differs from length
//                 when the sound is compressed
//   16      4     offset (u32 LE) of the data, counted from the end of the
//                 directory
//
// Compressed sounds are listed but never extracted: vrex does not decode
// them, and a file holding the stored bytes would claim to be what it isn't.
// A sound whose data lie outside the file is reported and skipped.
#include <cstdio>

#include "core/bytes.h"
#include "core/extract.h"
#include "core/format.h"

namespace {
constexpr uint32_t kDirectoryOffset = 12;
constexpr uint32_t kEntrySize = 20;
constexpr uint32_t kNameWidth = 8;
constexpr uint32_t kLengthAt = 8;
constexpr uint32_t kStoredLengthAt = 12;
constexpr uint32_t kOffsetAt = 16;

void ReadHeader(const ArchiverState& run, Layout* layout) {
  ReadHeaderField(run, 4);  // version
  uint64_t bytes = uint64_t(ReadHeaderField(run, 4)) * kEntrySize;
  layout->dirOffset = kDirectoryOffset;
  layout->dirSize = bytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(bytes);  // too large to load either way
  layout->entrySize = kEntrySize;
}

uint32_t DataStart(uint32_t count) { return kDirectoryOffset + kEntrySize * count; }

void Decode(const uint8_t* entry, Member* m) {
  NameMember(m, entry, kNameWidth);
  m->size = ReadU32LE(entry + kLengthAt);
  m->packedSize = ReadU32LE(entry + kStoredLengthAt);
  m->offset = ReadU32LE(entry + kOffsetAt);
}

void PrintRow(const Member& m) { printf("%-8.8s\t%-7d\t%08X\n", m.stored, int32_t(m.size), m.offset); }

// A skipped sound is a member that was not extracted (or tested) whole.
bool ExtractSound(const ArchiverState& run, Member& m) {
  const char* skipped = m.packedSize != m.size                         ? "Compressed sound %s - skipped\n"
                        : uint64_t(m.offset) + m.size > run.archiveSize ? "Data past the end of the file %s - skipped\n"
                                                                        : nullptr;
  return skipped ? SkipMember(run, m, skipped) : ExtractStored(run, m);
}

const OffsetRule kFromDataStart = {OffsetRule::FROM_DATA_START, DataStart, 0};
}  // namespace

extern const Format kDsnd = {
    "DSND", {{}, 0, {"DSND"}, 4}, ReadHeader,     // name, detection, header fields
    Decode, nullptr, &kFromDataStart,             // decoding (or a walk), offsets
    "\nname\t\tsize\tseek\n"
    "--------------------------------\n",
    PrintRow, ExtractSound, false, false,         // row, extraction, walks the archive, "~" alias
    nullptr,                                      // d, a and m: read only
};
