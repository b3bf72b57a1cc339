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
// entries before it, selected or not.
#include <cstdio>

#include "cli/access.h"
#include "cli/bytes.h"
#include "cli/select.h"
#include "cli/state.h"
#include "formats/formats.h"

namespace {
constexpr uint32_t kHeaderSize = 8;
constexpr uint32_t kNameWidth = 12;
constexpr uint32_t kFlagsAt = 12;
constexpr uint32_t kSizeAt = 13;
const char kRule[] = "------------";  // 12
}  // namespace

uint32_t DmvlHandler(uint8_t* directory, uint32_t count) {
  if (count == 0) return 0;
  uint32_t next = kHeaderSize + DMVL_ENTRY_SIZE * count;  // modulo 2^32, as every later step
  if (state.operation == OP_LIST)
    printf("\nname\t\tsize\t\tseek\t\tflags\n%s%s%s%s-----\n", kRule, kRule, kRule, kRule);

  uint32_t selected = 0;
  char nameCopy[kNameWidth + 1];
  char stored[kNameWidth + 1];
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* entry = directory + uint64_t(i) * DMVL_ENTRY_SIZE;
    uint32_t size = ReadU32LE(entry + kSizeAt);
    uint32_t offset = next;
    next += size;
    unsigned flags = entry[kFlagsAt];
    CopyNameField(nameCopy, entry, kNameWidth);
    if (!IsSelected(nameCopy)) continue;
    ++selected;
    switch (state.operation) {
      case OP_LIST:
        CopyNameField(stored, entry, kNameWidth);
        printf("%-12.12s\t%-7d\t%08X\t%02X\n", stored, int32_t(size), offset, flags);
        break;
      case OP_EXTRACT:
        ExtractMember(nameCopy, size, offset);
        break;
    }
  }
  return selected;
}
