// Member extraction, its files and folders, and the safe-path rules.
#include "core/extract.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "core/memory.h"

namespace {
const char kReadError[] = "\t--- read error ---\n";
constexpr unsigned kPartTries = 100;  // temporary names tried beside one file

bool IsSeparator(char c) { return c == '/' || c == PLATFORM_SEPARATOR; }

// Part of a member name behind its last folder separator.
const char* LastComponent(char separator, const char* name) {
  const char* cut = strrchr(name, separator);
  return cut ? cut + 1 : name;
}

// Rewrites a member name in place as OutputName describes; returns where the
// result begins inside it.
char* ConvertName(uint32_t formatTag, char* name, int withFolders) {
  char separator = FolderSeparator(formatTag);
  char* result = withFolders ? name : name + (LastComponent(separator, name) - name);
  if (separator != PLATFORM_SEPARATOR)
    for (char* p = result; *p; ++p)
      if (*p == separator) *p = PLATFORM_SEPARATOR;
  return result;
}

// The path of the first `length` bytes of a member name below the output
// folder, in a block of its own (Release it); *relative points at the part
// behind the output folder. Null when the block can't be had.
char* OutputPath(const ArchiverState& run, const char* name, size_t length, int withFolders, char** relative) {
  const char* folder = run.outputFolder ? run.outputFolder : "";
  size_t folderLength = strlen(folder);
  bool joined = folderLength && !IsSeparator(folder[folderLength - 1]);
  size_t prefix = folderLength + (joined ? 1 : 0);
  char* path = static_cast<char*>(Allocate(prefix + length + 1));
  if (!path) return nullptr;
  memcpy(path, folder, folderLength);
  if (joined) path[folderLength] = PLATFORM_SEPARATOR;
  memcpy(path + prefix, name, length);
  path[prefix + length] = 0;
  char* converted = ConvertName(run.formatTag, path + prefix, withFolders);
  memmove(path + prefix, converted, strlen(converted) + 1);
  *relative = path + prefix;
  return path;
}

// The file a member is written to: the output path, and the temporary file
// beside it while an existing file waits to be replaced (null: the file was
// made by this run at the output path).
struct Target {
  char* path = nullptr;
  char* part = nullptr;
  std::unique_ptr<File> file;
};

// Creates a temporary file beside `path` under the first free name of
// ".1.vrex-part", ".2.vrex-part" and so on. Returns its name (Release it),
// or null.
char* OpenPart(FileSystem& fs, const char* path, std::unique_ptr<File>* file) {
  size_t folder = strlen(path);
  while (folder && !IsSeparator(path[folder - 1])) --folder;
  size_t room = folder + 16 + sizeof PART_SUFFIX;
  char* part = static_cast<char*>(Allocate(room));
  if (!part) return nullptr;
  for (unsigned n = 1; n <= kPartTries; ++n) {
    snprintf(part, room, "%.*s.%u%s", int(folder), path, n, PART_SUFFIX);
    *file = fs.Open(part, OPEN_CREATE_NEW, false);
    if (*file) return part;
    if (!fs.Exists(part)) break;
  }
  Release(part);
  return nullptr;
}

// Opens the member's file as the header says; prints why not.
bool OpenTarget(const ArchiverState& run, const Member& m, const char* shown, Target* t) {
  FileSystem& fs = *run.fs;
  FileStat stat;
  bool exists = fs.StatLink(t->path, &stat);  // a name that doesn't exist can't be the archive
  if (exists && RefuseTheArchive(run, t->path, m.name)) return false;
  if (!exists)
    t->file = fs.Open(t->path, OPEN_CREATE_NEW, false);
  else if (stat.link || stat.writable)
    t->part = OpenPart(fs, t->path, &t->file);
  if (t->file) return true;
  printf("Can't open %s - skiped\n", shown);
  return false;
}

// Closes the member's file: a whole member replaces what was there, a
// failed one leaves it as it was and nothing of its own behind.
bool CloseTarget(const ArchiverState& run, Target* t, bool whole, const char* shown) {
  // Buffered bytes that can't be flushed at the close are a write error too.
  if (!t->file->Close() && whole) {
    printf("\t--- write error ---\n");
    whole = false;
  }
  FileSystem& fs = *run.fs;
  if (!t->part) {
    if (!whole) fs.Remove(t->path);
    return whole;
  }
  if (whole && fs.RenameOver(t->part, t->path)) return true;
  if (whole) printf("Can't open %s - skiped\n", shown);
  fs.Remove(t->part);
  return false;
}

// Copies the source through `buffer` into `file` (null: reads only).
bool Copy(MemberSource& source, uint8_t* buffer, size_t room, File* file, DecodeStep decode) {
  uint64_t at = 0;
  for (size_t n; (n = source.Read(buffer, room)) > 0; at += n) {
    if (decode) decode(buffer, n, at);
    if (file && file->Write(buffer, n) != n) {
      printf("\t--- write error ---\n");
      return false;
    }
  }
  if (!source.Failure()) return true;
  fputs(source.Failure(), stdout);
  return false;
}
}  // namespace

StoredBytes::StoredBytes(const ArchiverState& run, uint32_t offset, uint32_t size)
    : archive_(*run.archive), offset_(offset), left_(size), failed_(uint64_t(offset) + size > run.archiveSize) {}

