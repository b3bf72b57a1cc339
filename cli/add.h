// a, af, m and mf: the names behind the archive are files and folders on
// disk (and @list files of them), stored into the archive by the update
// engine; m and mf then remove what was stored.
#ifndef VREX_CLI_ADD_H
#define VREX_CLI_ADD_H

#include <cstdint>

#include "core/format.h"

// Adds to the archive run.archive (its directory loaded), or makes the
// archive run.archiveName in `format` when run.archive is null (`magic`, when
// given, its first four bytes). Prints the lines of the run and its summary;
// returns the exit code.
int RunAdd(const ArchiverState& run, const Format& format, const uint8_t* directory, uint32_t count, int argc,
           char** argv, const char* magic);

#endif
