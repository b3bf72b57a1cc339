// The platform seam of vrex: every file-system call the archiver makes.
//
// On Linux these are POSIX calls (flock stands in for the deny-write share
// mode); on Windows the C runtime's _fsopen, _chsize, _mkdir and _commit.
// Tests can install a PlatformFaults record to make a read, write, sync or
// allocation fail, or to stop the process, at a chosen call.
#ifndef VREX_CLI_PLATFORM_H
#define VREX_CLI_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Opens an archive: "rb", or "r+b" when readWrite is set, with deny-write
// sharing (others may read, nobody may write while it is open). Returns
// null on failure with errno set.
FILE* PlatformOpenShared(const char* name, int readWrite);

// Opens an ordinary file with a C runtime mode ("wb", "rt", ...).
FILE* PlatformOpen(const char* name, const char* mode);
int PlatformClose(FILE* f);  // 1 on success

// Positioned and sequential transfers through the stream. Seek is absolute.
int PlatformSeek(FILE* f, uint64_t offset);                    // 1 on success
size_t PlatformRead(void* buf, size_t size, FILE* f);           // bytes read
size_t PlatformWrite(const void* buf, size_t size, FILE* f);    // bytes written
int PlatformSetLength(FILE* f, uint64_t length);                // 1 on success
int PlatformSync(FILE* f);                                      // flush + fsync, 1 on success
int PlatformFlush(FILE* f);                                     // hand buffered bytes to the system, 1 on success
uint64_t PlatformFileSize(FILE* f);

int PlatformExists(const char* path);       // file or folder of that name
int PlatformMakeFolder(const char* path);   // 1 on success
int PlatformRemove(const char* path);       // 1 on success
// Makes the creation or removal of the file `path` durable by syncing the
// folder that holds it (a no-op where the file system journals that itself).
int PlatformSyncFolder(const char* path);   // 1 on success

// Heap blocks for member data and directories; fail through the fault hook.
void* PlatformAlloc(size_t size);
void* PlatformRealloc(void* p, size_t size);
void PlatformFree(void* p);

// Description of the last error, for the access routines' reports.
const char* PlatformLastError();

// The folder separator written to disk for a member path.
#ifdef _WIN32
enum { PLATFORM_SEPARATOR = '\\' };
#else
enum { PLATFORM_SEPARATOR = '/' };
#endif

// Fault injection for tests. Counters count calls since installation; a
// value of 0 disables that fault. failAlloc fails the n-th allocation;
// failAllocAbove fails every allocation larger than that many bytes.
// stopAtWrite/stopAtSync end the process abruptly at the n-th write or sync
// (before it happens). With powerLoss set, such a stop first undoes every
// write and length change not yet made durable by a sync of that file, and
// every file created since the last folder sync, as a power cut would.
struct PlatformFaults {
  unsigned long failRead;
  unsigned long failWrite;
  unsigned long failSync;
  unsigned long failAlloc;
  size_t failAllocAbove;
  unsigned long stopAtWrite;
  unsigned long stopAtSync;
  // counters, maintained by the platform layer
  unsigned long reads, writes, syncs, allocs;
  int powerLoss;
};
void PlatformSetFaults(PlatformFaults* faults);  // null removes them

#endif
