// The front end on arbitrary files under every detection path: by content,
// and by the extensions stk and dir; listing and testing with patterns.
#include "fuzz/support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzRunVrex(data, size, "a.bin", {"l", "a.bin", "*A*"});
  FuzzRunVrex(data, size, "a.bin", {"t", "a.bin"});
  FuzzRunVrex(data, size, "a.itk", {"l", "a.itk"});
  FuzzRunVrex(data, size, "a.dir", {"l", "a.dir"});
  return 0;
}
