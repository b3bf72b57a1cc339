// SPAK archives from arbitrary bytes behind their magic: header, directory
// load, and the handler's list, test and extract walks.
#include <vector>

#include "fuzz/support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t length) {
  std::vector<uint8_t> archive = {'S', 'P', 'A', 'K'};
  archive.insert(archive.end(), bytes, bytes + length);
  FuzzRunVrex(archive.data(), archive.size(), "a.sin", {"l", "a.sin"});
  FuzzRunVrex(archive.data(), archive.size(), "a.sin", {"t", "a.sin", "*"});
  FuzzRunVrex(archive.data(), archive.size(), "a.sin", {"x", "a.sin"});
  return 0;
}
