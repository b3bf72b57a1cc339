// Doom WAD files, "IWAD" and "PWAD" alike.
//
//   offset  size  field
//   0       4     magic "IWAD" or "PWAD"
//   4       4     entryCount (u32 LE)
//   8       4     dirOffset  (u32 LE) file offset of the directory
//
//   directory entry, 16 bytes; the order of the entries is significant:
//   0       4     offset (u32 LE) of the lump's data
//   4       4     size   (u32 LE)
//   8       8     name, NUL-padded (no NUL when full)
//
// An entry of fewer than 100 bytes is a label and never a member. Some
// labels are markers that group the entries behind them into folders:
//   map marker       "MAP..." or "E?M..."  the next 10 entries, whatever they are
//   namespace start  "?_START..."          every entry up to the namespace end
//   namespace end    "?_END..."            the group closes after this entry
// A member inside a group is named after its markers, each followed by a
// backslash (MAP01\THINGS, S_START\TROOA1); a marker met inside a group
// extends the prefix, which is only ever cleared as a whole. Full names have
// no length limit; the listing shows their first 17 characters.
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
constexpr uint32_t kNameAt = 8;
constexpr uint32_t kNameWidth = 8;
constexpr uint32_t kLabelBelow = 100;   // entries smaller than this are labels
constexpr int32_t kMapCountdown = 11;   // a map marker's prefix is cleared on the 11th entry behind it
constexpr int32_t kInNamespace = -1;
const char kRule[] = "----------------";  // 16

enum MarkerKind { NO_MARKER, MAP_MARKER, NAMESPACE_START, NAMESPACE_END };

// Classifies a label by its name field; the first test that holds decides.
MarkerKind KindOf(const uint8_t* name) {
  if (name[0] == 'M' && name[1] == 'A' && name[2] == 'P') return MAP_MARKER;
  if (name[0] == 'E' && name[2] == 'M') return MAP_MARKER;
  if (memcmp(name + 1, "_START", 6) == 0) return NAMESPACE_START;
  if (memcmp(name + 1, "_END", 4) == 0) return NAMESPACE_END;
  return NO_MARKER;
}

uint32_t NameLength(const uint8_t* name) {
  uint32_t length = 0;
  while (length < kNameWidth && name[length]) ++length;
  return length;
}

// Room for the longest full name of this directory and its NUL: every
// marker that can open or extend a prefix, then one lump name.
uint64_t FullNameCapacity(const uint8_t* directory, uint32_t count) {
  uint64_t capacity = kNameWidth + 1;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* entry = directory + uint64_t(i) * DOOM_WAD_ENTRY_SIZE;
    if (ReadU32LE(entry + kSizeAt) >= kLabelBelow) continue;
    MarkerKind kind = KindOf(entry + kNameAt);
    if (kind == MAP_MARKER || kind == NAMESPACE_START) capacity += NameLength(entry + kNameAt) + 1;
  }
  return capacity;
}

// Selection of a member whose full name is in `fullName`. The lump's own
// name (behind the prefix) may hold backslashes; such a lump is also
// selected by a pattern that writes them as "~", the way the plug-in module
// shows them. The name keeps its backslashes either way.
int SelectMember(char* fullName, char* own, uint32_t nameLength) {
  if (IsSelected(fullName)) return 1;
  bool swapped[kNameWidth] = {};
  bool any = false;
  for (uint32_t k = 0; k < nameLength; ++k) {
    if (own[k] != '\\') continue;
    own[k] = '~';
    swapped[k] = any = true;
  }
  if (!any) return 0;
  int selected = IsSelected(fullName);
  for (uint32_t k = 0; k < nameLength; ++k)
    if (swapped[k]) own[k] = '\\';
  return selected;
}
}  // namespace

const CompactFormat COMPACT_DOOM_WAD = {
    DOOM_WAD_ENTRY_SIZE, kOffsetAt, kSizeAt, kNameAt,
    "Can't allocate %ul bytes for %.8s - skiped\n", 1, 1};

uint32_t DoomWadHandler(uint8_t* directory, uint32_t count) {
  // At most 9 bytes per 16-byte entry: the capacity fits in 32 bits.
  uint32_t capacity = uint32_t(FullNameCapacity(directory, count));
  char* fullName = static_cast<char*>(PlatformAlloc(capacity));
  if (!fullName) {
    printf("Can't allocate %ul bytes\n", capacity);
    if (state.operation == OP_DELETE) state.compactFailed = 1;  // the archive stays as it was
    return 0;
  }
  uint8_t* remove = nullptr;
  if (state.operation == OP_DELETE && !StartDeletion(count, &remove)) {
    PlatformFree(fullName);
    return 0;
  }
  if (state.operation == OP_LIST && count) printf("\nname\t\t\tsize\tseek\n%s%s%.8s\n", kRule, kRule, kRule);

  // fullName always starts with the current prefix (upper-cased once a
  // pattern has been matched against it), so a member only writes its own
  // name behind it.
  uint32_t selected = 0;
  uint32_t prefixLength = 0;
  int32_t countdown = 1;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* entry = directory + uint64_t(i) * DOOM_WAD_ENTRY_SIZE;
    if (countdown == 1) {
      prefixLength = 0;
      countdown = 0;
    } else if (countdown > 1) {
      --countdown;
    }

    uint32_t offset = ReadU32LE(entry + kOffsetAt);
    uint32_t size = ReadU32LE(entry + kSizeAt);
    const uint8_t* name = entry + kNameAt;
    uint32_t nameLength = NameLength(name);
    if (size < kLabelBelow) {
      MarkerKind kind = KindOf(name);
      if (kind == NAMESPACE_END) countdown = 1;
      if (kind != MAP_MARKER && kind != NAMESPACE_START) continue;
      countdown = kind == MAP_MARKER ? kMapCountdown : kInNamespace;
      memcpy(fullName + prefixLength, name, nameLength);
      prefixLength += nameLength;
      fullName[prefixLength++] = '\\';
      continue;
    }

    memcpy(fullName + prefixLength, name, nameLength);
    fullName[prefixLength + nameLength] = 0;
    if (!SelectMember(fullName, fullName + prefixLength, nameLength)) continue;
    ++selected;
    switch (state.operation) {
      case OP_LIST:
        printf("%-17.17s\t%-7d\t%08X\n", fullName, int32_t(size), offset);
        break;
      case OP_EXTRACT:
        ExtractMember(fullName, size, offset);
        break;
      case OP_DELETE:
        printf("Deleting %s\n", fullName);
        remove[i] = 1;
        break;
    }
  }
  PlatformFree(fullName);

  if (state.operation == OP_DELETE) FinishDeletion(directory, count, remove, &COMPACT_DOOM_WAD);
  return selected;
}
