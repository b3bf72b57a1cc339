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
// with the current record's name behind it, and the position after each open
// folder's record to come back to. It reads one record at a time through the
// archive's own position and ends with -1 on a file that nests more than 31
// folders, closes a folder it never opened, loops back into an open folder,
// makes a path too long for the buffer, or asks for more records than the
// file can hold (shared sub-folders).
#include <cstdio>

#include "cli/access.h"
#include "cli/bytes.h"
#include "cli/platform.h"
#include "cli/select.h"
#include "cli/state.h"
#include "formats/formats.h"

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
constexpr uint32_t kWalkFailed = 0xFFFFFFFF;
const char kRule[] = "------------------------------------------------------------------";  // 66

struct OpenFolder {
  long returnTo;      // archive position after the folder's record
  uint32_t nameAt;    // where the folder's name begins in the path
  uint32_t contents;  // offset of the folder's first record
};

struct Walk {
  char path[kPathSize];
  uint32_t tail;  // where the current record's name begins in the path
  uint32_t depth;
  OpenFolder open[kMaxDepth];
  uint64_t readsLeft;  // records the file can hold, plus the read that finds its end
};

// Reads the next record from the archive's current position: 1 read, 0 the
// read failed (ReadAt has reported it), -1 more records than the file holds.
int NextRecord(Walk* walk, uint8_t* record) {
  if (walk->readsLeft == 0) return -1;
  --walk->readsLeft;
  return ReadAt(record, 0, kRecordSize, state.archive);
}

// Puts the record's name behind the open folders, with a backslash for a
// folder; 0 when the path would not fit the buffer.
int SetName(Walk* walk, const uint8_t* record, bool folder) {
  char name[kNameWidth + 1];
  CopyNameField(name, record, kNameWidth);
  uint32_t length = 0;
  while (name[length]) ++length;
  if (walk->tail + length + (folder ? 1 : 0) + 1 > kPathSize) return 0;
  for (uint32_t i = 0; i <= length; ++i) walk->path[walk->tail + i] = name[i];
  if (folder) {
    walk->path[walk->tail + length] = '\\';
    walk->path[walk->tail + length + 1] = 0;
  }
  return 1;
}

// A folder record carries no data: it is reported like a member, and under
// x its folders are made (the path ends in the separator, so the last
// component is empty and no file is created).
void ExtractFolder(char* path) {
  printf(state.testOnly ? "Testing %s\n" : "Extracting %s\n", path);
  if (state.testOnly || !state.withFolders) return;
  if (!IsSafeOutputPath(path)) {
    printf("Unsafe path %s - skipped\n", path);
    return;
  }
  MakeFolders(path);
}

bool IsOpen(const Walk& walk, uint32_t contents) {
  for (uint32_t i = 0; i < walk.depth; ++i)
    if (walk.open[i].contents == contents) return true;
  return false;
}
}  // namespace

uint32_t DirHandler(uint8_t*, uint32_t) {
  Walk walk;
  walk.tail = 0;
  walk.depth = 0;
  walk.path[0] = 0;
  walk.readsLeft = state.archiveSize / kRecordSize + 1;
  uint32_t selected = 0;
  if (state.operation == OP_LIST) printf("\n%-48s %8s %8s\n%s\n", "name", "size", "seek", kRule);

  uint8_t record[kRecordSize];
  PlatformSeek(state.archive, 0);
  for (int got = NextRecord(&walk, record); got; got = NextRecord(&walk, record)) {
    if (got < 0) return kWalkFailed;
    uint32_t type = ReadU32LE(record + kTypeAt);
    int32_t size = int32_t(ReadU32LE(record + kSizeAt));
    uint32_t offset = ReadU32LE(record + kOffsetAt);

    if (type == kEndRecord) {
      if (walk.depth == 0) return kWalkFailed;
      if (walk.depth == 1) return selected;
      const OpenFolder& folder = walk.open[--walk.depth];
      walk.tail = folder.nameAt;
      walk.path[walk.tail] = 0;
      PlatformSeek(state.archive, uint64_t(folder.returnTo));
      continue;
    }

    bool isFolder = type == kFolderRecord;
    if (!SetName(&walk, record, isFolder)) return kWalkFailed;
    if (isFolder) {
      if (walk.depth == kMaxDepth || IsOpen(walk, offset)) return kWalkFailed;
      long here = ftell(state.archive);
      if (here < 0) return selected;
      walk.open[walk.depth++] = {here, walk.tail, offset};
      PlatformSeek(state.archive, offset);
      while (walk.path[walk.tail]) ++walk.tail;
    }

    if (!IsSelected(walk.path)) continue;
    ++selected;
    switch (state.operation) {
      case OP_LIST:
        printf("%-48s %8d %08X\n", walk.path, size, offset);
        break;
      case OP_EXTRACT: {
        if (isFolder) {
          ExtractFolder(walk.path);
          break;
        }
        long here = ftell(state.archive);
        ExtractMember(walk.path, uint32_t(size), offset);
        if (here >= 0) PlatformSeek(state.archive, uint64_t(here));
        break;
      }
    }
  }
  return selected;
}
