// PACK archives from arbitrary bytes: header, directory load, and the
// handler's list, test and extract walks.
#include "fuzz/support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzRunVrex(data, size, "a.pak", {"l", "a.pak"});
  FuzzRunVrex(data, size, "a.pak", {"t", "a.pak", "*"});
  FuzzRunVrex(data, size, "a.pak", {"x", "a.pak"});
  return 0;
}
