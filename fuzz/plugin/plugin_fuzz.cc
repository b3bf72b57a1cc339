// Arbitrary files through the module as a host drives it: IsArchive on the
// first bytes (an exactly sized copy), OpenArchive, GetArcItem until it
// stops (at most kMaxItems calls) on a sentinel-filled item record whose
// bytes outside size@32, name@44 (260 bytes) and packedSize@322 must stay
// untouched, CloseArchive. Each input is tried under a few file names, so
// the extension tests (stk, itk, slb) are reached too.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "plugin/vrex_module.h"

namespace {
constexpr int kMaxItems = 4096;
constexpr size_t kHeaderBytes = 1024;
constexpr size_t kRecordBytes = 400;
constexpr uint8_t kSentinel = 0xA5;

std::string scratch;

void RemoveScratch() {
  for (const char* name : {"/d.stk/x", "/x.stk", "/X.ITK", "/x.slb", "/x.pak"}) unlink((scratch + name).c_str());
  rmdir((scratch + "/d.stk").c_str());
  rmdir(scratch.c_str());
}

void Prepare() {
  char templ[] = "/tmp/vrex-plugin-fuzz-XXXXXX";
  if (!mkdtemp(templ)) abort();
  scratch = templ;
  std::string folder = scratch + "/d.stk";
  if (mkdir(folder.c_str(), 0700) != 0) abort();
  // Every name leads to the same bytes.
  if (symlink("x.pak", (scratch + "/x.stk").c_str()) != 0) abort();
  if (symlink("x.pak", (scratch + "/X.ITK").c_str()) != 0) abort();
  if (symlink("x.pak", (scratch + "/x.slb").c_str()) != 0) abort();
  if (symlink("../x.pak", (folder + "/x").c_str()) != 0) abort();
  atexit(RemoveScratch);
}

bool InField(size_t at) {
  return (at >= ITEM_SIZE_AT && at < ITEM_SIZE_AT + 4) || (at >= ITEM_NAME_AT && at < ITEM_NAME_AT + ITEM_NAME_LIMIT) ||
         (at >= ITEM_PACKED_SIZE_AT && at < ITEM_PACKED_SIZE_AT + 4);
}

void Browse(const std::string& path, const uint8_t* data, size_t size) {
  std::vector<uint8_t> header(data, data + (size < kHeaderBytes ? size : kHeaderBytes));
  IsArchive(path.c_str(), header.data(), int32_t(header.size()));
  uint32_t tag = 0;
  if (!OpenArchive(path.c_str(), &tag)) return;
  std::vector<uint8_t> record(kRecordBytes);
  for (int i = 0; i < kMaxItems; ++i) {
    memset(record.data(), kSentinel, record.size());
    int32_t result = GetArcItem(record.data(), 0);
    for (size_t at = 0; at < record.size(); ++at)
      if (!InField(at) && record[at] != kSentinel) __builtin_trap();
    if (result != ITEM_READY) break;
    if (!memchr(record.data() + ITEM_NAME_AT, 0, ITEM_NAME_LIMIT)) __builtin_trap();
  }
  CloseArchive(0);
  char name[64], extension[16], command[64];
  GetFormatName(tag, name, extension);
  GetDefaultCommands(tag, size ? data[0] % 16 : 0, command);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (scratch.empty()) Prepare();
  FILE* f = fopen((scratch + "/x.pak").c_str(), "wb");
  if (!f) abort();
  if (size && fwrite(data, 1, size, f) != size) abort();
  fclose(f);
  for (const char* name : {"/x.pak", "/x.stk", "/X.ITK", "/x.slb", "/d.stk/x"}) Browse(scratch + name, data, size);
  return 0;
}
