// a, af, m and mf on arbitrary archive bytes (the magic "PACK" put in front)
// with a fixed set of files; the first byte picks the operation. Besides what
// the sanitizers catch, it checks the result against the exit code:
//   7, 2, 3, 5, 6  the archive is byte for byte as before, every file kept;
//   0, 9           the directory and every entry lie inside the file; each
//                  file reported stored has a member with exactly its bytes
//                  (a new entry behind the old ones, or the entry it
//                  replaced); every other entry keeps its name and bytes
//                  (unless they overlap the header words); m and mf removed
//                  the stored files, and only those; 9 means a file was
//                  refused.
// Nothing else may come out: the file layer never fails here.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/support.h"

namespace {
const std::vector<AddSource>& Sources() { return AddSources(); }

uint32_t U32(const std::string& s, uint64_t at) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(s.data() + at);
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

struct Entry {
  std::string field;  // the 56 bytes of the name
  std::string name;   // up to the first NUL
  uint64_t offset, size;
};

// The directory as vrex reads it: a header word cut off reads 0, and an
// offset of 0 means right behind the header. False when it lies outside.
bool Directory(const std::string& file, std::vector<Entry>* entries) {
  entries->clear();
  uint64_t at = file.size() >= 8 ? U32(file, 4) : 0, length = file.size() >= 12 ? U32(file, 8) : 0;
  if (at == 0) at = 12;
  if (length && at + length > file.size()) return false;
  for (uint64_t end = at + length / 64 * 64; at < end; at += 64) {
    Entry e = {file.substr(at, 56), "", U32(file, at + 56), U32(file, at + 60)};
    e.name = e.field.substr(0, strnlen(e.field.c_str(), 56));
    entries->push_back(e);
  }
  return true;
}

bool Inside(const Entry& e, const std::string& file) { return e.size == 0 || e.offset + e.size <= file.size(); }

// The bytes of an entry inside the file.
std::string Data(const Entry& e, const std::string& file) { return e.size ? file.substr(e.offset, e.size) : ""; }


bool StartsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

// A name as PACK names are matched: "\\" as "/", ASCII case ignored.
std::string Folded(std::string name) {
  for (char& c : name) {
    if (c == '\\') c = '/';
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return name;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const char* const kOperations[] = {"a", "af", "m", "mf"};
  const std::string operation = kOperations[data[0] & 3];
  const bool moving = operation[0] == 'm', flat = operation.size() == 2;
  const std::string before = "PACK" + std::string(reinterpret_cast<const char*>(data + 1), size - 1);
  MemoryFileSystem& files = FuzzFiles();
  files.Put("a.pak", before);
  files.MakeFolder("src");
  files.MakeFolder("src/sub");
  for (const AddSource& s : Sources()) files.Put(s.path, s.bytes);

  std::string out;
  int code = FuzzVrex({operation, "a.pak", "src", "c.dat"}, &out);
  const std::string after = files.Get("a.pak");
  if (code == 7 || code == 2 || code == 3 || code == 5 || code == 6) {
    if (after != before) abort();
    for (const AddSource& s : Sources())
      if (files.Get(s.path) != s.bytes || !files.Has(s.path)) abort();
    files.Clear();
    return 0;
  }
  if (code != 0 && code != 9) abort();

  std::vector<Entry> old, now;
  if (!Directory(before, &old)) abort();  // vrex could not have loaded it
  for (const Entry& e : old)
    if (!Inside(e, before)) abort();  // vrex leaves such an archive as it is
  if (after.size() < 12 || U32(after, 4) < 12 || U32(after, 8) % 64 || !Directory(after, &now)) abort();
  for (const Entry& e : now)
    if (!Inside(e, after)) abort();

  std::vector<std::string> lines;
  if (!LinesAfterSearching(out, Sources().size(), &lines)) abort();
  std::vector<bool> kept(now.size(), false);  // old entries no source replaced
  for (size_t i = 0; i < now.size() && i < old.size(); ++i) kept[i] = true;
  size_t added = 0;
  bool refused = false;
  for (size_t i = 0; i < Sources().size(); ++i) {
    const AddSource& s = Sources()[i];
    const std::string& line = lines[i];
    bool stored = true;
    if (StartsWith(line, "Adding ")) {
      // The new entries follow the old ones in the order of the sources.
      size_t k = old.size() + added++;
      if (line != "Adding " + std::string(flat ? s.last : s.path) || k >= now.size() ||
          now[k].name != (flat ? s.last : s.path) || Data(now[k], after) != s.bytes)
        abort();
    } else if (StartsWith(line, "Replacing ")) {
      // The entry of that stored name, in its place, with the new bytes.
      std::string name = line.substr(strlen("Replacing "));
      size_t k = 0;
      while (k < old.size() && old[k].name != name) ++k;
      if (Folded(name) != Folded(flat ? s.last : s.path) || k == old.size() || k >= now.size() ||
          now[k].field != old[k].field || Data(now[k], after) != s.bytes)
        abort();
      kept[k] = false;
    } else if (line.size() > 10 && line.compare(line.size() - 10, 10, " - skipped") == 0 &&
               line.find(std::string(" ") + s.path + " - skipped") != std::string::npos) {
      stored = false;
      refused = true;
    } else {
      abort();
    }
    if (moving && files.Has(s.path) == stored) abort();
    if (!moving && files.Get(s.path) != s.bytes) abort();
  }
  if (refused != (code == 9) || now.size() != old.size() + added) abort();
  for (size_t k = 0; k < kept.size(); ++k) {
    // Data over the header words changes with them at every commit.
    if (!kept[k] || (old[k].size && old[k].offset < 12)) continue;
    if (now[k].field != old[k].field || Data(now[k], after) != Data(old[k], before)) abort();
  }
  files.Clear();
  return 0;
}
