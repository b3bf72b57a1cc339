// The run state of one vrex invocation.
//
// The entry point fills an ArchiverState and passes it to what needs it:
// name selection, archive access, extraction, the format walks and the
// update engine read it; only the entry point and the name collection write
// it.
#ifndef VREX_CORE_STATE_H
#define VREX_CORE_STATE_H

#include <cstdint>

#include "common/tags.h"
#include "core/file.h"

enum {
  OP_LIST = 0,
  OP_ADD = 1,
  OP_EXTRACT = 2,
  OP_DELETE = 3,
  OP_C = 4,
  OP_R = 5,
};

// The patterns behind the archive name: upper-cased, in collection order.
// An empty list selects every member, unless `none` is set.
struct NameList {
  char** names = nullptr;
  int32_t count = 0;
  bool none = false;  // arguments were given but no pattern came of them: select nothing
};

struct ArchiverState {
  int32_t operation = OP_LIST;
  uint32_t testOnly = 0;
  uint32_t withFolders = 0;
  uint32_t moveFiles = 0;
  File* archive = nullptr;
  uint32_t formatTag = 0;
  NameList names;

  FileSystem* fs = nullptr;         // every file access goes through it
  uint64_t archiveSize = 0;         // length of the archive when it was opened
  FileId archiveId;                 // the archive on disk (a null id: not known)
  const char* archiveName = nullptr;  // as typed
  const char* outputFolder = nullptr; // e and x extract below it (null: the current folder)
  bool protectUpdates = true;       // keep a recovery record while an archive is rewritten
  bool allEntries = false;          // -all: every Doom WAD entry that is no marker is a member
  uint32_t archiveVariant = 0;      // the header reader's note of how the archive is written (Layout::variant)
};

#endif
