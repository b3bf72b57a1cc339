// Run state of the vrex archiver.
//
// One ArchiverState per process, zero at start. The entry point and the name
// collection write it; handlers and the access routines only read it. A
// FormatHandler gets the loaded directory block (writable) and its entry
// count, walks it in directory order and returns the number of selected
// members.
#ifndef VREX_CLI_STATE_H
#define VREX_CLI_STATE_H

#include <cstdint>
#include <cstdio>

enum {
  OP_LIST = 0,
  OP_ADD = 1,
  OP_EXTRACT = 2,
  OP_DELETE = 3,
  OP_C = 4,
  OP_R = 5,
};

// Format tags: the first four bytes of the file read as a little-endian
// integer, or a value set by detection.
enum : uint32_t {
  TAG_PACK = 0x4B434150,  // "PACK"
  TAG_IWAD = 0x44415749,  // "IWAD"
  TAG_PWAD = 0x44415750,  // "PWAD"
  TAG_WAD2 = 0x32444157,  // "WAD2"
  TAG_WAD3 = 0x33444157,  // "WAD3"
  TAG_LOD = 0x00444F4C,   // "LOD\0"
  TAG_STK = 0x004B5453,   // "STK\0", set from the extension stk or itk
  TAG_DMVL = 0x4C564D44,  // "DMVL"
  TAG_CSID = 0x64695343,  // "CSid"
  TAG_DATO = 0x4F544144,  // "DATO", set from the extension Dir
};

// Exit codes of vrex.
enum {
  EXIT_DONE = 0,
  EXIT_USAGE = 1,
  EXIT_NOT_OPENED = 2,
  EXIT_UNKNOWN_FORMAT = 3,
  EXIT_BROKEN = 5,
  EXIT_NO_DIRECTORY = 6,
  EXIT_COMPACT_FAILED = 7,   // a deletion was reported but the archive was left unchanged
  EXIT_RECOVERY_PENDING = 8, // an interrupted deletion must be finished by "vrex d" first
};

typedef uint32_t (*FormatHandler)(uint8_t* directory, uint32_t count);

struct ArchiverState {
  int32_t operation;
  uint32_t testOnly;
  uint32_t withFolders;
  uint32_t moveFiles;
  FILE* archive;
  uint32_t formatTag;
  FormatHandler handler;
  char** names;
  int32_t nameCount;

  // Bookkeeping of this implementation.
  uint64_t archiveSize;       // length of the archive when it was opened
  const char* archiveName;    // the archive's file name as typed
  int compactFailed;          // set by CompactArchive when the archive was not rewritten
};

extern ArchiverState state;

// Runs one vrex invocation and returns its exit code. Resets the state first,
// so tests and fuzz targets may call it repeatedly in one process.
int RunVrex(int argc, char** argv);

#endif
