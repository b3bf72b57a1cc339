// Faults for tests, injected through the file interface and the allocation
// hook; the product carries no switch for them.
//
// Counters count calls since installation; a failAt value of 0 disables that
// fault. A failing read comes up short; a failing write finds no space; a
// failing sync meets an input/output error. failAlloc fails the n-th allocation; failAllocAbove every
// allocation larger than that many bytes. stopAtWrite/stopAtSync end the
// process with SIGKILL at the n-th write or sync (before it happens; a
// folder sync counts as a sync). With powerLoss set, such a stop first undoes
// what a power cut would lose: every write and length change not yet made
// durable by a sync of its file, and every creation and rename not yet made
// durable by a sync of its folder. (A removal is taken as durable at once.)
#ifndef VREX_TESTS_SUPPORT_FAULTS_H
#define VREX_TESTS_SUPPORT_FAULTS_H

#include <memory>
#include <string>

#include "core/file.h"

struct Faults {
  unsigned long failRead = 0;
  unsigned long failWrite = 0;
  unsigned long failSync = 0;
  unsigned long failAlloc = 0;
  size_t failAllocAbove = 0;
  unsigned long stopAtWrite = 0;
  unsigned long stopAtSync = 0;
  bool powerLoss = false;
  std::string failReadsOf;  // every read of the file with this path comes up short
  // counters
  unsigned long reads = 0, writes = 0, syncs = 0, allocs = 0;
};

// A file system that passes every call to `inner` and applies `faults`.
std::unique_ptr<FileSystem> MakeFaultyFileSystem(FileSystem& inner, Faults* faults);

// Installs the allocation faults of `faults` (null removes them) and resets
// its counters.
void InstallAllocationFaults(Faults* faults);

#endif
