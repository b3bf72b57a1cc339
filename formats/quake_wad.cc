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
#include <cstring>

#include "cli/access.h"
#include "cli/bytes.h"
#include "cli/platform.h"
#include "cli/select.h"
#include "cli/state.h"
#include "formats/compact.h"
#include "formats/formats.h"

namespace {
constexpr uint32_t kOffsetAt = 0;
constexpr uint32_t kSizeAt = 4;
constexpr uint32_t kPackedSizeAt = 8;
constexpr uint32_t kFlagsAt = 12;
constexpr uint32_t kNameAt = 16;
constexpr uint32_t kNameWidth = 16;
const char kRule[] = "----------------";  // 16
}  // namespace

const CompactFormat COMPACT_QUAKE_WAD = {
    QUAKE_WAD_ENTRY_SIZE, kOffsetAt, kSizeAt, kNameAt,
    "Can't allocate %ul bytes for %.16s - skiped\n", 1, 0};

uint32_t QuakeWadHandler(uint8_t* directory, uint32_t count) {
  uint8_t* remove = nullptr;
  if (state.operation == OP_DELETE && !StartDeletion(count, &remove)) return 0;
  if (state.operation == OP_LIST && count)
    printf("\nname\t\t\tsize\tpacked\tflags\t\tseek\n%s%s%s%s\n", kRule, kRule, kRule, kRule);

  uint32_t selected = 0;
  char nameCopy[kNameWidth + 1];
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* entry = directory + uint64_t(i) * QUAKE_WAD_ENTRY_SIZE;
    uint32_t offset = ReadU32LE(entry + kOffsetAt);
    uint32_t size = ReadU32LE(entry + kSizeAt);
    CopyNameField(nameCopy, entry + kNameAt, kNameWidth);
    if (!IsSelected(nameCopy)) continue;
    ++selected;
    switch (state.operation) {
      case OP_LIST:
        printf("%-17.17s\t%-7d\t%-7d\t%08X\t%08X\n", nameCopy, int32_t(size),
               int32_t(ReadU32LE(entry + kPackedSizeAt)), ReadU32LE(entry + kFlagsAt), offset);
        break;
      case OP_EXTRACT:
        ExtractMember(nameCopy, size, offset);
        break;
      case OP_DELETE:
        printf("Deleting %s\n", nameCopy);
        remove[i] = 1;
        break;
    }
  }

  if (state.operation == OP_DELETE) FinishDeletion(directory, count, remove, &COMPACT_QUAKE_WAD);
  return selected;
}
