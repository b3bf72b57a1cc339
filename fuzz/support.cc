#include "fuzz/support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "cli/run.h"

namespace {
// Everything vrex prints is noise here. Its error stream is swapped for
// /dev/null without touching descriptor 2, where sanitizer reports go.
void Quiet() {
  static bool quiet = false;
  if (quiet) return;
  quiet = true;
  int devnull = open("/dev/null", O_WRONLY);
  dup2(devnull, 1);
  FILE* sink = fdopen(devnull, "w");
  if (sink) stderr = sink;
}
}  // namespace

MemoryFileSystem& FuzzFiles() {
  static MemoryFileSystem files;
  return files;
}

int FuzzVrex(std::vector<std::string> args, std::string* out) {
  Quiet();
  args.insert(args.begin(), "vrex");
  std::vector<char*> argv;
  for (auto& s : args) argv.push_back(&s[0]);
  argv.push_back(nullptr);
  // The output is kept by swapping the stream vrex prints to, as Quiet does.
  FILE* quiet = stdout;
  char* kept = nullptr;
  size_t keptSize = 0;
  FILE* memory = out ? open_memstream(&kept, &keptSize) : nullptr;
  if (memory) stdout = memory;
  int code = RunVrex(int(args.size()), argv.data(), FuzzFiles());
  fflush(stdout);
  if (memory) {
    stdout = quiet;
    fclose(memory);
    out->assign(kept, keptSize);
    free(kept);
  }
  return code;
}

int FuzzRunVrex(const uint8_t* data, size_t size, const std::string& archiveName,
                const std::vector<std::string>& args) {
  FuzzFiles().Put(archiveName, std::string(reinterpret_cast<const char*>(data), size));
  int code = FuzzVrex(args);
  FuzzFiles().Clear();
  return code;
}

bool LinesAfterSearching(const std::string& out, size_t count, std::vector<std::string>* lines) {
  size_t at = out.find("\nSearching ");
  if (at == std::string::npos) return false;
  at = out.find('\n', at + 1);
  for (size_t i = 0; i < count; ++i) {
    size_t end = out.find('\n', at + 1);
    if (end == std::string::npos) return false;
    lines->push_back(out.substr(at + 1, end - at - 1));
    at = end;
  }
  return true;
}

const std::vector<AddSource>& AddSources() {
  static const std::vector<AddSource> sources = {
      {"src/a.txt", "a.txt", "The quick brown fox jumps over the lazy dog.\n"},
      {"src/sub/b.bin", "b.bin", std::string("\0\1\2\3\xff\xfe\xfd\xfc", 8) + std::string(300, 'b')},
      {"c.dat", "c.dat", std::string(1000, 'c')},
  };
  return sources;
}

std::map<std::string, std::string> ExtractedFiles(const std::string& name, const std::string& bytes) {
  MemoryFileSystem& files = FuzzFiles();
  files.Clear();
  files.Put(name, bytes);
  FuzzVrex({"x", name});
  std::map<std::string, std::string> out = files.Files();
  out.erase(name);
  files.Clear();
  return out;
}

std::string WithSlashes(std::string name) {
  for (char& c : name)
    if (c == '\\') c = '/';
  return name;
}

bool BelowAFile(const std::map<std::string, std::string>& extracted, const std::string& path) {
  for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1))
    if (extracted.count(path.substr(0, slash))) return true;
  return false;
}

bool ExtractedAs(const std::map<std::string, std::string>& extracted, const std::string& path,
                 const std::string& bytes) {
  auto below = extracted.lower_bound(path + "/");
  if (below != extracted.end() && below->first.compare(0, path.size() + 1, path + "/") == 0) return true;
  if (BelowAFile(extracted, path)) return true;
  auto found = extracted.find(path);
  return found != extracted.end() && found->second == bytes;
}
