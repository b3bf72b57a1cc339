// STK archives (recognised by the extension) from arbitrary bytes: count,
// directory load, and the handler's list, test and extract walks.
#include "fuzz/support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzRunVrex(data, size, "a.stk", {"l", "a.stk"});
  FuzzRunVrex(data, size, "a.stk", {"t", "a.stk", "*"});
  FuzzRunVrex(data, size, "a.stk", {"x", "a.stk"});
  return 0;
}
