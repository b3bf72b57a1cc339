// Archive access routines, folder creation and member extraction.
#include "core/access.h"

#include <cstdio>
#include <cstring>

#include "core/memory.h"

const char* const END_OF_FILE_REASON = "unexpected end of file";

void ReportAccessError(const char* text, const char* reason) { fprintf(stderr, "%s: %s\n", text, reason); }

std::unique_ptr<File> OpenArchiveFile(FileSystem& fs, const char* fileName, int readWrite) {
  std::unique_ptr<File> file = fs.Open(fileName, readWrite ? OPEN_UPDATE : OPEN_READ, true);
  if (!file) ReportAccessError("\topen failed", fs.Error());
  return file;
}

int CloseArchiveFile(File& file) {
  file.Seek(0);
  if (file.Close()) return 1;
  ReportAccessError("\tclose failed", file.Error());
  return 0;
}

namespace {
int Transfer(File& file, bool seek, uint64_t at, void* readInto, const void* writeFrom, size_t size) {
  if (seek && !file.Seek(at)) {
    ReportAccessError("\tseek failed", file.Error());
    return 0;
  }
  if (size == 0) return 1;
  size_t done = readInto ? file.Read(readInto, size) : file.Write(writeFrom, size);
  if (done == size) return 1;
  ReportAccessError(readInto ? "\tread failed" : "\twrite failed", file.Error());
  return 0;
}
}  // namespace

int ReadAt(void* buffer, uint32_t offset, uint32_t size, File& file) {
  return Transfer(file, offset != 0, offset, buffer, nullptr, size);
}

int WriteAt(const void* buffer, uint32_t offset, uint32_t size, File& file) {
  return Transfer(file, offset != 0, offset, nullptr, buffer, size);
}

int ReadFar(File& file, uint64_t at, void* buffer, size_t size) {
  return Transfer(file, true, at, buffer, nullptr, size);
}

int WriteFar(File& file, uint64_t at, const void* buffer, size_t size) {
  return Transfer(file, true, at, nullptr, buffer, size);
}

int FlushFile(File& file) {
  if (file.Flush()) return 1;
  ReportAccessError("\twrite failed", file.Error());
  return 0;
}

int SyncFile(File& file) {
  if (file.Sync()) return 1;
  ReportAccessError("\twrite failed", file.Error());
  return 0;
}

char FolderSeparator(uint32_t formatTag) { return formatTag == TAG_PACK ? '/' : '\\'; }

int IsSafeOutputPath(const char* path) {
  if (path[0] == '/' || path[0] == '\\') return 0;
  char first = path[0];
  bool letter = (first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z');
  if (letter && path[1] == ':') return 0;
  const char* component = path;
  for (const char* p = path;; ++p) {
    if (*p == '/' || *p == '\\' || *p == 0) {
      if (p - component == 2 && component[0] == '.' && component[1] == '.') return 0;
      if (*p == 0) return 1;
      component = p + 1;
    }
  }
}

namespace {
// Part of a member name behind its last folder separator.
char* LastComponent(char separator, char* name) {
  char* cut = strrchr(name, separator);
  return cut ? cut + 1 : name;
}
}  // namespace

char* OutputName(uint32_t formatTag, const char* name, int withFolders, char* out) {
  char separator = FolderSeparator(formatTag);
  strcpy(out, name);
  char* result = withFolders ? out : LastComponent(separator, out);
  if (separator != PLATFORM_SEPARATOR)
    for (char* p = result; *p; ++p)
      if (*p == separator) *p = PLATFORM_SEPARATOR;
  return result;
}

void MakeFolders(const ArchiverState& run, char* path) {
  char separator = FolderSeparator(run.formatTag);
  for (char* cut = strchr(path, separator); cut; cut = strchr(cut + 1, separator)) {
    *cut = 0;
    char* folder = static_cast<char*>(Allocate(strlen(path) + 1));
    bool made = true;
    if (folder) {
      OutputName(run.formatTag, path, 1, folder);
      if (!run.fs->Exists(folder)) made = run.fs->MakeFolder(folder);
      Release(folder);
    }
    *cut = separator;
    if (!folder || !made) {
      printf("\t--- folder error --- \n");
      return;
    }
  }
}

void ExtractFolder(const ArchiverState& run, char* path) {
  printf(run.testOnly ? "Testing %s\n" : "Extracting %s\n", path);
  if (run.testOnly || !run.withFolders) return;
  if (!IsSafeOutputPath(path)) {
    printf("Unsafe path %s - skipped\n", path);
    return;
  }
  MakeFolders(run, path);
}

bool RefuseTheArchive(const ArchiverState& run, const char* output, const char* name) {
  FileStat stat;
  if (run.archiveId == FileId() || !run.fs->Stat(output, &stat) || !(stat.id == run.archiveId)) return false;
  printf("The archive itself %s - skipped\n", name);
  return true;
}

void ExtractMember(const ArchiverState& run, char* name, uint32_t size, uint32_t offset) {
  printf(run.testOnly ? "Testing %s\n" : "Extracting %s\n", name);

  size_t length = strlen(name);
  char* outputBlock = nullptr;
  char* output = nullptr;
  const char* shownOutput = run.withFolders ? name : LastComponent(FolderSeparator(run.formatTag), name);
  if (!run.testOnly) {
    outputBlock = static_cast<char*>(Allocate(length + 1));
    if (!outputBlock) {
      printf("Can't allocate %ul bytes for %s - skiped\n", unsigned(length + 1), name);
      return;
    }
    output = OutputName(run.formatTag, name, run.withFolders, outputBlock);
    if (!IsSafeOutputPath(output)) {
      printf("Unsafe path %s - skipped\n", name);
      Release(outputBlock);
      return;
    }
  }

  // Sizes come from the archive: nothing is allocated for a member that
  // can't lie inside the file.
  bool inside = uint64_t(offset) + size <= run.archiveSize;
  uint8_t* buffer = nullptr;
  if (inside && size) {
    buffer = static_cast<uint8_t*>(Allocate(size));
    if (!buffer) {
      printf("Can't allocate %ul bytes for %s - skiped\n", size, name);
      Release(outputBlock);
      return;
    }
  }

  std::unique_ptr<File> file;
  if (!run.testOnly) {
    if (run.withFolders) MakeFolders(run, name);
    if (RefuseTheArchive(run, output, name)) {
      Release(buffer);
      Release(outputBlock);
      return;
    }
    file = run.fs->Open(output, OPEN_CREATE, false);
    if (!file) {
      printf("Can't open %s - skiped\n", shownOutput);
      Release(buffer);
      Release(outputBlock);
      return;
    }
  }

  File& archive = *run.archive;
  bool read = inside && (size == 0 || (archive.Seek(offset) && archive.Read(buffer, size) == size));
  bool written = true;
  if (!read) {
    printf("\t--- read error ---\n");
  } else if (file && size && file->Write(buffer, size) != size) {
    written = false;
    printf("\t--- write error ---\n");
  }
  // Buffered bytes that can't be flushed at the close are a write error too.
  if (file && !file->Close() && read && written) printf("\t--- write error ---\n");
  Release(buffer);
  Release(outputBlock);
}
