// Doom WADs from arbitrary bytes: the fuzzer's bytes follow an "IWAD" or
// "PWAD" magic, so it steers the entry count, the directory offset and the
// entries. Lists, tests, extracts with folders, selects by full name and by
// the tilde form, and deletes on a scratch copy; extracts and deletes with
// -all too.
#include <string>

#include "fuzz/support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string wad = (data[0] & 1) ? "IWAD" : "PWAD";
  wad.append(reinterpret_cast<const char*>(data + 1), size - 1);
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(wad.data());
  FuzzRunVrex(bytes, wad.size(), "a.wad", {"l", "a.wad"});
  FuzzRunVrex(bytes, wad.size(), "a.wad", {"t", "a.wad", "*\\*", "S_START\\*~?"});
  FuzzRunVrex(bytes, wad.size(), "a.wad", {"x", "a.wad"});
  FuzzRunVrex(bytes, wad.size(), "a.wad", {"d", "a.wad", "*\\*"});
  FuzzRunVrex(bytes, wad.size(), "a.wad", {"x", "a.wad", "-all"});
  FuzzRunVrex(bytes, wad.size(), "a.wad", {"d", "a.wad", "-all", "*\\*"});
  return 0;
}
