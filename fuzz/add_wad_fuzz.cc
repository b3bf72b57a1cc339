// a and af on arbitrary Doom WAD and WAD2/WAD3 bytes (the first byte picks
// the magic and the operation) with a fixed set of files: a map lump, a
// sprite into S_START, a small label, a top-level lump, a miptex. Besides
// what the sanitizers catch, it checks the result against the exit code:
//   7, 2, 3, 5, 6  the archive is byte for byte as before;
//   0, 9           x of the archive after the run writes every file it
//                  wrote before, under the same name (a replaced one with
//                  the new bytes, the others with their old bytes), and
//                  every file reported stored under the name its line gives
//                  (unless the line says it is not listed), with its bytes.
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/extract.h"
#include "fuzz/support.h"

namespace {
struct Source {
  const char* path;
  std::string bytes;
};

const std::vector<Source>& Sources() {
  static const std::vector<Source> sources = {
      {"MAP07/THINGS", std::string(200, 't')},
      {"S_START/NEWA0", std::string(300, 's')},
      {"TINY", std::string(20, 'y')},
      {"TOP.lmp", std::string(150, 'p')},
      {"WALL1.mip", std::string(40 + 64 + 16 + 4 + 1, 'w')},
  };
  return sources;
}

// What x writes for the archive: path and bytes of every file, the
// archive itself left out.
std::map<std::string, std::string> Extracted(const std::string& archive, const std::string& bytes) {
  MemoryFileSystem& files = FuzzFiles();
  files.Clear();
  files.Put(archive, bytes);
  FuzzVrex({"x", archive});
  std::map<std::string, std::string> out = files.Files();
  out.erase(archive);
  files.Clear();
  return out;
}

std::string Slashes(std::string name) {
  for (char& c : name)
    if (c == '\\') c = '/';
  return name;
}

// Whether one of the folders of `path` is a file x wrote: x can't write a
// member below it.
bool BelowAFile(const std::map<std::string, std::string>& written, const std::string& path) {
  for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1))
    if (written.count(path.substr(0, slash))) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const char* const kMagic[] = {"PWAD", "IWAD", "WAD2", "WAD3"};
  const char* magic = kMagic[data[0] & 3];
  const bool flat = data[0] & 4;
  const std::string archive = "a.wad";
  const std::string before = magic + std::string(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::map<std::string, std::string> extractedBefore = Extracted(archive, before);

  MemoryFileSystem& files = FuzzFiles();
  files.Put(archive, before);
  files.MakeFolder("MAP07");
  files.MakeFolder("S_START");
  std::vector<std::string> args = {flat ? "af" : "a", archive};
  for (const Source& s : Sources()) {
    files.Put(s.path, s.bytes);
    args.push_back(s.path);
  }
  std::string out;
  int code = FuzzVrex(args, &out);
  const std::string after = files.Get(archive);
  files.Clear();
  if (code == 7 || code == 2 || code == 3 || code == 5 || code == 6) {
    if (after != before) abort();
    return 0;
  }
  if (code != 0 && code != 9) abort();

  std::vector<std::string> lines;
  if (!LinesAfterSearching(out, Sources().size(), &lines)) abort();
  const std::map<std::string, std::string> extractedAfter = Extracted(archive, after);
  std::set<std::string> replaced;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    bool adding = line.compare(0, 7, "Adding ") == 0, replacing = line.compare(0, 10, "Replacing ") == 0;
    if (!adding && !replacing) {
      if (line.find(" - skipped") == std::string::npos) abort();
      continue;
    }
    std::string name = line.substr(adding ? 7 : 10);
    size_t note = name.find(" (");
    if (note != std::string::npos) {
      if (name.find("not listed", note) != std::string::npos) continue;
      size_t as = name.find("listed as ", note);
      name = as == std::string::npos ? name.substr(0, note) : name.substr(as + 10, name.size() - as - 11);
    }
    // (x writes no file for a name it holds unsafe, nor where it made a
    // folder for another member, nor below a file another member wrote.)
    if (!IsSafeOutputPath(name.c_str())) continue;
    const std::string path = Slashes(name);
    auto found = extractedAfter.find(path);
    auto below = extractedAfter.lower_bound(path + "/");
    bool clash = below != extractedAfter.end() && below->first.compare(0, path.size() + 1, path + "/") == 0;
    clash = clash || BelowAFile(extractedAfter, path);
    if (!clash && (found == extractedAfter.end() || found->second != Sources()[i].bytes)) abort();
    if (replacing) replaced.insert(Slashes(name));
  }
  // Every member x wrote before is written again under its name, unless a
  // new top-level lump now takes the name of its folder; one that was not
  // replaced with its old bytes (a name shared by several members is
  // written more than once: the last one wins, before and after). Data over
  // the header words changes with them at every commit.
  for (const auto& f : extractedBefore) {
    auto found = extractedAfter.find(f.first);
    if (found == extractedAfter.end() && BelowAFile(extractedAfter, f.first)) continue;
    if (found == extractedAfter.end()) abort();
    size_t at = before.find(f.second);
    bool overHeader = !f.second.empty() && at != std::string::npos && at < 12;
    if (!replaced.count(f.first) && !overHeader && found->second != f.second) abort();
  }
  return 0;
}
