// Archive access and member extraction.
//
// The four access routines report a failure as one line on standard error
// ("\tread failed: <reason>") and return 0; ReadAt and WriteAt seek only for
// a non-zero offset (offset 0 continues at the current position) and treat a
// block of 0 bytes as done. ExtractMember extracts or tests one member and
// reports every failure itself on standard output; it never writes outside
// the current folder: unsafe output paths are refused.
#ifndef VREX_CLI_ACCESS_H
#define VREX_CLI_ACCESS_H

#include <cstdint>
#include <cstdio>

FILE* OpenArchiveFile(const char* fileName, int readWrite);
int CloseArchiveFile(FILE* stream);
int ReadAt(void* buffer, uint32_t offset, uint32_t size, FILE* stream);
int WriteAt(const void* buffer, uint32_t offset, uint32_t size, FILE* stream);

// Prints an access failure: text, ": ", the reason, newline, on stderr.
void ReportAccessError(const char* text, const char* reason);
extern const char* const END_OF_FILE_REASON;

// The folder separator of the current format: "/" for PACK, "\" otherwise.
char FolderSeparator();

// Whether an output path stays inside the current folder: not absolute, no
// drive prefix, no ".." component (split at "/" and "\").
int IsSafeOutputPath(const char* path);

// Creates the folders of a member path (split at the format's separator).
void MakeFolders(char* path);

void ExtractMember(char* name, uint32_t size, uint32_t offset);

// The output file name of a member: the whole name (withFolders) or its last
// component; on Linux the backslash separator becomes "/". Returns a pointer
// into `out`, which must hold strlen(name) + 1 bytes.
char* OutputName(const char* name, int withFolders, char* out);

#endif