size_t StoredBytes::Read(uint8_t* buffer, size_t room) {
  if (failed_ || left_ == 0) return 0;
  size_t n = room < left_ ? room : left_;
  failed_ = (!started_ && !archive_.Seek(offset_)) || archive_.Read(buffer, n) != n;
  started_ = true;
  if (failed_) return 0;
  left_ -= uint32_t(n);
  return n;
}

const char* StoredBytes::Failure() const { return failed_ ? kReadError : nullptr; }

char FolderSeparator(uint32_t formatTag) { return formatTag == TAG_PACK || formatTag == TAG_SPAK ? '/' : '\\'; }

int IsSafeOutputPath(const char* path) {
  if (path[0] == '/' || path[0] == '\\') return 0;
  char first = path[0];
  bool letter = (first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z');
  if (letter && path[1] == ':') return 0;
  const char* component = path;
  for (const char* p = path;; ++p) {
    if (*p == '/' || *p == '\\' || *p == 0) {
      if (p - component == 2 && component[0] == '.' && component[1] == '.') return 0;
      if (*p == 0) return 1;
      component = p + 1;
    }
  }
}

char* OutputName(uint32_t formatTag, const char* name, int withFolders, char* out) {
  strcpy(out, name);
  return ConvertName(formatTag, out, withFolders);
}

bool MakeFolders(const ArchiverState& run, const char* name) {
  char separator = FolderSeparator(run.formatTag);
  for (const char* cut = strchr(name, separator); cut; cut = strchr(cut + 1, separator)) {
    char* relative;
    char* folder = OutputPath(run, name, size_t(cut - name), 1, &relative);
    bool made = folder && (run.fs->Exists(folder) || run.fs->MakeFolder(folder));
    Release(folder);
    if (!made) {
      printf("\t--- folder error --- \n");
      return false;
    }
  }
  return true;
}

bool MakeOutputFolder(FileSystem& fs, const char* folder) {
  size_t length = strlen(folder);
  char* path = static_cast<char*>(Allocate(length + 1));
  if (!path) return false;
  memcpy(path, folder, length + 1);
  for (size_t end = 1; end <= length; ++end) {
    if (end < length && !IsSeparator(path[end])) continue;
    char kept = path[end];
    path[end] = 0;
    if (!fs.Exists(path)) fs.MakeFolder(path);
    path[end] = kept;
  }
  bool made = fs.IsFolder(folder);
  Release(path);
  return made;
}

bool SkipMember(const ArchiverState& run, const Member& m, const char* why) {
  printf(run.testOnly ? "Testing %s\n" : "Extracting %s\n", m.name);
  printf(why, m.name);
  return false;
}

bool ExtractFolder(const ArchiverState& run, const Member& m) {
  printf(run.testOnly ? "Testing %s\n" : "Extracting %s\n", m.name);
  if (run.testOnly || !run.withFolders) return true;
  if (!IsSafeOutputPath(m.stored)) {
    printf("Unsafe path %s - skipped\n", m.name);
    return false;
  }
  return MakeFolders(run, m.stored);
}

bool RefuseTheArchive(const ArchiverState& run, const char* output, const char* name) {
  FileStat stat;
  if (run.archiveId == FileId() || !run.fs->Stat(output, &stat) || !(stat.id == run.archiveId)) return false;
  printf("The archive itself %s - skipped\n", name);
  return true;
}

bool ExtractMember(const ArchiverState& run, const Member& m, MemberSource& source, const ExtractRule& rule) {
  if (run.testOnly)
    printf("Testing %s\n", m.name);
  else
    printf("%s %s\n", rule.verb, m.name);

  int withFolders = run.withFolders || rule.wholeName;
  const char* shown = withFolders ? m.name : LastComponent(FolderSeparator(run.formatTag), m.name);
  Target target;
  if (!run.testOnly) {
    char* relative;
    target.path = OutputPath(run, m.stored, strlen(m.stored), withFolders, &relative);
    if (!target.path) {
      printf("Can't allocate %ul bytes for %s - skiped\n", unsigned(strlen(m.stored) + 1), m.name);
      return false;
    }
    if (!IsSafeOutputPath(relative)) {
      printf("Unsafe path %s - skipped\n", m.name);
      Release(target.path);
      return false;
    }
  }

  // One buffer, whatever the member's size; none for a member that can't be
  // read at all.
  size_t room = m.size < EXTRACT_CHUNK ? m.size : EXTRACT_CHUNK;
  uint8_t* buffer = nullptr;
  if (!source.Failure()) {
    size_t bytes = room + source.Room();
    buffer = static_cast<uint8_t*>(Allocate(bytes));
    if (!buffer) {
      printf("Can't allocate %ul bytes for %s - skiped\n", unsigned(bytes), m.name);
      Release(target.path);
      return false;
    }
    source.Use(buffer + room);
  }

  bool whole = true;
  if (!run.testOnly) {
    if (run.withFolders && !rule.wholeName) MakeFolders(run, m.stored);
    whole = OpenTarget(run, m, shown, &target);
  }
  if (whole) whole = Copy(source, buffer, room, target.file.get(), rule.decode);
  if (target.file) whole = CloseTarget(run, &target, whole, shown);
  Release(buffer);
  Release(target.part);
  Release(target.path);
  return whole;
}

bool ExtractStored(const ArchiverState& run, const Member& m, DecodeStep decode) {
  StoredBytes source(run, m.offset, m.size);
  ExtractRule rule;
  rule.decode = decode;
  return ExtractMember(run, m, source, rule);
}
