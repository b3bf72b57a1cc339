#include "cli/add.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli/run.h"
#include "core/bytes.h"
#include "core/extract.h"
#include "core/file.h"
#include "core/select.h"
#include "formats/recovery.h"
#include "formats/update.h"

namespace {
const char kUnsafe[] = "Unsafe path";
const char kControl[] = "Control character in";
const char kUnreadable[] = "Can't read";
const char kArchiveItself[] = "The archive itself";
const char kTemporary[] = "Temporary file";

// Files the run must never store: the archive, its recovery record and the
// temporary file of a new archive.
struct Guard {
  std::vector<FileId> ids;
};

struct Collection {
  std::vector<AddInput> inputs;
  std::vector<std::string> folders;  // walked, in the order they were entered
  std::vector<FileId> entered;       // folders entered, against loops through links
};

bool HasControlCharacter(const std::string& path) {
  for (char c : path)
    if (uint8_t(c) < 0x20 || uint8_t(c) == 0x7F) return true;
  return false;
}

void Refuse(Collection* c, const std::string& path, const char* reason) {
  AddInput input;
  input.path = path;
  input.refusal = reason;
  c->inputs.push_back(input);
}

bool EndsWith(const std::string& text, const char* tail) {
  size_t length = strlen(tail);
  return text.size() >= length && text.compare(text.size() - length, length, tail) == 0;
}

void AddFile(Collection* c, const Guard& guard, std::string path, const FileStat& stat) {
  // What a killed extraction may leave behind is never stored.
  if (EndsWith(path, PART_SUFFIX)) return Refuse(c, path, kTemporary);
  if (!stat.regular) return Refuse(c, path, kUnreadable);
  for (const FileId& id : guard.ids)
    if (id == stat.id) return Refuse(c, path, kArchiveItself);
  AddInput input;
  input.path = std::move(path);
  input.size = stat.size;
  input.modified = stat.modified;
  c->inputs.push_back(std::move(input));
}

// Every file below `folder` (a path as given), ordered by the bytes of the
// whole relative path. Folders reached again through links are passed over.
void WalkFolder(FileSystem& fs, Collection* c, const Guard& guard, const std::string& folder, const FileStat& stat) {
  struct Found {
    std::string path;
    FileStat stat;
    bool known;
  };
  std::vector<Found> files;
  std::vector<std::pair<std::string, FileStat>> pending = {{folder, stat}};
  while (!pending.empty()) {
    std::string here = pending.back().first;
    FileStat hereStat = pending.back().second;
    pending.pop_back();
    if (std::find(c->entered.begin(), c->entered.end(), hereStat.id) != c->entered.end()) continue;
    c->entered.push_back(hereStat.id);
    c->folders.push_back(here);
    std::vector<std::string> names;
    if (!fs.ListFolder(here.c_str(), &names)) {
      Refuse(c, here, kUnreadable);
      continue;
    }
    for (const std::string& name : names) {
      std::string child = here + "/" + name;
      FileStat childStat;
      bool known = fs.Stat(child.c_str(), &childStat);
      if (known && childStat.folder)
        pending.push_back({child, childStat});
      else
        files.push_back({child, childStat, known});
    }
  }
  // Every path here begins with the folder as given, so the order of the
  // paths is the order of the relative paths.
  std::sort(files.begin(), files.end(), [](const Found& a, const Found& b) { return a.path < b.path; });
  for (Found& f : files) {
    if (HasControlCharacter(f.path))
      Refuse(c, f.path, kControl);
    else if (!f.known)
      Refuse(c, f.path, kUnreadable);
    else
      AddFile(c, guard, std::move(f.path), f.stat);
  }
}

void AddPath(FileSystem& fs, Collection* c, const Guard& guard, std::string path) {
  if (!IsSafeOutputPath(path.c_str())) return Refuse(c, path, kUnsafe);
  if (HasControlCharacter(path)) return Refuse(c, path, kControl);
  // A folder named with a separator behind it: the C runtime on Windows finds
  // no such name.
  std::string name = path;
  while (name.size() > 1 && (name.back() == '/' || name.back() == PLATFORM_SEPARATOR)) name.pop_back();
  FileStat stat;
  if (name.empty() || !fs.Stat(name.c_str(), &stat)) return Refuse(c, path, kUnreadable);
  if (!stat.folder) return AddFile(c, guard, path, stat);
  WalkFolder(fs, c, guard, name, stat);
}

// The names behind the archive: paths, and @list files of paths (one a
// line, the line's bytes as they are). Arguments that begin with "-" are
// passed over (-o with its value); one that begins with "/" is an absolute
// path, refused.
Collection Collect(FileSystem& fs, const Guard& guard, int argc, char** argv) {
  Collection c;
  for (int i = 0; i < argc; ++i) {
    const char* argument = argv[i];
    if (IsOutputOption(argument)) ++i;  // its value is passed over too
    if (argument[0] == '-') continue;
    if (argument[0] != '@') {
      AddPath(fs, &c, guard, argument);
      continue;
    }
    std::unique_ptr<File> list = fs.Open(argument + 1, OPEN_READ, false);
    if (!list) {
      printf("Can't load list file %s - ignored\n", argument + 1);
      continue;
    }
    LineReader lines(*list);
    std::string line;
    while (lines.Next(&line))
      if (!line.empty()) AddPath(fs, &c, guard, line);
  }
  return c;
}

Guard MakeGuard(FileSystem& fs, const char* archiveName) {
  Guard guard;
  const std::string record = std::string(RECOVERY_SUFFIX) + NEW_ARCHIVE_SUFFIX;
  for (const char* suffix : {"", RECOVERY_SUFFIX, NEW_ARCHIVE_SUFFIX, record.c_str()}) {
    std::string name = std::string(archiveName) + suffix;
    FileStat stat;
    if (fs.Stat(name.c_str(), &stat)) guard.ids.push_back(stat.id);
  }
  return guard;
}

void PrintSummary(const UpdateResult& r) {
  if (r.stored == 0)
    printf(r.refused ? "\n(no files stored, %lu skipped)\n" : "\n(no files stored)\n", (unsigned long)r.refused);
  else if (r.refused)
    printf("\n%lu files stored, %lu skipped\n", (unsigned long)r.stored, (unsigned long)r.refused);
  else
    printf("\n%lu files stored\n", (unsigned long)r.stored);
}

// m and mf: the stored files go, then the folders walked, innermost first,
// where the move has emptied them. Returns the number of files that could
// not be removed.
uint32_t RemoveSources(FileSystem& fs, const Collection& c, const UpdateResult& r) {
  uint32_t kept = 0;
  for (size_t i : r.storedInputs) {
    if (fs.Remove(c.inputs[i].path.c_str())) continue;
    printf("Can't remove %s\n", c.inputs[i].path.c_str());
    ++kept;
  }
  for (size_t i = c.folders.size(); i-- > 0;) fs.RemoveFolder(c.folders[i].c_str());
  return kept;
}
}  // namespace

int RunAdd(const ArchiverState& run, const Format& format, const uint8_t* directory, uint32_t count, int argc,
           char** argv, const char* magic) {
  FileSystem& fs = *run.fs;
  Collection c = Collect(fs, MakeGuard(fs, run.archiveName), argc, argv);
  AddRequest request = {&run, run.withFolders != 0, run.formatTag, run.archive == nullptr};
  UpdateResult r = RunUpdate(run, *format.writing, request, directory, count, c.inputs, magic);
  PrintSummary(r);
  if (r.failed) return EXIT_UPDATE_FAILED;
  uint32_t kept = run.moveFiles ? RemoveSources(fs, c, r) : 0;
  if (r.recoveryPending) return EXIT_RECOVERY_PENDING;
  return r.refused || kept ? EXIT_PARTIAL : EXIT_DONE;
}
