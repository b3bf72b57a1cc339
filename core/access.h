// Archive access.
//
// The access routines report a failure as one line on standard error: the
// routine's text, ": " and the reason ("\tread failed: unexpected end of
// file"), and return 0. ReadAt and WriteAt seek only for a non-zero offset
// (offset 0 continues at the current position) and treat a block of 0 bytes
// as done; ReadFar and WriteFar always seek, to a 64-bit position.
#ifndef VREX_CORE_ACCESS_H
#define VREX_CORE_ACCESS_H

#include <cstdint>
#include <memory>

#include "core/file.h"

std::unique_ptr<File> OpenArchiveFile(FileSystem& fs, const char* fileName, int readWrite);
int CloseArchiveFile(File& file);
int ReadAt(void* buffer, uint32_t offset, uint32_t size, File& file);
int WriteAt(const void* buffer, uint32_t offset, uint32_t size, File& file);
int ReadFar(File& file, uint64_t at, void* buffer, size_t size);
int WriteFar(File& file, uint64_t at, const void* buffer, size_t size);
int FlushFile(File& file);  // reported as "\twrite failed"
int SyncFile(File& file);   // reported as "\twrite failed"

// Prints an access failure: text, ": ", the reason, newline, on stderr.
void ReportAccessError(const char* text, const char* reason);

#endif
