// Directory files (extension Dir): a tree of records walked from the file.
//
//   record, 44 bytes:
//   0       32    name, NUL-terminated (all 32 bytes when it holds no NUL)
//   32      4     recordType (u32 LE): 0xCDCDCD01 folder, 0xCDCDCDFF end,
//                 anything else a file
//   36      4     size   (i32 LE) of a file's bytes; only listed for folders
//   40      4     offset (u32 LE) of a file's bytes, or of a folder's first
//                 record
//
// The root folder record lies at offset 0. A folder's records lie back to
// back from its offset and close with an end record; the root's end record
// ends the walk. Member bytes lie anywhere in the file.
//
// The walk keeps the path of the open folders ("A\B\") in a 256-byte buffer
// with the current record's name behind it (twice: the copy selection
// upper-cases, and the stored spelling the files are named after), and the
// position after each open folder's record to come back to. It reads one record at a time and ends
// broken on a file that nests more than 31 folders, closes a folder it never
// opened, loops back into an open folder, makes a path too long for the
// buffer, or asks for more records than the file can hold (shared
// sub-folders). A record that can't be read ends the walk with the members
// visited so far.
#include <cstdio>

#include "core/access.h"
#include "core/bytes.h"
#include "core/format.h"

namespace {
constexpr uint32_t kRecordSize = 44;
constexpr uint32_t kNameWidth = 32;
constexpr uint32_t kTypeAt = 32;
constexpr uint32_t kSizeAt = 36;
constexpr uint32_t kOffsetAt = 40;
constexpr uint32_t kFolderRecord = 0xCDCDCD01;
constexpr uint32_t kEndRecord = 0xCDCDCDFF;
constexpr uint32_t kPathSize = 256;
constexpr uint32_t kMaxDepth = 31;

struct OpenFolder {
  uint64_t returnTo;  // position after the folder's record
  uint32_t nameAt;    // where the folder's name begins in the path
  uint32_t contents;  // offset of the folder's first record
};

struct Walker {
  File* archive;
  char path[kPathSize];    // the copy selection upper-cases
  char stored[kPathSize];  // the same path in the stored spelling
  uint32_t tail;  // where the current record's name begins in the path
  uint32_t depth;
  OpenFolder open[kMaxDepth];
  uint64_t next;       // position of the next record
  uint64_t readsLeft;  // records the file can hold, plus the read that finds its end
};

// Reads the record at the walk's position: 1 read, 0 the read failed
// (reported), -1 more records than the file holds.
int NextRecord(Walker* walk, uint8_t* record) {
  if (walk->readsLeft == 0) return -1;
  --walk->readsLeft;
  if (!ReadFar(*walk->archive, walk->next, record, kRecordSize)) return 0;
  walk->next += kRecordSize;
  return 1;
}

// Puts the record's name behind the open folders, with a backslash for a
// folder; 0 when the path would not fit the buffer.
int SetName(Walker* walk, const uint8_t* record, bool folder) {
  char name[kNameWidth + 1];
  CopyNameField(name, record, kNameWidth);
  uint32_t length = 0;
  while (name[length]) ++length;
  if (walk->tail + length + (folder ? 1 : 0) + 1 > kPathSize) return 0;
  for (char* path : {walk->path, walk->stored}) {
    for (uint32_t i = 0; i <= length; ++i) path[walk->tail + i] = name[i];
    if (folder) {
      path[walk->tail + length] = '\\';
      path[walk->tail + length + 1] = 0;
    }
  }
  return 1;
}

bool IsOpen(const Walker& walk, uint32_t contents) {
  for (uint32_t i = 0; i < walk.depth; ++i)
    if (walk.open[i].contents == contents) return true;
  return false;
}

WalkResult Walk(const Directory& dir, MemberVisitor& visitor) {
  Walker walk;
  walk.archive = dir.run->archive;
  walk.tail = 0;
  walk.depth = 0;
  walk.path[0] = 0;
  walk.stored[0] = 0;
  walk.next = 0;
  walk.readsLeft = dir.run->archiveSize / kRecordSize + 1;
  visitor.Begin();

  Member m;
  uint8_t record[kRecordSize];
  for (int got = NextRecord(&walk, record); got; got = NextRecord(&walk, record)) {
    if (got < 0) return WALK_BROKEN;
    uint32_t type = ReadU32LE(record + kTypeAt);
    uint32_t offset = ReadU32LE(record + kOffsetAt);

    if (type == kEndRecord) {
      if (walk.depth == 0) return WALK_BROKEN;
      if (walk.depth == 1) return WALK_DONE;
      const OpenFolder& folder = walk.open[--walk.depth];
      walk.tail = folder.nameAt;
      walk.path[walk.tail] = 0;
      walk.stored[walk.tail] = 0;
      walk.next = folder.returnTo;
      continue;
    }

    bool isFolder = type == kFolderRecord;
    if (!SetName(&walk, record, isFolder)) return WALK_BROKEN;
    if (isFolder) {
      if (walk.depth == kMaxDepth || IsOpen(walk, offset)) return WALK_BROKEN;
      walk.open[walk.depth++] = {walk.next, walk.tail, offset};
      walk.next = offset;
      while (walk.path[walk.tail]) ++walk.tail;
    }
    m.name = walk.path;
    m.stored = walk.stored;
    m.size = ReadU32LE(record + kSizeAt);
    m.offset = offset;
    m.folder = isFolder;
    visitor.Visit(m);
  }
  return WALK_DONE;
}

// The path as selection left it (upper-cased when patterns were given).
void PrintRow(const Member& m) { printf("%-48s %8d %08X\n", m.name, int32_t(m.size), m.offset); }
}  // namespace

extern const Format kDir = {
    "Dir", {{"dir"}, TAG_DATO, {}, 0}, nullptr,   // name, detection, header fields
    nullptr, Walk, nullptr,                       // decoding (or a walk), offsets
    "\nname                                                 size     seek\n"
    "------------------------------------------------------------------\n",
    PrintRow, nullptr, true, false,               // row, extraction, walks the archive, "~" alias
    nullptr,                                      // d, a and m: read only
};
