// Archive access routines, folder creation and member extraction.
#include "cli/access.h"

#include <cstring>

#include "cli/platform.h"
#include "cli/state.h"

const char* const END_OF_FILE_REASON = "unexpected end of file";

void ReportAccessError(const char* text, const char* reason) {
  fprintf(stderr, "%s: %s\n", text, reason);
}

FILE* OpenArchiveFile(const char* fileName, int readWrite) {
  FILE* stream = PlatformOpenShared(fileName, readWrite);
  if (!stream) ReportAccessError("\topen failed", PlatformLastError());
  return stream;
}

int CloseArchiveFile(FILE* stream) {
  PlatformSeek(stream, 0);
  if (PlatformClose(stream)) return 1;
  ReportAccessError("\tclose failed", PlatformLastError());
  return 0;
}

int ReadAt(void* buffer, uint32_t offset, uint32_t size, FILE* stream) {
  if (offset != 0 && !PlatformSeek(stream, offset)) {
    ReportAccessError("\tseek failed", PlatformLastError());
    return 0;
  }
  if (size == 0) return 1;
  if (PlatformRead(buffer, size, stream) == size) return 1;
  ReportAccessError("\tread failed", ferror(stream) ? PlatformLastError() : END_OF_FILE_REASON);
  clearerr(stream);
  return 0;
}

int WriteAt(const void* buffer, uint32_t offset, uint32_t size, FILE* stream) {
  if (offset != 0 && !PlatformSeek(stream, offset)) {
    ReportAccessError("\tseek failed", PlatformLastError());
    return 0;
  }
  if (size == 0) return 1;
  if (PlatformWrite(buffer, size, stream) == size) return 1;
  ReportAccessError("\twrite failed", PlatformLastError());
  clearerr(stream);
  return 0;
}

char FolderSeparator() { return state.formatTag == TAG_PACK ? '/' : '\\'; }

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

// Part of a member name behind its last folder separator.
static char* LastComponent(char* name) {
  char* cut = strrchr(name, FolderSeparator());
  return cut ? cut + 1 : name;
}

char* OutputName(const char* name, int withFolders, char* out) {
  strcpy(out, name);
  char* result = withFolders ? out : LastComponent(out);
  if (FolderSeparator() != PLATFORM_SEPARATOR)
    for (char* p = result; *p; ++p)
      if (*p == FolderSeparator()) *p = char(PLATFORM_SEPARATOR);
  return result;
}

void MakeFolders(char* path) {
  char separator = FolderSeparator();
  for (char* cut = strchr(path, separator); cut; cut = strchr(cut + 1, separator)) {
    *cut = 0;
    char* folder = static_cast<char*>(PlatformAlloc(strlen(path) + 1));
    int made = 1;
    if (folder) {
      OutputName(path, 1, folder);
      if (!PlatformExists(folder)) made = PlatformMakeFolder(folder);
      PlatformFree(folder);
    }
    *cut = separator;
    if (!folder || !made) {
      printf("\t--- folder error --- \n");
      return;
    }
  }
}

void ExtractMember(char* name, uint32_t size, uint32_t offset) {
  printf(state.testOnly ? "Testing %s\n" : "Extracting %s\n", name);

  size_t length = strlen(name);
  char* outputBlock = nullptr;
  char* output = nullptr;
  const char* storedOutput = state.withFolders ? name : LastComponent(name);
  if (!state.testOnly) {
    outputBlock = static_cast<char*>(PlatformAlloc(length + 1));
    if (!outputBlock) {
      printf("Can't allocate %ul bytes for %s - skiped\n", unsigned(length + 1), name);
      return;
    }
    output = OutputName(name, state.withFolders, outputBlock);
    if (!IsSafeOutputPath(output)) {
      printf("Unsafe path %s - skipped\n", name);
      PlatformFree(outputBlock);
      return;
    }
  }

  // Sizes come from the archive: nothing is allocated for a member that
  // can't lie inside the file.
  bool inside = uint64_t(offset) + size <= state.archiveSize;
  uint8_t* buffer = nullptr;
  if (inside && size) {
    buffer = static_cast<uint8_t*>(PlatformAlloc(size));
    if (!buffer) {
      printf("Can't allocate %ul bytes for %s - skiped\n", size, name);
      PlatformFree(outputBlock);
      return;
    }
  }

  FILE* file = nullptr;
  if (!state.testOnly) {
    if (state.withFolders) MakeFolders(name);
    file = PlatformOpen(output, "wb");
    if (!file) {
      printf("Can't open %s - skiped\n", storedOutput);
      PlatformFree(buffer);
      PlatformFree(outputBlock);
      return;
    }
  }

  bool read = inside && (size == 0 || (PlatformSeek(state.archive, offset) &&
                                       PlatformRead(buffer, size, state.archive) == size));
  bool written = true;
  if (!read) {
    clearerr(state.archive);
    printf("\t--- read error ---\n");
  } else if (file && size && PlatformWrite(buffer, size, file) != size) {
    written = false;
    printf("\t--- write error ---\n");
  }
  // Buffered bytes that can't be flushed at the close are a write error too.
  if (file && !PlatformClose(file) && read && written) printf("\t--- write error ---\n");
  PlatformFree(buffer);
  PlatformFree(outputBlock);
}
