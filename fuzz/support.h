// Helpers for fuzz targets: run vrex in-process on fuzzer bytes, in a file
// system that lives in memory, with stdout and stderr silenced.
#ifndef VREX_FUZZ_SUPPORT_H
#define VREX_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/memory_fs.h"

// The memory file system the targets run vrex in.
MemoryFileSystem& FuzzFiles();

// Puts `data` into the memory file system as `archiveName`, runs vrex with
// `args` (the archive name is args[1]), then empties the file system.
// Returns the exit code.
int FuzzRunVrex(const uint8_t* data, size_t size, const std::string& archiveName,
                const std::vector<std::string>& args);

// Runs vrex in-process with `args` (without the program name) on the memory
// file system as it stands; returns the exit code. With `out` set, what it
// prints on standard output is kept there.
int FuzzVrex(std::vector<std::string> args, std::string* out = nullptr);

// The `count` lines vrex printed right after its "Searching" line.
bool LinesAfterSearching(const std::string& out, size_t count, std::vector<std::string>* lines);

#endif
