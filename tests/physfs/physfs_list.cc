// Lists an archive (PACK, SLB, HOG, MVL, GRP) as PhysicsFS reads it, a
// reader written apart from vrex: one line per file, "path<TAB>size<TAB>CRC-32
// of its bytes" (8 hex digits), sorted by path. Folders are walked, not printed.
//
//   physfs_list ARCHIVE
//
// Exit codes: 0 listed, 1 usage, 2 PhysicsFS could not mount the archive or
// read a file in it.
#include <physfs.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {
const char* LastError() { return PHYSFS_getErrorByCode(PHYSFS_getLastErrorCode()); }

// Adds "path\tsize\tcrc" for every file below `folder` ("" for the root).
bool Walk(const std::string& folder, std::vector<std::string>* lines) {
  char** names = PHYSFS_enumerateFiles(folder.empty() ? "/" : folder.c_str());
  if (!names) {
    fprintf(stderr, "can't list %s: %s\n", folder.c_str(), LastError());
    return false;
  }
  bool ok = true;
  for (char** name = names; *name && ok; ++name) {
    std::string path = folder.empty() ? *name : folder + "/" + *name;
    PHYSFS_Stat stat;
    if (!PHYSFS_stat(path.c_str(), &stat)) {
      fprintf(stderr, "can't stat %s: %s\n", path.c_str(), LastError());
      ok = false;
    } else if (stat.filetype == PHYSFS_FILETYPE_DIRECTORY) {
      ok = Walk(path, lines);
    } else {
      PHYSFS_File* file = PHYSFS_openRead(path.c_str());
      if (!file) {
        fprintf(stderr, "can't open %s: %s\n", path.c_str(), LastError());
        ok = false;
        continue;
      }
      uLong crc = crc32(0, Z_NULL, 0);
      PHYSFS_uint64 size = 0;
      unsigned char buffer[65536];
      PHYSFS_sint64 got;
      while ((got = PHYSFS_readBytes(file, buffer, sizeof buffer)) > 0) {
        crc = crc32(crc, buffer, uInt(got));
        size += PHYSFS_uint64(got);
      }
      if (got < 0 || PHYSFS_fileLength(file) != PHYSFS_sint64(size)) {
        fprintf(stderr, "can't read %s: %s\n", path.c_str(), LastError());
        ok = false;
      }
      PHYSFS_close(file);
      char line[64];
      snprintf(line, sizeof line, "\t%llu\t%08lx", static_cast<unsigned long long>(size), crc);
      lines->push_back(path + line);
    }
  }
  PHYSFS_freeList(names);
  return ok;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s ARCHIVE\n", argv[0]);
    return 1;
  }
  if (!PHYSFS_init(argv[0])) {
    fprintf(stderr, "PhysicsFS did not start: %s\n", LastError());
    return 2;
  }
  std::vector<std::string> lines;
  bool ok = PHYSFS_mount(argv[1], nullptr, 0) != 0;
  if (!ok)
    fprintf(stderr, "can't mount %s: %s\n", argv[1], LastError());
  else
    ok = Walk("", &lines);
  PHYSFS_deinit();
  std::sort(lines.begin(), lines.end());
  for (const std::string& line : lines) printf("%s\n", line.c_str());
  return ok ? 0 : 2;
}
