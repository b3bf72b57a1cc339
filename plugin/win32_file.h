// The Win32 file calls the module reads archives with. On Windows they are
// the system's own; elsewhere win32_file_posix.cc provides the same five
// calls over POSIX descriptors, with the same results: a handle or
// INVALID_HANDLE_VALUE, a size or INVALID_FILE_SIZE, TRUE/FALSE and a byte
// count, a new position or INVALID_SET_FILE_POINTER.
#ifndef VREX_PLUGIN_WIN32_FILE_H
#define VREX_PLUGIN_WIN32_FILE_H

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdint>

typedef void* HANDLE;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef int BOOL;

#define TRUE 1
#define FALSE 0
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(intptr_t(-1)))
#define INVALID_FILE_SIZE (DWORD(0xFFFFFFFF))
#define INVALID_SET_FILE_POINTER (DWORD(0xFFFFFFFF))
#define GENERIC_READ (DWORD(0x80000000))
#define FILE_SHARE_READ (DWORD(0x00000001))
#define FILE_SHARE_WRITE (DWORD(0x00000002))
#define OPEN_EXISTING (DWORD(3))
#define FILE_FLAG_SEQUENTIAL_SCAN (DWORD(0x08000000))
#define FILE_BEGIN (DWORD(0))
#define FILE_CURRENT (DWORD(1))
#define FILE_END (DWORD(2))

// Only read access to an existing file is supported; the share mode is
// accepted and not enforced, the sequential-scan hint is passed on.
HANDLE CreateFileA(const char* fileName, DWORD access, DWORD shareMode, void* security,
                   DWORD creation, DWORD flags, HANDLE templateFile);
DWORD GetFileSize(HANDLE file, DWORD* sizeHigh);
BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* bytesRead, void* overlapped);
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method);
BOOL CloseHandle(HANDLE file);
#endif

#endif
