// The parts of the platform seam that both sides share: heap blocks with
// their test faults, and the description of the last error.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cli/platform_faults.h"

PlatformFaults* platformFaults = nullptr;

namespace {
bool AllocationFails(size_t size) {
  if (!platformFaults) return false;
  if (FaultHit(&platformFaults->allocs, platformFaults->failAlloc)) return true;
  return platformFaults->failAllocAbove != 0 && size > platformFaults->failAllocAbove;
}
}  // namespace

void* PlatformAlloc(size_t size) { return AllocationFails(size) ? nullptr : malloc(size ? size : 1); }

void* PlatformRealloc(void* p, size_t size) {
  return AllocationFails(size) ? nullptr : realloc(p, size ? size : 1);
}

void PlatformFree(void* p) { free(p); }

const char* PlatformLastError() { return strerror(errno); }
