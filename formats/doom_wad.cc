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
// no length limit; the listing shows their first 17 characters. A lump whose
// own name holds a backslash (a sprite frame VILE\1) is also selected by a
// pattern that writes it as "~", the way the plug-in module shows it.
#include <cstdio>
#include <cstring>

#include "core/bytes.h"
#include "core/format.h"
#include "core/memory.h"
#include "formats/compact.h"

namespace {
constexpr uint32_t kEntrySize = 16;
constexpr uint32_t kOffsetAt = 0;
constexpr uint32_t kSizeAt = 4;
constexpr uint32_t kNameAt = 8;
constexpr uint32_t kNameWidth = 8;
constexpr uint32_t kLabelBelow = 100;   // entries smaller than this are labels
constexpr int32_t kMapCountdown = 11;   // a map marker's prefix is cleared on the 11th entry behind it
constexpr int32_t kInNamespace = -1;

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

void ReadHeader(const ArchiverState& run, Layout* layout) {
  uint32_t count = ReadHeaderField(run, 4);
  layout->dirOffset = ReadHeaderField(run, 4);
  layout->dirSize = count * kEntrySize;
  layout->entrySize = kEntrySize;
}

// Room for the longest full name of this directory and its NUL: every
// marker that can open or extend a prefix, then one lump name. At most 9
// bytes per 16-byte entry, so it fits in 32 bits.
uint32_t FullNameCapacity(const Directory& dir) {
  uint64_t capacity = kNameWidth + 1;
  for (uint32_t i = 0; i < dir.count; ++i) {
    const uint8_t* entry = dir.Entry(i);
    if (ReadU32LE(entry + kSizeAt) >= kLabelBelow) continue;
    MarkerKind kind = KindOf(entry + kNameAt);
    if (kind == MAP_MARKER || kind == NAMESPACE_START) capacity += NameLength(entry + kNameAt) + 1;
  }
  return uint32_t(capacity);
}

// The walk keeps the current prefix at the start of the full-name buffer
// (upper-cased once a pattern has been matched against it), so a member
// only writes its own name behind it.
WalkResult Walk(const Directory& dir, MemberVisitor& visitor) {
  uint32_t capacity = FullNameCapacity(dir);
  char* fullName = static_cast<char*>(Allocate(capacity));
  if (!fullName) {
    printf("Can't allocate %ul bytes\n", capacity);
    return WALK_ABORTED;
  }
  visitor.Begin();
  Member m;
  uint32_t prefixLength = 0;
  int32_t countdown = 1;
  for (uint32_t i = 0; i < dir.count; ++i) {
    const uint8_t* entry = dir.Entry(i);
    if (countdown == 1) {
      prefixLength = 0;
      countdown = 0;
    } else if (countdown > 1) {
      --countdown;
    }

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
    m.name = fullName;
    m.stored = fullName;
    m.ownAt = prefixLength;
    m.offset = ReadU32LE(entry + kOffsetAt);
    m.size = size;
    m.index = i;
    visitor.Visit(m);
  }
  Release(fullName);
  return WALK_DONE;
}

// The full name as selection left it (upper-cased when patterns were given).
void PrintRow(const Member& m) { printf("%-17.17s\t%-7d\t%08X\n", m.name, int32_t(m.size), m.offset); }

const DeleteRow kDeleteRow = {
    kEntrySize, kOffsetAt, kSizeAt, kNameAt, kNameWidth,  // entry layout, name in messages
    "Can't allocate %ul bytes for %.8s - skiped\n",
    true, true, false, 12,  // count and directory offset in the header; directory order kept
};
}  // namespace

extern const Format kDoomWad = {
    "Doom WAD", {{}, 0, {"IWAD", "PWAD"}, 4}, ReadHeader,
    nullptr, Walk, nullptr,
    "\nname\t\t\tsize\tseek\n"
    "----------------------------------------\n",
    PrintRow, nullptr, false, true, &kDeleteRow, nullptr, nullptr,
};
