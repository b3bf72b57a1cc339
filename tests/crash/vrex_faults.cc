// vrex with fault injection from the command line, for crash tests and the
// benchmarks:
//   vrex_faults [--stop-write=K] [--stop-sync=K] [--power-loss] [--unprotected]
//               [--counts] <operation> <archive> [names...]
// --stop-write/--stop-sync end the process with SIGKILL before the k-th
// write or sync; --power-loss first drops every change not yet synced;
// --unprotected rewrites archives without the recovery record; --counts
// prints the numbers of writes and syncs on standard error at the end. The
// product binary has no such switches: the faults come in through the file
// system this program hands to the run.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/run.h"
#include "tests/support/faults.h"

int main(int argc, char** argv) {
  Faults faults;
  bool counts = false, protect = true;
  int first = 1;
  for (; first < argc && strncmp(argv[first], "--", 2) == 0; ++first) {
    const char* option = argv[first];
    if (strncmp(option, "--stop-write=", 13) == 0) {
      faults.stopAtWrite = strtoul(option + 13, nullptr, 10);
    } else if (strncmp(option, "--stop-sync=", 12) == 0) {
      faults.stopAtSync = strtoul(option + 12, nullptr, 10);
    } else if (strcmp(option, "--power-loss") == 0) {
      faults.powerLoss = true;
    } else if (strcmp(option, "--unprotected") == 0) {
      protect = false;
    } else if (strcmp(option, "--counts") == 0) {
      counts = true;
    } else {
      fprintf(stderr, "unknown option %s\n", option);
      return 100;
    }
  }
  std::unique_ptr<FileSystem> fs = MakeFaultyFileSystem(SystemFileSystem(), &faults);
  argv[first - 1] = argv[0];
  int code = RunVrex(argc - first + 1, argv + first - 1, *fs, protect);
  if (counts) fprintf(stderr, "writes %lu syncs %lu\n", faults.writes, faults.syncs);
  return code;
}
