// The vrex entry point: operation letter, format detection, header fields,
// directory load, the driver, summary and exit code.
#include "cli/run.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "cli/add.h"
#include "cli/driver.h"
#include "core/access.h"
#include "core/bytes.h"
#include "core/extract.h"
#include "core/file.h"
#include "core/memory.h"
#include "core/select.h"
#include "formats/recovery.h"
#include "formats/registry.h"
#include "vrex_version.h"

namespace {
const char kBanner[] = "Vrex archiver v" VREX_VERSION_SHORT "\tresource archives of classic games\n";
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

// Decodes the operation argument into the run state; 0 for an unknown letter.
int DecodeOperation(const char* argument, ArchiverState* run) {
  char letter = LowerAscii(argument[0]);
  char second = letter ? LowerAscii(argument[1]) : 0;
  switch (letter) {
    case 'l': run->operation = OP_LIST; return 1;
    case 'm': run->moveFiles = 1; [[fallthrough]];
    case 'a':
      run->operation = OP_ADD;
      run->withFolders = second == 'f' ? 0 : 1;
      return 1;
    case 'e': run->operation = OP_EXTRACT; return 1;
    case 'x': run->operation = OP_EXTRACT; run->withFolders = 1; return 1;
    case 't': run->operation = OP_EXTRACT; run->testOnly = 1; run->withFolders = 1; return 1;
    case 'd': run->operation = OP_DELETE; return 1;
    case 'c': run->operation = OP_C; return 1;
    case 'r': run->operation = OP_R; return 1;
  }
  return 0;
}

// Whether the file passes the format's own check, if it has one; the
// archive is then positioned at `resume`.
bool Fits(const ArchiverState& run, const Format& format, uint64_t resume) {
  if (!format.detection.fits) return true;
  bool fits = format.detection.fits(run);
  run.archive->Seek(resume);
  return fits;
}

// Detection by the name's extension, else by the first four bytes (a short
// read is compared as it came, the missing bytes zero); either way the
// format's own check, where it has one.
const Format* Detect(ArchiverState* run) {
  const Format* format = FormatByExtension(run->archiveName);
  if (format && Fits(*run, *format, 0)) {
    run->formatTag = format->detection.tag;
    return format;
  }
  uint8_t magic[4] = {0, 0, 0, 0};
  ReadAt(magic, 0, 4, *run->archive);
  run->formatTag = ReadU32LE(magic);
  format = FormatByMagic(ReadU32LE(magic), &run->formatTag);
  return format && Fits(*run, *format, 4) ? format : nullptr;
}

// Loads the directory block. Returns null (after reporting) when it can't.
uint8_t* LoadDirectory(const ArchiverState& run, const Layout& layout) {
  uint64_t start = layout.dirOffset;
  if (start == 0 && !run.archive->Tell(&start)) start = 0;
  if (start + layout.dirSize > run.archiveSize) {
    ReportAccessError("\tread failed", END_OF_FILE_REASON);
    return nullptr;
  }
  uint8_t* block = static_cast<uint8_t*>(Allocate(layout.dirSize));
  if (!block) {
    printf("Can't allocate %ul bytes\n", layout.dirSize);
    return nullptr;
  }
  if (!ReadAt(block, layout.dirOffset, layout.dirSize, *run.archive)) {
    Release(block);
    return nullptr;
  }
  return block;
}

void PrintSearching(uint32_t formatTag, uint32_t count) {
  char tag[5];
  WriteU32LE(reinterpret_cast<uint8_t*>(tag), formatTag);
  tag[4] = 0;
  printf("Searching %4.4s (%d files)\n", tag, int32_t(count));
}

void PrintSummary(uint32_t selected) {
  if (selected != 0)
    printf("\n%lu matches found\n", static_cast<unsigned long>(selected));
  else
    printf("\n(no matches found)\n");
}

int Finish(int exitCode) {
  fflush(stdout);
  return exitCode;
}

// With the archive open: a pending recovery finished (or the run ends with
// 8), the archive's length and identity noted, its format detected.
// Returns 0, or the exit code of a run that ends here.
int RecoverAndDetect(ArchiverState* run, File* archive, bool writable, const Format** format) {
  run->archive = archive;
  if (RecoverInterruptedJob(*run->fs, *archive, run->archiveName, writable) < 0) {
    archive->Close();
    return EXIT_RECOVERY_PENDING;
  }
  if (!archive->Size(&run->archiveSize)) run->archiveSize = 0;
  FileStat stat;
  if (run->fs->Stat(run->archiveName, &stat)) run->archiveId = stat.id;
  *format = Detect(run);
  if (*format) return 0;
  printf("Unknown format\n");
  CloseArchiveFile(*archive);
  return EXIT_UNKNOWN_FORMAT;
}

// Reads the header fields and loads the directory, printing the
// "Searching" line. Returns 0, or the exit code of a run that ends here (the
// archive closed). An empty directory is a broken archive unless the run adds
// to it.
int LoadArchive(ArchiverState& run, const Format& format, bool emptyIsFine, Layout* layout, uint8_t** directory,
                uint32_t* count) {
  format.readHeader(run, layout);
  if (layout->dirSize == 0 && !layout->unreadable && !emptyIsFine) {
    Release(layout->loaded);
    CloseArchiveFile(*run.archive);
    printf("\t%s: brocken archive\n", run.archiveName);
    return EXIT_BROKEN;
  }
  *count = layout->dirSize / layout->entrySize;
  run.archiveVariant = layout->variant;
  PrintSearching(run.formatTag, *count);
  if (layout->unreadable) {
    Release(layout->loaded);
    CloseArchiveFile(*run.archive);
    return EXIT_NO_DIRECTORY;
  }
  if (layout->dirSize == 0) return 0;
  *directory = layout->loaded ? layout->loaded : LoadDirectory(run, *layout);
  if (*directory) return 0;
  CloseArchiveFile(*run.archive);
  return EXIT_NO_DIRECTORY;
}

// The last creation option among the names (-wad2, -wad3, -iwad, ...)
// decides the format and magic of a missing archive, or null.
const CreationOption* LastCreationOption(int argc, char** argv) {
  const CreationOption* found = nullptr;
  for (int i = 0; i < argc; ++i) {
    if (IsOutputOption(argv[i]) && ++i == argc) break;  // its value is no option
    if (const CreationOption* named = CreationOptionNamed(argv[i])) found = named;
  }
  return found;
}

// The run options behind the archive name (ASCII case ignored): -all.
void ReadRunOptions(int argc, char** argv, ArchiverState* run) {
  for (int i = 0; i < argc; ++i) {
    if (IsOutputOption(argv[i]) && ++i == argc) break;  // its value is no option
    std::string option = argv[i];
    for (char& c : option) c = LowerAscii(c);
    if (option == "-all") run->allEntries = true;
  }
}

// a, af, m and mf. A missing archive is made when its extension names a
// format vrex can write; an existing one is opened for writing, or, where its
// format can't be written, for reading, to answer "Not yet" as the other
// formats do.
int RunAddOperation(ArchiverState& run, int argc, char** argv) {
  FileSystem& fs = *run.fs;
  if (!fs.Exists(run.archiveName)) {
    const Format* format = FormatForNewArchive(run.archiveName);
    const CreationOption* option = LastCreationOption(argc - 3, argv + 3);
    if (option) format = option->format;
    if (!format) {
      OpenArchiveFile(fs, run.archiveName, 0);  // reports why it can't be opened
      printf("\t%s: no such archive; vrex makes new archives named %s\n", run.archiveName,
             NewArchiveChoices().c_str());
      return EXIT_NOT_OPENED;
    }
    const char* magic = option ? option->magic : nullptr;
    run.formatTag = magic ? ReadU32LE(reinterpret_cast<const uint8_t*>(magic)) : NewArchiveTag(*format);
    printf("Creating %s\n", run.archiveName);
    return RunAdd(run, *format, nullptr, 0, argc - 3, argv + 3, magic);
  }

  std::unique_ptr<File> archive = fs.Open(run.archiveName, OPEN_UPDATE, true);
  std::string writeError = archive ? "" : fs.Error();
  if (!archive) archive = OpenArchiveFile(fs, run.archiveName, 0);
  if (!archive) return EXIT_NOT_OPENED;
  const Format* format = nullptr;
  if (int code = RecoverAndDetect(&run, archive.get(), writeError.empty(), &format)) return code;
  bool adds = format->writing != nullptr;
  if (adds && !writeError.empty()) {
    ReportAccessError("\topen failed", writeError.c_str());
    CloseArchiveFile(*archive);
    return EXIT_NOT_OPENED;
  }

  Layout layout;
  uint8_t* directory = nullptr;
  uint32_t count = 0xFFFFFFFF;
  if (!format->walksArchive) {
    if (int code = LoadArchive(run, *format, adds, &layout, &directory, &count)) return code;
  }
  int code = EXIT_DONE;
  if (adds) {
    code = RunAdd(run, *format, directory, count, argc - 3, argv + 3, nullptr);
    CloseArchiveFile(*archive);
  } else {
    CollectNames(fs, &run.names, argc - 3, argv + 3);
    printf("Not yet\n");
    ReleaseNames(&run.names, argv + 3, argc - 3);
    archive->Close();
  }
  Release(directory);
  return code;
}
}  // namespace

