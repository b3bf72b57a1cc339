// POSIX side of the platform seam. flock stands in for the share mode that
// keeps other writers out: shared for reading runs, exclusive for deletion.
#ifndef _WIN32

#include "cli/platform.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
PlatformFaults* faults = nullptr;

// Counts one call of a kind and says whether the installed faults make it fail.
bool Hit(unsigned long* counter, unsigned long failAt) {
  if (!faults) return false;
  ++*counter;
  return failAt != 0 && *counter == failAt;
}

void StopIf(unsigned long count, unsigned long stopAt) {
  if (stopAt != 0 && count == stopAt) raise(SIGKILL);
}
}  // namespace

void PlatformSetFaults(PlatformFaults* f) {
  faults = f;
  if (faults) faults->reads = faults->writes = faults->syncs = faults->allocs = 0;
}

FILE* PlatformOpenShared(const char* name, int readWrite) {
  FILE* f = fopen(name, readWrite ? "r+b" : "rb");
  if (!f) return nullptr;
  if (flock(fileno(f), (readWrite ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
    int e = errno;
    fclose(f);
    errno = e;
    return nullptr;
  }
  return f;
}

FILE* PlatformOpen(const char* name, const char* mode) {
  // Text mode means nothing here; list files drop the CR themselves.
  char m[8];
  size_t n = 0;
  for (const char* p = mode; *p && n < sizeof m - 1; ++p)
    if (*p != 't') m[n++] = *p;
  m[n] = 0;
  return fopen(name, m);
}

int PlatformClose(FILE* f) { return fclose(f) == 0; }

int PlatformSeek(FILE* f, uint64_t offset) {
  if (offset > uint64_t(INT64_MAX)) { errno = EINVAL; return 0; }
  return fseeko(f, off_t(offset), SEEK_SET) == 0;
}

size_t PlatformRead(void* buf, size_t size, FILE* f) {
  if (faults && Hit(&faults->reads, faults->failRead)) { errno = EIO; return 0; }
  return fread(buf, 1, size, f);
}

size_t PlatformWrite(const void* buf, size_t size, FILE* f) {
  if (faults) {
    StopIf(faults->writes + 1, faults->stopAtWrite);
    if (Hit(&faults->writes, faults->failWrite)) { errno = ENOSPC; return 0; }
  }
  return fwrite(buf, 1, size, f);
}

int PlatformSetLength(FILE* f, uint64_t length) {
  if (fflush(f) != 0) return 0;
  return ftruncate(fileno(f), off_t(length)) == 0;
}

int PlatformSync(FILE* f) {
  if (faults) {
    StopIf(faults->syncs + 1, faults->stopAtSync);
    if (Hit(&faults->syncs, faults->failSync)) { errno = EIO; return 0; }
  }
  if (fflush(f) != 0) return 0;
  return fsync(fileno(f)) == 0;
}

uint64_t PlatformFileSize(FILE* f) {
  struct stat st;
  if (fstat(fileno(f), &st) != 0) return 0;
  return uint64_t(st.st_size);
}

int PlatformExists(const char* path) {
  struct stat st;
  return stat(path, &st) == 0;
}

int PlatformMakeFolder(const char* path) { return mkdir(path, 0777) == 0; }

int PlatformRemove(const char* path) { return remove(path) == 0; }

void* PlatformAlloc(size_t size) {
  if (faults) {
    if (Hit(&faults->allocs, faults->failAlloc)) return nullptr;
    if (faults->failAllocAbove != 0 && size > faults->failAllocAbove) return nullptr;
  }
  return malloc(size ? size : 1);
}

void* PlatformRealloc(void* p, size_t size) {
  if (faults) {
    if (Hit(&faults->allocs, faults->failAlloc)) return nullptr;
    if (faults->failAllocAbove != 0 && size > faults->failAllocAbove) return nullptr;
  }
  return realloc(p, size ? size : 1);
}

void PlatformFree(void* p) { free(p); }

const char* PlatformLastError() { return strerror(errno); }

#endif
