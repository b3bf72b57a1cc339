// LOD archives: stored or zlib-compressed members.
//
//   offset  size  field
//   0       4     magic "LOD\0"
//   4       4     a value nobody uses
//   8       4     entry count (u32 LE)
//   12      80    not read
//   92      32*n  directory
//
//   directory entry, 32 bytes:
//   0       16    name, NUL-padded (no NUL when full)
//   16      4     offset     (u32 LE) of the member's stored bytes
//   20      4     realSize   (u32 LE) size once extracted
//   24      4     flags      (u32 LE) only listed
//   28      4     packedSize (u32 LE) stored bytes of a zlib stream; 0 = stored as is
//
// A compressed member is one zlib stream that inflates to at most realSize
// bytes; it is written under its whole name in the current folder.
#include <cstdio>
#include <cstring>
#include <zlib.h>

#include "cli/access.h"
#include "cli/bytes.h"
#include "cli/platform.h"
#include "cli/select.h"
#include "cli/state.h"
#include "formats/formats.h"

namespace {
constexpr uint32_t kNameWidth = 16;
constexpr uint32_t kOffsetAt = 16;
constexpr uint32_t kRealSizeAt = 20;
constexpr uint32_t kFlagsAt = 24;
constexpr uint32_t kPackedSizeAt = 28;
const char kRule[] = "----------------";  // 16

// Deflate codes a run of 258 bytes in no less than two bits, so a zlib
// stream of n bytes inflates to at most 1032 * n bytes (plus a little for
// the first literal); a larger realSize can't be what the stream holds.
constexpr uint64_t kMaxInflateRatio = 1032;
constexpr uint64_t kInflateSlack = 1032;

bool RealSizePlausible(uint32_t packedSize, uint32_t realSize) {
  return realSize <= uint64_t(packedSize) * kMaxInflateRatio + kInflateSlack;
}

// Reads the stored bytes of a member into `packed`; 0 on a failed seek or a
// short block.
bool ReadPacked(uint8_t* packed, uint32_t packedSize, uint32_t offset) {
  if (PlatformSeek(state.archive, offset) && PlatformRead(packed, packedSize, state.archive) == packedSize)
    return true;
  clearerr(state.archive);
  return false;
}

// Inflates one zlib stream; *length is the room in `real` on entry and the
// inflated length on return. A stream that needs more room, or is corrupt
// or cut short, fails.
bool Inflate(uint8_t* real, uLongf* length, const uint8_t* packed, uint32_t packedSize) {
  return uncompress(real, length, packed, packedSize) == Z_OK;
}

// Extracts or tests one member. Stored members go through ExtractMember;
// compressed ones are read and inflated here, whole in memory.
void UnzipMember(char* name, uint32_t packedSize, uint32_t offset, uint32_t realSize) {
  if (packedSize == 0) {
    ExtractMember(name, realSize, offset);
    return;
  }
  printf(state.testOnly ? "Testing %s\n" : "Unzipping %s\n", name);

  char outputBlock[kNameWidth + 1];
  char* output = nullptr;
  if (!state.testOnly) {
    output = OutputName(name, 1, outputBlock);
    if (!IsSafeOutputPath(output)) {
      printf("Unsafe path %s - skipped\n", name);
      return;
    }
  }

  // Sizes come from the archive: nothing is allocated for stored bytes that
  // can't lie inside the file, nor for more output than they can inflate to.
  bool inside = uint64_t(offset) + packedSize <= state.archiveSize;
  bool plausible = RealSizePlausible(packedSize, realSize);
  uint8_t* packed = nullptr;
  uint8_t* real = nullptr;
  if (inside) {
    packed = static_cast<uint8_t*>(PlatformAlloc(packedSize));
    real = packed && plausible ? static_cast<uint8_t*>(PlatformAlloc(realSize)) : nullptr;
    if (!packed || (plausible && !real)) {
      printf("Can't allocate %ul bytes for %s - skiped\n", packedSize + realSize, name);
      PlatformFree(packed);
      return;
    }
  }

  FILE* file = nullptr;
  if (!state.testOnly) {
    file = PlatformOpen(output, "wb");
    if (!file) {
      printf("Can't open %s - skiped\n", name);
      PlatformFree(real);
      PlatformFree(packed);
      return;
    }
  }

  uLongf length = realSize;
  bool reported = true;
  if (!inside || !ReadPacked(packed, packedSize, offset)) {
    printf("\t--- read error ---\n");
  } else if (!plausible || !Inflate(real, &length, packed, packedSize)) {
    printf("\t--- uncompress error ---\n");
  } else if (file && length && PlatformWrite(real, length, file) != length) {
    printf("\t--- write error ---\n");
  } else {
    reported = false;
  }
  // Buffered bytes that can't be flushed at the close are a write error too.
  if (file && !PlatformClose(file) && !reported) printf("\t--- write error ---\n");
  PlatformFree(real);
  PlatformFree(packed);
}
}  // namespace

uint32_t LodHandler(uint8_t* directory, uint32_t count) {
  if (count == 0) return 0;
  if (state.operation == OP_LIST) printf("\nname\t\t\tsize\treal\tseek\tflags\n%s%s%s-\n", kRule, kRule, kRule);

  uint32_t selected = 0;
  char nameCopy[kNameWidth + 1];
  char stored[kNameWidth + 1];
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* entry = directory + uint64_t(i) * LOD_ENTRY_SIZE;
    uint32_t offset = ReadU32LE(entry + kOffsetAt);
    uint32_t realSize = ReadU32LE(entry + kRealSizeAt);
    uint32_t flags = ReadU32LE(entry + kFlagsAt);
    uint32_t packedSize = ReadU32LE(entry + kPackedSizeAt);
    CopyNameField(nameCopy, entry, kNameWidth);
    if (!IsSelected(nameCopy)) continue;
    ++selected;
    switch (state.operation) {
      case OP_LIST:
        CopyNameField(stored, entry, kNameWidth);
        printf("%-16.16s\t%-7d\t%-7d\t%08X %02X\n", stored, int32_t(packedSize), int32_t(realSize), offset,
               flags);
        break;
      case OP_EXTRACT:
        UnzipMember(nameCopy, packedSize, offset, realSize);
        break;
    }
  }
  return selected;
}
