#include "fuzz/support.h"

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/state.h"

namespace {
std::string scratch;

void MakeScratch() {
  if (!scratch.empty()) return;
  char templ[] = "/tmp/vrex-fuzz-XXXXXX";
  if (!mkdtemp(templ)) abort();
  scratch = templ;
  // Everything vrex prints is noise here. Its error stream is swapped for
  // /dev/null without touching descriptor 2, where sanitizer reports go.
  int devnull = open("/dev/null", O_WRONLY);
  dup2(devnull, 1);
  FILE* quiet = fdopen(devnull, "w");
  if (quiet) stderr = quiet;
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW* walk) {
  if (walk->level > 0) remove(path);
  return 0;
}

// Removes everything below the scratch folder, keeping the folder itself.
void Empty() {
  chmod(scratch.c_str(), 0700);
  nftw(scratch.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}
}  // namespace

void FuzzEnterScratch() {
  MakeScratch();
  if (chdir(scratch.c_str()) != 0) abort();
}

int FuzzVrex(std::vector<std::string> args) {
  args.insert(args.begin(), "vrex");
  std::vector<char*> argv;
  for (auto& s : args) argv.push_back(&s[0]);
  argv.push_back(nullptr);
  int code = RunVrex(int(args.size()), argv.data());
  fflush(stdout);
  return code;
}

int FuzzRunVrex(const uint8_t* data, size_t size, const std::string& archiveName,
                const std::vector<std::string>& args) {
  FuzzEnterScratch();
  FILE* f = fopen(archiveName.c_str(), "wb");
  if (!f) abort();
  if (size) fwrite(data, 1, size, f);
  fclose(f);
  int code = FuzzVrex(args);
  Empty();
  return code;
}