int RunVrex(int argc, char** argv, FileSystem& fs, bool protectUpdates) {
  ArchiverState run;
  run.fs = &fs;
  run.protectUpdates = protectUpdates;
  printf("%s", kBanner);
  if (argc == 2 && strcmp(argv[1], "--version") == 0) return Finish(EXIT_DONE);
  if (argc == 2 && strcmp(argv[1], "--help") == 0) {
    PrintUsage(argv[0]);
    return Finish(EXIT_DONE);
  }
  if (argc < 3) {
    PrintUsage(argc > 0 ? argv[0] : nullptr);
    return Finish(EXIT_USAGE);
  }
  if (!DecodeOperation(argv[1], &run)) {
    PrintUsage(argv[0]);
    return Finish(EXIT_USAGE);
  }

  run.archiveName = argv[2];
  ReadRunOptions(argc - 3, argv + 3, &run);
  const char* outputFolder = nullptr;
  if (!OutputFolderOption(argc - 3, argv + 3, &outputFolder)) {
    PrintUsage(argv[0]);
    return Finish(EXIT_USAGE);
  }
  if (run.operation == OP_ADD) return Finish(RunAddOperation(run, argc, argv));
  if (run.operation == OP_EXTRACT && !run.testOnly) run.outputFolder = outputFolder;
  std::unique_ptr<File> archive = OpenArchiveFile(fs, run.archiveName, run.operation == OP_DELETE);
  if (!archive) return Finish(EXIT_NOT_OPENED);
  const Format* format = nullptr;
  if (int code = RecoverAndDetect(&run, archive.get(), run.operation == OP_DELETE, &format)) return Finish(code);

  Layout layout;
  uint8_t* directory = nullptr;
  uint32_t count = 0xFFFFFFFF;
  bool open = true;
  if (!format->walksArchive) {
    if (int code = LoadArchive(run, *format, false, &layout, &directory, &count)) return Finish(code);
    if (run.operation == OP_LIST) {
      CloseArchiveFile(*archive);
      open = false;
    }
  }

  CollectNames(fs, &run.names, argc - 3, argv + 3);
  int op = run.operation;
  // Arguments that give no pattern never make d delete every member.
  run.names.none = op == OP_DELETE && argc > 3 && run.names.count == 0;

  int code = EXIT_DONE;
  if (run.outputFolder && !MakeOutputFolder(fs, run.outputFolder)) {
    printf("Can't make folder %s\n", run.outputFolder);
    code = EXIT_NOT_OPENED;
  } else if (op == OP_LIST || op == OP_EXTRACT || op == OP_DELETE) {
    DriverResult result = RunFormat(run, *format, layout, directory, count);
    PrintSummary(result.selected);
    if (result.failed) code = EXIT_UPDATE_FAILED;
    if (result.incomplete) code = EXIT_INCOMPLETE;
  } else {
    printf("Not yet\n");
  }

  if (open) {
    if (format->walksArchive || op == OP_EXTRACT || op == OP_DELETE)
      CloseArchiveFile(*archive);
    else
      archive->Close();  // left open by the letters that do nothing yet
  }
  Release(directory);
  ReleaseNames(&run.names, argv + 3, argc - 3);
  return Finish(code);
}
