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

#include "cli/access.h"
#include "cli/bytes.h"
#include "cli/select.h"
#include "cli/state.h"
#include "formats/formats.h"

namespace {
constexpr uint32_t kNameAt = 1;
constexpr uint32_t kNameWidth = 12;
constexpr uint32_t kSizeAt = 13;
constexpr uint32_t kOffsetAt = 17;
const char kRule[] = "------------";  // 12
}  // namespace

uint32_t CsidHandler(uint8_t* directory, uint32_t count) {
  if (count == 0) return 0;
  if (state.operation == OP_LIST) printf("\nname\t\tsize\t\tseek\n%s%s%s\n", kRule, kRule, kRule);

  uint32_t selected = 0;
  char nameCopy[kNameWidth + 1];
  char stored[kNameWidth + 1];
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* entry = directory + uint64_t(i) * CSID_ENTRY_SIZE;
    uint32_t size = ReadU32LE(entry + kSizeAt);
    uint32_t offset = ReadU32LE(entry + kOffsetAt);
    CopyNameField(nameCopy, entry + kNameAt, kNameWidth);
    if (!IsSelected(nameCopy)) continue;
    ++selected;
    switch (state.operation) {
      case OP_LIST:
        CopyNameField(stored, entry + kNameAt, kNameWidth);
        printf("%-12.12s\t%-7d\t%08X\n", stored, int32_t(size), offset);
        break;
      case OP_EXTRACT:
        ExtractMember(nameCopy, size, offset);
        break;
    }
  }
  return selected;
}
