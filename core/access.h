// Archive access and member extraction.
//
// The access routines report a failure as one line on standard error: the
// routine's text, ": " and the reason ("\tread failed: unexpected end of
// file"), and return 0. ReadAt and WriteAt seek only for a non-zero offset
// (offset 0 continues at the current position) and treat a block of 0 bytes
// as done; ReadFar and WriteFar always seek, to a 64-bit position.
//
// ExtractMember extracts or tests one member and reports every failure
// itself on standard output. It never writes outside the current folder:
// unsafe output paths are refused, and nothing is allocated for a member
// that can't lie inside the archive.
#ifndef VREX_CORE_ACCESS_H
#define VREX_CORE_ACCESS_H

#include <cstdint>
#include <memory>

#include "core/file.h"
#include "core/state.h"

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

// The folder separator of a format: "/" for PACK, "\" otherwise.
char FolderSeparator(uint32_t formatTag);

// Whether an output path stays inside the current folder: not absolute, no
// drive prefix, no ".." component (split at "/" and "\").
int IsSafeOutputPath(const char* path);

// Creates the folders of a member path (split at the format's separator).
void MakeFolders(const ArchiverState& run, char* path);

void ExtractMember(const ArchiverState& run, char* name, uint32_t size, uint32_t offset);

// Whether an output path names the archive being read (a member of the
// archive's own name must never be written over it). Prints the refusal.
bool RefuseTheArchive(const ArchiverState& run, const char* output, const char* name);

// A folder record: reported like a member; under x its folders are made.
void ExtractFolder(const ArchiverState& run, char* path);

// The output file name of a member: the whole name (withFolders) or its last
// component; where the platform's separator differs from the format's, the
// format's becomes the platform's. Returns a pointer into `out`, which must
// hold strlen(name) + 1 bytes.
char* OutputName(uint32_t formatTag, const char* name, int withFolders, char* out);

#endif
