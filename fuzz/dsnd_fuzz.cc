// Descent sound files from arbitrary bytes behind the magic: directory,
// offsets from the end of it, listing, testing and extraction.
#include <string>

#include "fuzz/support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string file = "DSND" + std::string(reinterpret_cast<const char*>(data), size);
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(file.data());
  FuzzRunVrex(bytes, file.size(), "a.s11", {"l", "a.s11"});
  FuzzRunVrex(bytes, file.size(), "a.s11", {"t", "a.s11", "*"});
  FuzzRunVrex(bytes, file.size(), "a.s11", {"x", "a.s11"});
  return 0;
}
