// Helpers for fuzz targets: run vrex in-process on fuzzer bytes, in a file
// system that lives in memory, with stdout and stderr silenced.
#ifndef VREX_FUZZ_SUPPORT_H
#define VREX_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <map>
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

// The files the a targets store: src/a.txt, src/sub/b.bin and c.dat, named
// as "src" and "c.dat" in that order.
struct AddSource {
  const char* path;  // on disk, in the order the run takes them
  const char* last;  // the name af and mf store
  std::string bytes;
};
const std::vector<AddSource>& AddSources();

// What x writes for the archive `name` holding `bytes`: the path and bytes
// of every file, the archive left out (the file system is emptied).
std::map<std::string, std::string> ExtractedFiles(const std::string& name, const std::string& bytes);

// Whether x, having written `extracted`, holds `bytes` under `path`, or
// could write no file there: where it made a folder for another member, or
// below a file another member wrote.
bool ExtractedAs(const std::map<std::string, std::string>& extracted, const std::string& path,
                 const std::string& bytes);

// Whether one of the folders of `path` is a file x wrote: x can't write a
// member below it.
bool BelowAFile(const std::map<std::string, std::string>& extracted, const std::string& path);

// The name with "/" for every "\".
std::string WithSlashes(std::string name);

// The `count` lines vrex printed right after its "Searching" line.
bool LinesAfterSearching(const std::string& out, size_t count, std::vector<std::string>* lines);

#endif
