// RFF archives from arbitrary bytes behind their magic and a version the
// first byte picks (0x0200, 0x0300 or 0x0301): the directory's decryption
// and key choice, the listing, and the test and extract walks with their
// encrypted and external members.
#include <vector>

#include "fuzz/support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t length) {
  if (length == 0) return 0;
  static const uint8_t kVersions[][2] = {{0x00, 0x02}, {0x00, 0x03}, {0x01, 0x03}};
  const uint8_t* version = kVersions[bytes[0] % 3];
  std::vector<uint8_t> archive = {'R', 'F', 'F', 0x1A, version[0], version[1]};
  archive.insert(archive.end(), bytes + 1, bytes + length);
  FuzzRunVrex(archive.data(), archive.size(), "a.rff", {"l", "a.rff"});
  FuzzRunVrex(archive.data(), archive.size(), "a.rff", {"t", "a.rff", "*"});
  FuzzRunVrex(archive.data(), archive.size(), "a.rff", {"x", "a.rff"});
  return 0;
}
