// The vrex entry point: operation letter, format detection, header fields,
// directory load, handler dispatch, summary and exit code.
#include <cstring>

#include "cli/access.h"
#include "cli/bytes.h"
#include "cli/platform.h"
#include "cli/select.h"
#include "cli/state.h"
#include "formats/compact.h"
#include "formats/formats.h"


namespace {
const char kBanner[] = "Vrex archiver v1.1\tresource archives of classic games\n";
const char kUsage[] =
    "Usage: %s <operation> <filename> [File1 File2 File3..... | @FileList]\n\n"
    "Where operation is:\n\n"
    "\tl - List file(s)\n"
    "\te - Extract file(s)\n"
    "\tx - Extract file(s) with folders\n"
    "\td - Delete file(s) from archive\n"
    "\tt - Test file(s)\n"
    "\ta[f] - Add file(s) and folder(s) [file(s) only] to archive\n"
    "\tm[f] - Move file(s) and folder(s) [file(s) only] to archive\n";

constexpr uint32_t kLodDirectoryOffset = 92;

// Where the directory lies: offset 0 means "behind the header fields".
struct Layout {
  uint32_t dirOffset;
  uint32_t dirSize;
  uint32_t entrySize;
};

void PrintUsage(const char* programPath) {
  const char* shown = programPath ? programPath : "";
  for (const char* p = shown; *p; ++p) {
#ifdef _WIN32
    if (*p == '\\') shown = p + 1;
#else
    if (*p == '\\' || *p == '/') shown = p + 1;
#endif
  }
  printf(kUsage, shown);
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

int SameTextIgnoringCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b)
    if (LowerAscii(*a) != LowerAscii(*b)) return 0;
  return *a == *b;
}

// Decodes the operation argument into the state; 0 for an unknown letter.
int DecodeOperation(const char* argument) {
  char letter = LowerAscii(argument[0]);
  char second = letter ? LowerAscii(argument[1]) : 0;
  switch (letter) {
    case 'l': state.operation = OP_LIST; return 1;
    case 'm': state.moveFiles = 1; [[fallthrough]];
    case 'a':
      state.operation = OP_ADD;
      state.withFolders = second == 'f' ? 0 : 1;
      return 1;
    case 'e': state.operation = OP_EXTRACT; return 1;
    case 'x': state.operation = OP_EXTRACT; state.withFolders = 1; return 1;
    case 't': state.operation = OP_EXTRACT; state.testOnly = 1; state.withFolders = 1; return 1;
    case 'd': state.operation = OP_DELETE; return 1;
    case 'c': state.operation = OP_C; return 1;
    case 'r': state.operation = OP_R; return 1;
  }
  return 0;
}

// Reads a header field of 2 or 4 bytes from the current position. A field
// that can't be read whole counts as 0.
uint32_t ReadHeaderField(uint32_t width) {
  uint8_t bytes[4] = {0, 0, 0, 0};
  if (!ReadAt(bytes, 0, width, state.archive)) return 0;
  return ReadU32LE(bytes);
}

// Detection by the extension of the name as typed: STK/ITK and Dir files.
// Returns 1 when the extension decided the format.
int DetectByExtension(const char* fileName, Layout* layout) {
  const char* dot = strrchr(fileName, '.');
  if (!dot) return 0;
  const char* extension = dot + 1;
  if (SameTextIgnoringCase(extension, "stk") || SameTextIgnoringCase(extension, "itk")) {
    state.formatTag = TAG_STK;
    state.handler = StkHandler;
    uint32_t count = ReadHeaderField(2);
    *layout = {0, count * STK_ENTRY_SIZE, STK_ENTRY_SIZE};
    return 1;
  }
  if (SameTextIgnoringCase(extension, "dir")) {
    state.formatTag = TAG_DATO;
    state.handler = DirHandler;
    return 1;
  }
  return 0;
}

// Detection by the first four bytes, then the header fields of the format.
// Returns 0 for an unknown format.
int DetectByContent(Layout* layout) {
  uint8_t magic[4] = {0, 0, 0, 0};
  ReadAt(magic, 0, 4, state.archive);  // a short magic is compared as it came
  state.formatTag = ReadU32LE(magic);
  uint32_t count;
  switch (state.formatTag) {
    case TAG_CSID:
      state.handler = CsidHandler;
      count = ReadHeaderField(2);
      *layout = {0, count * CSID_ENTRY_SIZE, CSID_ENTRY_SIZE};
      return 1;
    case TAG_DMVL:
      state.handler = DmvlHandler;
      count = ReadHeaderField(4);
      *layout = {0, count * DMVL_ENTRY_SIZE, DMVL_ENTRY_SIZE};
      return 1;
    case TAG_PACK: {
      state.handler = PackHandler;
      uint32_t dirOffset = ReadHeaderField(4);
      uint32_t dirLength = ReadHeaderField(4);
      *layout = {dirOffset, dirLength, PACK_ENTRY_SIZE};
      return 1;
    }
    case TAG_LOD:
      state.handler = LodHandler;
      ReadHeaderField(4);  // a value nobody uses
      count = ReadHeaderField(4);
      *layout = {kLodDirectoryOffset, count * LOD_ENTRY_SIZE, LOD_ENTRY_SIZE};
      return 1;
    case TAG_IWAD:
    case TAG_PWAD:
    case TAG_WAD3:
    case TAG_WAD2: {
      bool doom = state.formatTag == TAG_IWAD || state.formatTag == TAG_PWAD;
      state.handler = doom ? DoomWadHandler : QuakeWadHandler;
      uint32_t entrySize = doom ? DOOM_WAD_ENTRY_SIZE : QUAKE_WAD_ENTRY_SIZE;
      count = ReadHeaderField(4);
      uint32_t dirOffset = ReadHeaderField(4);
      *layout = {dirOffset, count * entrySize, entrySize};
      return 1;
    }
  }
  return 0;
}


