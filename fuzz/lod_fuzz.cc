// LOD archives from arbitrary bytes behind their magic: header, directory
// load, and the handler's list, test (inflating) and extract walks.
#include <vector>

#include "fuzz/support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t length) {
  // The magic is given, so every input reaches the handler.
  std::vector<uint8_t> archive = {'L', 'O', 'D', 0};
  archive.insert(archive.end(), bytes, bytes + length);
  FuzzRunVrex(archive.data(), archive.size(), "a.lod", {"l", "a.lod"});
  FuzzRunVrex(archive.data(), archive.size(), "a.lod", {"t", "a.lod", "*"});
  FuzzRunVrex(archive.data(), archive.size(), "a.lod", {"x", "a.lod"});
  return 0;
}
