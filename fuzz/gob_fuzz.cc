// GOB archives from arbitrary bytes behind a header the first byte picks
// (v1's magic, or v2's magic and version 20): the directory block with its
// count, the listing, and the test and extract walks (v2 with folders).
#include <string>

#include "fuzz/support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t length) {
  if (length == 0) return 0;
  std::string file = bytes[0] & 1 ? std::string("GOB \x14\0\0\0", 8) : std::string("GOB\x0A");
  file.append(reinterpret_cast<const char*>(bytes + 1), length - 1);
  const uint8_t* archive = reinterpret_cast<const uint8_t*>(file.data());
  FuzzRunVrex(archive, file.size(), "a.gob", {"l", "a.gob"});
  FuzzRunVrex(archive, file.size(), "a.gob", {"t", "a.gob", "*"});
  FuzzRunVrex(archive, file.size(), "a.gob", {"x", "a.gob"});
  return 0;
}
