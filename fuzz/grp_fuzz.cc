// GRP files from arbitrary bytes behind their magic: header, directory
// load, and the handler's list, test and extract walks.
#include <string>
#include <vector>

#include "fuzz/support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t length) {
  const std::string magic = "KenSilverman";
  std::vector<uint8_t> archive(magic.begin(), magic.end());
  archive.insert(archive.end(), bytes, bytes + length);
  FuzzRunVrex(archive.data(), archive.size(), "a.grp", {"l", "a.grp"});
  FuzzRunVrex(archive.data(), archive.size(), "a.grp", {"t", "a.grp", "*"});
  FuzzRunVrex(archive.data(), archive.size(), "a.grp", {"x", "a.grp"});
  return 0;
}
