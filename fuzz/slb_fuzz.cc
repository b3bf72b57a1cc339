// Files named .slb from arbitrary bytes behind a first word of 0: the check
// of the header, the directory load, and the handler's list, test and
// extract walks (or, where the header does not fit, detection by magic).
#include <vector>

#include "fuzz/support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t length) {
  std::vector<uint8_t> archive(4, 0);
  archive.insert(archive.end(), bytes, bytes + length);
  FuzzRunVrex(archive.data(), archive.size(), "a.slb", {"l", "a.slb"});
  FuzzRunVrex(archive.data(), archive.size(), "a.slb", {"t", "a.slb", "*"});
  FuzzRunVrex(archive.data(), archive.size(), "a.slb", {"x", "a.slb"});
  return 0;
}
