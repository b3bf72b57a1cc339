// a, af, m and mf on arbitrary LOD, CSid, STK, HOG and DMVL bytes (the first
// byte picks the format and the operation; the format's magic is put in
// front) with a fixed set of files. Besides what the sanitizers catch, it
// checks the result against the exit code, as the PACK target does:
//   7, 2, 3, 5, 6  the archive is byte for byte as before, every file kept,
//                  no temporary file or record left;
//   0, 9           x of the archive after the run writes each file reported
//                  stored under the name its line gives, with its bytes, and
//                  every other file it wrote before with its old bytes
//                  (unless they lay where the table now lies); m and mf
//                  removed the stored files, and only those; 9 means a file
//                  was refused.
// Nothing else may come out: the file layer never fails here.
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fuzz/support.h"

namespace {
const std::vector<AddSource>& Sources() { return AddSources(); }

// An archive name, its magic, and where its table lies: at `tableAt`, an
// entry of `entrySize` per count in the `countWidth` bytes at `countAt`
// (entrySize 0: no table in front).
struct Kind {
  const char* archive;
  std::string magic;
  uint32_t tableAt, entrySize, countAt, countWidth;
};

const Kind kKinds[] = {
    {"a.lod", std::string("LOD\0", 4), 92, 32, 8, 4},
    {"a.bin", "CSid", 6, 21, 4, 2},
    {"a.stk", "", 2, 22, 0, 2},
    {"a.hog", "DHF", 0, 0, 0, 0},
    {"a.mvl", "DMVL", 8, 0, 0, 0},  // rewritten whole: every member keeps its bytes
};

uint64_t TableEnd(const Kind& kind, const std::string& file) {
  if (!kind.entrySize || file.size() < kind.countAt + kind.countWidth) return 0;
  uint64_t count = 0;
  for (uint32_t i = kind.countWidth; i-- > 0;) count = count << 8 | uint8_t(file[kind.countAt + i]);
  return kind.tableAt + count * kind.entrySize;
}

bool StartsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const char* const kOperations[] = {"a", "af", "m", "mf"};
  const Kind& kind = kKinds[(data[0] >> 2) % 5];
  const std::string operation = kOperations[data[0] & 3];
  const bool moving = operation[0] == 'm';
  const std::string archive = kind.archive;
  const std::string before = kind.magic + std::string(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::map<std::string, std::string> extractedBefore = ExtractedFiles(archive, before);

  MemoryFileSystem& files = FuzzFiles();
  files.Put(archive, before);
  files.MakeFolder("src");
  files.MakeFolder("src/sub");
  for (const AddSource& s : Sources()) files.Put(s.path, s.bytes);
  std::string out;
  int code = FuzzVrex({operation, archive, "src", "c.dat"}, &out);
  const std::string after = files.Get(archive);
  const std::map<std::string, std::string> left = files.Files();
  files.Clear();
  if (left.count(archive + ".vrex-new") || left.count(archive + ".vrex-recovery")) abort();
  if (code == 7 || code == 2 || code == 3 || code == 5 || code == 6) {
    if (after != before) abort();
    for (const AddSource& s : Sources())
      if (!left.count(s.path) || left.at(s.path) != s.bytes) abort();
    return 0;
  }
  if (code != 0 && code != 9) abort();

  std::vector<std::string> lines;
  if (!LinesAfterSearching(out, Sources().size(), &lines)) abort();
  const std::map<std::string, std::string> extractedAfter = ExtractedFiles(archive, after);
  std::set<std::string> replaced;
  bool refused = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    bool adding = StartsWith(line, "Adding "), replacing = StartsWith(line, "Replacing ");
    bool stored = adding || replacing;
    if (!stored && line.find(std::string(" ") + Sources()[i].path + " - skipped") == std::string::npos) abort();
    refused |= !stored;
    if (moving && left.count(Sources()[i].path) == stored) abort();
    if (!moving && (!left.count(Sources()[i].path) || left.at(Sources()[i].path) != Sources()[i].bytes)) abort();
    if (!stored) continue;
    std::string name = line.substr(adding ? 7 : 10);
    if (adding && name != Sources()[i].last) abort();
    const std::string path = WithSlashes(name);
    if (!ExtractedAs(extractedAfter, path, Sources()[i].bytes)) abort();
    if (replacing) replaced.insert(path);
  }
  if (refused != (code == 9)) abort();
  // Every file x wrote before is written again, with its old bytes unless
  // replaced (a name several members share is written more than once, the
  // last one winning, before and after); bytes that lay where the header or
  // the table now lies change with them.
  uint64_t tableEnd = std::max(TableEnd(kind, after), uint64_t(kind.tableAt));
  for (const auto& f : extractedBefore) {
    auto found = extractedAfter.find(f.first);
    if (found == extractedAfter.end()) abort();
    size_t at = before.find(f.second);
    bool overTable = !f.second.empty() && at != std::string::npos && at < tableEnd;
    if (!replaced.count(f.first) && !overTable && found->second != f.second) abort();
  }
  return 0;
}
