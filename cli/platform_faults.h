// Shared by the two sides of the platform seam: the installed test faults.
#ifndef VREX_CLI_PLATFORM_FAULTS_H
#define VREX_CLI_PLATFORM_FAULTS_H

#include "cli/platform.h"

extern PlatformFaults* platformFaults;

// Counts one call of a kind and says whether the installed faults make it fail.
inline bool FaultHit(unsigned long* counter, unsigned long failAt) {
  if (!platformFaults) return false;
  ++*counter;
  return failAt != 0 && *counter == failAt;
}

#endif
