// Helpers for fuzz targets: run vrex in-process on fuzzer bytes written to a
// scratch archive, in a scratch folder, with stdout and stderr silenced.
#ifndef VREX_FUZZ_SUPPORT_H
#define VREX_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Writes `data` to <scratch>/<archiveName>, runs vrex with `args` (the
// archive name is args[1]) inside the scratch folder, then empties it.
// Returns the exit code.
int FuzzRunVrex(const uint8_t* data, size_t size, const std::string& archiveName,
                const std::vector<std::string>& args);

// Makes the scratch folder (once, silencing vrex's streams) and enters it.
void FuzzEnterScratch();

// Runs vrex in-process with `args` (without the program name) in the current
// folder; returns the exit code.
int FuzzVrex(std::vector<std::string> args);

#endif
