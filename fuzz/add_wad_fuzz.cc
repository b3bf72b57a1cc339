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

// True when the listing of `archive` shows a member below `name` (a stored
// "WALL1\\" makes a folder WALL1, even when its data fail): x then can't
// write a file of that name there.
bool ListsBelow(const std::string& archive, const std::string& name) {
  std::string out;
  FuzzFiles().Put("a.wad", archive);
  FuzzVrex({"l", "a.wad"}, &out);
  FuzzFiles().Clear();
  return out.find("\n" + name + "\\") != std::string::npos || out.find("\n" + name + "/") != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const char* const kMagic[] = {"PWAD", "IWAD", "WAD2", "WAD3"};
  const char* magic = kMagic[data[0] & 3];
  const bool flat = data[0] & 4;
  const std::string archive = "a.wad";
  const std::string before = magic + std::string(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::map<std::string, std::string> extractedBefore = ExtractedFiles(archive, before);

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
  const std::map<std::string, std::string> extractedAfter = ExtractedFiles(archive, after);
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
    // (x writes no file for a name it holds unsafe.)
    if (!IsSafeOutputPath(name.c_str())) continue;
    if (!ExtractedAs(extractedAfter, WithSlashes(name), Sources()[i].bytes) && !ListsBelow(after, name)) abort();
    if (replacing) replaced.insert(WithSlashes(name));
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
