// Deletion from arbitrary bytes, as a PACK, a Doom WAD or a WAD2 (the first
// byte picks the magic). Besides what the sanitizers catch, it checks that a
// deletion reported as failed (exit code 7) left the file unchanged and no
// recovery record, that a finished one left no record, and that a second d
// without a match changes nothing more.
#include <cstdlib>
#include <string>

#include "fuzz/support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const char* const kMagic[] = {"PACK", "PWAD", "WAD2", "PACK"};
  static const char* const kName[] = {"a.pak", "a.wad", "a.wad", "a.pak"};
  unsigned kind = data[0] & 3;
  std::string file = std::string(kMagic[kind]) + std::string(reinterpret_cast<const char*>(data + 1), size - 1);
  MemoryFileSystem& files = FuzzFiles();
  const std::string archive = kName[kind], record = archive + ".vrex-recovery";
  files.Put(archive, file);

  int code = FuzzVrex({"d", archive, (data[0] & 4) ? "*" : "*1*", "?"});
  if (files.Has(record)) abort();  // no failure of the file layer happens here
  if (code == 7 && files.Get(archive) != file) abort();
  if (code == 0 && (data[0] & 4) == 0) {
    std::string once = files.Get(archive);
    if (FuzzVrex({"d", archive, "no match"}) == 0 && files.Get(archive) != once) abort();
  }
  files.Clear();
  return 0;
}
