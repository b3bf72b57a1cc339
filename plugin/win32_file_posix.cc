// CreateFileA, GetFileSize, ReadFile, SetFilePointer and CloseHandle over
// POSIX descriptors. A handle is the descriptor plus one, so it is never
// null and never INVALID_HANDLE_VALUE.
#include "plugin/win32_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
int Descriptor(HANDLE file) {
  intptr_t value = reinterpret_cast<intptr_t>(file);
  if (value <= 0) return -1;
  return int(value - 1);
}
}  // namespace

HANDLE CreateFileA(const char* fileName, DWORD access, DWORD, void*, DWORD creation, DWORD flags,
                   HANDLE) {
  if (!fileName || access != GENERIC_READ || creation != OPEN_EXISTING) return INVALID_HANDLE_VALUE;
  int fd = open(fileName, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return INVALID_HANDLE_VALUE;
  struct stat st;
  // Like Windows, a folder is not a file that can be opened for reading.
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(fd);
    return INVALID_HANDLE_VALUE;
  }
#ifdef POSIX_FADV_SEQUENTIAL
  if (flags & FILE_FLAG_SEQUENTIAL_SCAN) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#else
  (void)flags;
#endif
  return reinterpret_cast<HANDLE>(intptr_t(fd) + 1);
}

DWORD GetFileSize(HANDLE file, DWORD* sizeHigh) {
  struct stat st;
  int fd = Descriptor(file);
  if (fd < 0 || fstat(fd, &st) != 0) return INVALID_FILE_SIZE;
  uint64_t size = uint64_t(st.st_size);
  if (sizeHigh) *sizeHigh = DWORD(size >> 32);
  return DWORD(size);
}

// Reads until `toRead` bytes are in or the file ends, as ReadFile does on a
// disk file; only an error is a failure.
BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* bytesRead, void*) {
  int fd = Descriptor(file);
  if (bytesRead) *bytesRead = 0;
  if (fd < 0) return FALSE;
  DWORD done = 0;
  while (done < toRead) {
    ssize_t n = read(fd, static_cast<char*>(buffer) + done, toRead - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return FALSE;
    if (n == 0) break;
    done += DWORD(n);
  }
  if (bytesRead) *bytesRead = done;
  return TRUE;
}

// Without `distanceHigh` the distance is a signed 32-bit value; with it the
// two halves form a signed 64-bit one. A position before the start fails.
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method) {
  int fd = Descriptor(file);
  if (fd < 0) return INVALID_SET_FILE_POINTER;
  int64_t move = distanceHigh ? int64_t((uint64_t(uint32_t(*distanceHigh)) << 32) | uint32_t(distance))
                              : int64_t(distance);
  int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : method == FILE_END ? SEEK_END : -1;
  if (whence < 0) return INVALID_SET_FILE_POINTER;
  if (whence == SEEK_SET && move < 0) return INVALID_SET_FILE_POINTER;
  off_t at = lseek(fd, off_t(move), whence);
  if (at < 0) return INVALID_SET_FILE_POINTER;
  if (distanceHigh) *distanceHigh = LONG(uint64_t(at) >> 32);
  return DWORD(uint64_t(at));
}

BOOL CloseHandle(HANDLE file) {
  int fd = Descriptor(file);
  if (fd < 0) return FALSE;
  return close(fd) == 0 ? TRUE : FALSE;
}
