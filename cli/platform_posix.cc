// POSIX side of the platform seam. flock stands in for the share mode that
// keeps other writers out: shared for reading runs, exclusive for deletion.
#ifndef _WIN32

#include "cli/platform_faults.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Simulated power cuts: while powerLoss faults are installed, every write
// and length change keeps the bytes it replaced until a sync of its file
// makes it durable, and every file created stays listed until a folder sync.
struct Undo {
  Undo* next;
  int fd;
  uint64_t oldLength;  // the file's length before the change
  uint64_t at;         // where the saved bytes go back
  size_t count;
  uint8_t* bytes;
};
struct Created {
  Created* next;
  char* path;
};
Undo* undoList = nullptr;  // newest first
Created* createdList = nullptr;

bool SimulatingPowerLoss() { return platformFaults && platformFaults->powerLoss; }

void SaveUndo(FILE* f, uint64_t at, uint64_t count) {
  fflush(f);
  int fd = fileno(f);
  struct stat st;
  if (fstat(fd, &st) != 0) return;
  uint64_t length = uint64_t(st.st_size);
  uint64_t kept = at < length ? (count < length - at ? count : length - at) : 0;
  Undo* u = static_cast<Undo*>(malloc(sizeof(Undo)));
  if (!u) return;
  u->bytes = static_cast<uint8_t*>(malloc(kept ? kept : 1));
  if (!u->bytes) { free(u); return; }
  u->fd = fd;
  u->oldLength = length;
  u->at = at;
  u->count = size_t(kept);
  if (kept && pread(fd, u->bytes, kept, off_t(at)) != ssize_t(kept)) u->count = 0;
  u->next = undoList;
  undoList = u;
}

// Forgets the changes of one descriptor (-1: all of them).
void DropUndo(int fd) {
  for (Undo** link = &undoList; *link;) {
    Undo* u = *link;
    if (fd != -1 && u->fd != fd) { link = &u->next; continue; }
    *link = u->next;
    free(u->bytes);
    free(u);
  }
}

void DropCreated(const char* path) {
  for (Created** link = &createdList; *link;) {
    Created* c = *link;
    if (path && strcmp(c->path, path) != 0) { link = &c->next; continue; }
    *link = c->next;
    free(c->path);
    free(c);
  }
}

// Puts back what a power cut would lose: newest change first.
void RollBack() {
  for (Undo* u = undoList; u; u = u->next) {
    if (ftruncate(u->fd, off_t(u->oldLength)) != 0) continue;
    if (u->count && pwrite(u->fd, u->bytes, u->count, off_t(u->at)) != ssize_t(u->count)) continue;
  }
  for (Created* c = createdList; c; c = c->next) unlink(c->path);
}

void StopIf(unsigned long count, unsigned long stopAt) {
  if (stopAt == 0 || count != stopAt) return;
  if (SimulatingPowerLoss()) RollBack();
  raise(SIGKILL);
}
// A sync of a file or a folder under the installed faults: it may stop the
// process, or fail.
bool SyncFails() {
  if (!platformFaults) return false;
  StopIf(platformFaults->syncs + 1, platformFaults->stopAtSync);
  return FaultHit(&platformFaults->syncs, platformFaults->failSync);
}
}  // namespace

void PlatformSetFaults(PlatformFaults* f) {
  DropUndo(-1);
  DropCreated(nullptr);
  platformFaults = f;
  if (!platformFaults) return;
  platformFaults->reads = platformFaults->writes = platformFaults->syncs = platformFaults->allocs = 0;
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
  bool creates = SimulatingPowerLoss() && mode[0] != 'r' && !PlatformExists(name);
  FILE* f = fopen(name, m);
  if (f && creates) {
    Created* c = static_cast<Created*>(malloc(sizeof(Created)));
    if (c && (c->path = strdup(name)) != nullptr) {
      c->next = createdList;
      createdList = c;
    } else {
      free(c);
    }
  }
  return f;
}

int PlatformClose(FILE* f) {
  // Changes that are not durable outlive the descriptor: keep a copy of it.
  int fd = fileno(f);
  int copy = -1;
  for (Undo* u = undoList; u; u = u->next)
    if (u->fd == fd) {
      if (copy == -1) copy = dup(fd);
      u->fd = copy;
    }
  return fclose(f) == 0;
}

int PlatformSeek(FILE* f, uint64_t offset) {
  if (offset > uint64_t(INT64_MAX)) { errno = EINVAL; return 0; }
  return fseeko(f, off_t(offset), SEEK_SET) == 0;
}

size_t PlatformRead(void* buf, size_t size, FILE* f) {
  if (platformFaults && FaultHit(&platformFaults->reads, platformFaults->failRead)) {
    errno = EIO;
    return 0;
  }
  return fread(buf, 1, size, f);
}

size_t PlatformWrite(const void* buf, size_t size, FILE* f) {
  if (platformFaults) {
    StopIf(platformFaults->writes + 1, platformFaults->stopAtWrite);
    if (FaultHit(&platformFaults->writes, platformFaults->failWrite)) { errno = ENOSPC; return 0; }
    if (platformFaults->powerLoss) {
      fflush(f);
      off_t at = ftello(f);
      if (at >= 0) SaveUndo(f, uint64_t(at), size);
    }
  }
  return fwrite(buf, 1, size, f);
}

int PlatformSetLength(FILE* f, uint64_t length) {
  if (fflush(f) != 0) return 0;
  if (SimulatingPowerLoss()) SaveUndo(f, length, UINT64_MAX - length);
  return ftruncate(fileno(f), off_t(length)) == 0;
}

int PlatformSync(FILE* f) {
  if (SyncFails()) { errno = EIO; return 0; }
  if (fflush(f) != 0) return 0;
  if (fsync(fileno(f)) != 0) return 0;
  if (SimulatingPowerLoss()) DropUndo(fileno(f));
  return 1;
}

int PlatformFlush(FILE* f) { return fflush(f) == 0; }

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

int PlatformRemove(const char* path) {
  if (SimulatingPowerLoss()) DropCreated(path);
  return remove(path) == 0;
}

int PlatformSyncFolder(const char* path) {
  if (SyncFails()) { errno = EIO; return 0; }
  const char* slash = strrchr(path, '/');
  char* folder = strdup(slash ? path : ".");
  if (!folder) return 0;
  if (slash) folder[slash == path ? 1 : slash - path] = 0;
  int fd = open(folder, O_RDONLY | O_DIRECTORY);
  free(folder);
  if (fd < 0) return 0;
  int synced = fsync(fd) == 0;
  close(fd);
  if (synced && SimulatingPowerLoss()) DropCreated(nullptr);
  return synced;
}

#endif
