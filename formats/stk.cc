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

#include "cli/access.h"
#include "cli/bytes.h"
#include "cli/select.h"
#include "cli/state.h"
#include "formats/formats.h"

namespace {
constexpr uint32_t kNameWidth = 12;
constexpr uint32_t kSizeAt = 13;
constexpr uint32_t kOffsetAt = 17;
constexpr uint32_t kFlagsAt = 21;
const char kRule[] = "------------";  // 12
}  // namespace

uint32_t StkHandler(uint8_t* directory, uint32_t count) {
  if (count == 0) return 0;
  if (state.operation == OP_LIST) printf("\nname\t\tsize\tseek\tflags\n%s%s%s-\n", kRule, kRule, kRule);

  uint32_t selected = 0;
  char nameCopy[kNameWidth + 1];
  char stored[kNameWidth + 1];
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* entry = directory + uint64_t(i) * STK_ENTRY_SIZE;
    uint32_t size = ReadU32LE(entry + kSizeAt);
    uint32_t offset = ReadU32LE(entry + kOffsetAt);
    unsigned flags = entry[kFlagsAt];
    CopyNameField(nameCopy, entry, kNameWidth);
    if (!IsSelected(nameCopy)) continue;
    ++selected;
    switch (state.operation) {
      case OP_LIST:
        CopyNameField(stored, entry, kNameWidth);
        printf("%-12.12s\t%-7d\t%08X %02X\n", stored, int32_t(size), offset, flags);
        break;
      case OP_EXTRACT:
        ExtractMember(nameCopy, size, offset);
        break;
    }
  }
  return selected;
}
