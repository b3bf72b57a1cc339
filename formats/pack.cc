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
#include <cstring>

#include "cli/access.h"
#include "cli/bytes.h"
#include "cli/platform.h"
#include "cli/select.h"
#include "cli/state.h"
#include "formats/compact.h"
#include "formats/formats.h"

namespace {
constexpr uint32_t kNameWidth = 56;
constexpr uint32_t kOffsetAt = 56;
constexpr uint32_t kSizeAt = 60;
const char kRule[] = "--------------------------------------------------------";  // 56
}  // namespace

const CompactFormat COMPACT_PACK = {
    PACK_ENTRY_SIZE, kOffsetAt, kSizeAt, 0,
    "Can't allocate %ul bytes for %.56s - skiped\n", 0, 0};

uint32_t PackHandler(uint8_t* directory, uint32_t count) {
  uint32_t selected = 0;
  uint8_t* remove = nullptr;
  if (state.operation == OP_DELETE && !StartDeletion(count, &remove)) return 0;
  if (state.operation == OP_LIST && count) printf("\nname\t\t\t\t\t\t\tsize\tseek\n%s%.16s\n", kRule, kRule);

  char nameCopy[kNameWidth + 1];
  char stored[kNameWidth + 1];
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* entry = directory + uint64_t(i) * PACK_ENTRY_SIZE;
    uint32_t offset = ReadU32LE(entry + kOffsetAt);
    uint32_t size = ReadU32LE(entry + kSizeAt);
    CopyNameField(nameCopy, entry, kNameWidth);
    if (!IsSelected(nameCopy)) continue;
    ++selected;
    CopyNameField(stored, entry, kNameWidth);
    switch (state.operation) {
      case OP_LIST:
        printf("%-56.56s%-7d\t%08X\n", stored, int32_t(size), offset);
        break;
      case OP_EXTRACT:
        ExtractMember(nameCopy, size, offset);
        break;
      case OP_DELETE:
        printf("Deleting %.56s\n", stored);
        remove[i] = 1;
        break;
    }
  }

  if (state.operation == OP_DELETE) FinishDeletion(directory, count, remove, &COMPACT_PACK);
  return selected;
}