// Loads the directory block. Returns null (after reporting) when it can't.
uint8_t* LoadDirectory(const Layout& layout) {
  uint64_t start = layout.dirOffset;
  if (start == 0) {
    long here = ftell(state.archive);
    start = here < 0 ? 0 : uint64_t(here);
  }
  if (start + layout.dirSize > state.archiveSize) {
    ReportAccessError("\tread failed", END_OF_FILE_REASON);
    return nullptr;
  }
  uint8_t* block = static_cast<uint8_t*>(PlatformAlloc(layout.dirSize));
  if (!block) {
    printf("Can't allocate %ul bytes\n", layout.dirSize);
    return nullptr;
  }
  if (!ReadAt(block, layout.dirOffset, layout.dirSize, state.archive)) {
    PlatformFree(block);
    return nullptr;
  }
  return block;
}

int Finish(int exitCode) {
  fflush(stdout);
  return exitCode;
}
}  // namespace

int RunVrex(int argc, char** argv) {
  state = ArchiverState();
  printf("%s", kBanner);
  if (argc < 3) {
    PrintUsage(argc > 0 ? argv[0] : nullptr);
    return Finish(EXIT_USAGE);
  }
  if (!DecodeOperation(argv[1])) {
    PrintUsage(argv[0]);
    return Finish(EXIT_USAGE);
  }

  const char* archiveName = argv[2];
  state.archiveName = archiveName;
  state.archive = OpenArchiveFile(archiveName, state.operation == OP_DELETE);
  if (!state.archive) return Finish(EXIT_NOT_OPENED);
  if (RecoverInterruptedCompaction(state.archive, archiveName, state.operation == OP_DELETE) < 0) {
    PlatformClose(state.archive);
    return Finish(EXIT_RECOVERY_PENDING);
  }
  state.archiveSize = PlatformFileSize(state.archive);

  Layout layout = {0, 0, 1};
  if (!DetectByExtension(archiveName, &layout) && !DetectByContent(&layout)) {
    printf("Unknown format\n");
    CloseArchiveFile(state.archive);
    return Finish(EXIT_UNKNOWN_FORMAT);
  }

  uint8_t* directory = nullptr;
  uint32_t count = 0xFFFFFFFF;
  bool open = true;
  if (state.formatTag != TAG_DATO) {
    if (layout.dirSize == 0) {
      CloseArchiveFile(state.archive);
      printf("\t%s: brocken archive\n", archiveName);
      return Finish(EXIT_BROKEN);
    }
    count = layout.dirSize / layout.entrySize;
    char tag[5];
    WriteU32LE(reinterpret_cast<uint8_t*>(tag), state.formatTag);
    tag[4] = 0;
    printf("Searching %4.4s (%d files)\n", tag, int32_t(count));
    directory = LoadDirectory(layout);
    if (!directory) {
      CloseArchiveFile(state.archive);
      return Finish(EXIT_NO_DIRECTORY);
    }
    if (state.operation == OP_LIST) {
      CloseArchiveFile(state.archive);
      open = false;
    }
  }

  CollectNames(argc - 3, argv + 3);

  int op = state.operation;
  if (op == OP_LIST || op == OP_EXTRACT || op == OP_DELETE) {
    uint32_t selected = state.handler(directory, count);
    if (selected != 0)
      printf("\n%lu matches found\n", static_cast<unsigned long>(selected));
    else
      printf("\n(no matches found)\n");
  } else {
    printf("Not yet\n");
  }

  if (open) {
    if (state.formatTag == TAG_DATO || op == OP_EXTRACT || op == OP_DELETE)
      CloseArchiveFile(state.archive);
    else
      PlatformClose(state.archive);  // left open by the letters that do nothing yet
  }
  PlatformFree(directory);
  ReleaseNames(argv + 3, argc - 3);
  return Finish(state.compactFailed ? EXIT_COMPACT_FAILED : EXIT_DONE);
}
