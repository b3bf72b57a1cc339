// Archive access routines.
#include "core/access.h"

#include <cstdio>

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
