// Windows side of the platform seam: the C runtime's share-mode open
// (_SH_DENYWR, 0x20: others may read the archive, nobody may write it while
// it is open, and the open fails while another program holds it for
// writing), _chsize_s, _mkdir and _commit. List files are opened "rt", so
// the runtime turns CRLF into LF.
#ifdef _WIN32

#include "cli/platform_faults.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <direct.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

static_assert(_SH_DENYWR == 0x20, "deny-write share flag");

namespace {

void StopIf(unsigned long count, unsigned long stopAt) {
  if (stopAt != 0 && count == stopAt) TerminateProcess(GetCurrentProcess(), 137);
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
  platformFaults = f;
  if (!platformFaults) return;
  platformFaults->reads = platformFaults->writes = platformFaults->syncs = platformFaults->allocs = 0;
}

FILE* PlatformOpenShared(const char* name, int readWrite) {
  return _fsopen(name, readWrite ? "r+b" : "rb", _SH_DENYWR);
}

FILE* PlatformOpen(const char* name, const char* mode) { return fopen(name, mode); }

int PlatformClose(FILE* f) { return fclose(f) == 0; }

int PlatformSeek(FILE* f, uint64_t offset) {
  if (offset > 0x7FFFFFFFFFFFFFFFull) { errno = EINVAL; return 0; }
  return _fseeki64(f, (__int64)offset, SEEK_SET) == 0;
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
  }
  return fwrite(buf, 1, size, f);
}

int PlatformSetLength(FILE* f, uint64_t length) {
  if (fflush(f) != 0) return 0;
  return _chsize_s(_fileno(f), (__int64)length) == 0;
}

int PlatformSync(FILE* f) {
  if (SyncFails()) { errno = EIO; return 0; }
  if (fflush(f) != 0) return 0;
  return _commit(_fileno(f)) == 0;
}

int PlatformFlush(FILE* f) { return fflush(f) == 0; }

uint64_t PlatformFileSize(FILE* f) {
  struct _stat64 st;
  if (_fstat64(_fileno(f), &st) != 0) return 0;
  return (uint64_t)st.st_size;
}

int PlatformExists(const char* path) {
  struct _stat64 st;
  return _stat64(path, &st) == 0;
}

int PlatformMakeFolder(const char* path) { return _mkdir(path) == 0; }

int PlatformRemove(const char* path) { return remove(path) == 0; }

// NTFS journals the creation and removal of files itself; the power-loss
// simulation of the tests exists only on the POSIX side. The call still
// counts as a sync for the fault hooks, as it does there.
int PlatformSyncFolder(const char*) {
  if (SyncFails()) { errno = EIO; return 0; }
  return 1;
}

#endif
