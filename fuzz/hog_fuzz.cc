// Descent HOG archives from arbitrary bytes behind the magic: the chain
// walk, listing, testing and extraction.
#include <string>

#include "fuzz/support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string file = "DHF" + std::string(reinterpret_cast<const char*>(data), size);
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(file.data());
  FuzzRunVrex(bytes, file.size(), "a.hog", {"l", "a.hog"});
  FuzzRunVrex(bytes, file.size(), "a.hog", {"t", "a.hog", "*"});
  FuzzRunVrex(bytes, file.size(), "a.hog", {"x", "a.hog"});
  return 0;
}
