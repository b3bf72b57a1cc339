// DMVL files from arbitrary bytes behind their magic: header, directory
// load, and the handler's list, test and extract walks.
#include <vector>

#include "fuzz/support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t length) {
  // The magic is given, so every input reaches the handler.
  std::vector<uint8_t> archive = {'D', 'M', 'V', 'L'};
  archive.insert(archive.end(), bytes, bytes + length);
  FuzzRunVrex(archive.data(), archive.size(), "a.mvl", {"l", "a.mvl"});
  FuzzRunVrex(archive.data(), archive.size(), "a.mvl", {"t", "a.mvl", "*"});
  FuzzRunVrex(archive.data(), archive.size(), "a.mvl", {"x", "a.mvl"});
  return 0;
}
