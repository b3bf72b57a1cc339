// Deletion from arbitrary bytes, as a PACK, a Doom WAD or a WAD2 (the first
// byte picks the magic), on a scratch copy. Besides what the sanitizers
// catch, it checks that a deletion reported as failed (exit code 7) left the
// file unchanged and no recovery record, that a finished one left no record,
// and that a second d without a match changes nothing more.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/support.h"

namespace {
std::string ReadFile(const std::string& name) {
  std::ifstream f(name, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& name, const std::string& bytes) {
  FILE* f = fopen(name.c_str(), "wb");
  if (!f) abort();
  if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}

bool Exists(const std::string& name) { return access(name.c_str(), F_OK) == 0; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const char* const kMagic[] = {"PACK", "PWAD", "WAD2", "PACK"};
  static const char* const kName[] = {"a.pak", "a.wad", "a.wad", "a.pak"};
  unsigned kind = data[0] & 3;
  std::string file = std::string(kMagic[kind]) + std::string(reinterpret_cast<const char*>(data + 1), size - 1);
  FuzzEnterScratch();
  const std::string archive = kName[kind], record = archive + ".vrex-recovery";
  WriteFile(archive, file);

  int code = FuzzVrex({"d", archive, (data[0] & 4) ? "*" : "*1*", "?"});
  if (Exists(record)) abort();  // no failure of the file layer happens here
  if (code == 7 && ReadFile(archive) != file) abort();
  if (code == 0 && (data[0] & 4) == 0) {
    std::string once = ReadFile(archive);
    if (FuzzVrex({"d", archive, "no match"}) == 0 && ReadFile(archive) != once) abort();
  }
  remove(archive.c_str());
  remove(record.c_str());
  return 0;
}
