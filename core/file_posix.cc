// The file interface on POSIX systems: buffered stdio streams for files,
// flock standing in for the deny-write share mode (shared while reading,
// exclusive while writing, never waiting), fsync for durability.
#ifndef _WIN32

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/file.h"
#include "core/stdio_file.h"

namespace {

class PosixFile : public StdioFile {
 public:
  using StdioFile::StdioFile;

  bool Seek(uint64_t offset) override {
    if (!f_) return Fail(EBADF);
    if (offset > uint64_t(INT64_MAX)) return Fail(EINVAL);
    return fseeko(f_, off_t(offset), SEEK_SET) == 0 || Fail(errno);
  }
  bool Tell(uint64_t* offset) override {
    if (!f_) return Fail(EBADF);
    off_t at = ftello(f_);
    if (at < 0) return Fail(errno);
    *offset = uint64_t(at);
    return true;
  }
  bool Sync() override { return Flush() && (fsync(fileno(f_)) == 0 || Fail(errno)); }
  bool SetLength(uint64_t length) override {
    if (length > uint64_t(INT64_MAX)) return Fail(EINVAL);
    return Flush() && (ftruncate(fileno(f_), off_t(length)) == 0 || Fail(errno));
  }
  bool Size(uint64_t* size) override {
    if (!f_) return Fail(EBADF);
    struct stat st;
    if (fstat(fileno(f_), &st) != 0) return Fail(errno);
    *size = uint64_t(st.st_size);
    return true;
  }
};

// What stat says of a name, in the interface's words.
FileStat Describe(const struct stat& st) {
  FileStat info;
  info.folder = S_ISDIR(st.st_mode);
  info.regular = S_ISREG(st.st_mode);
  info.size = uint64_t(st.st_size);
  info.modified = int64_t(st.st_mtime);
  info.id.volume = uint64_t(st.st_dev);
  info.id.node = uint64_t(st.st_ino);
  return info;
}

class PosixFileSystem : public FileSystem {
 public:
  std::unique_ptr<File> Open(const char* path, OpenMode mode, bool denyWrite) override {
    static const int kFlags[] = {O_RDONLY, O_RDWR, O_RDWR | O_CREAT | O_TRUNC, O_RDWR | O_CREAT | O_EXCL};
    static const char* const kModes[] = {"rb", "r+b", "w+b", "w+b"};
    int fd = open(path, kFlags[mode] | O_CLOEXEC, 0666);
    if (fd < 0) return Failed(errno);
    if (denyWrite && flock(fd, (mode == OPEN_READ ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0) {
      int e = errno;
      close(fd);
      return Failed(e);
    }
    FILE* f = fdopen(fd, kModes[mode]);
    if (!f) {
      int e = errno;
      close(fd);
      return Failed(e);
    }
    return std::unique_ptr<File>(new PosixFile(f));
  }
  bool Exists(const char* path) override {
    struct stat st;
    return stat(path, &st) == 0;
  }
  bool IsFolder(const char* path) override {
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
  }
  bool Stat(const char* path, FileStat* info) override {
    struct stat st;
    if (stat(path, &st) != 0) return Fail(errno);
    *info = Describe(st);
    return true;
  }
  bool StatLink(const char* path, FileStat* info) override {
    struct stat st;
    if (lstat(path, &st) != 0) return Fail(errno);
    *info = Describe(st);
    info->id = FileId();
    info->link = S_ISLNK(st.st_mode);
    info->writable = info->regular && faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) == 0;
    return true;
  }
  bool MakeFolder(const char* path) override { return mkdir(path, 0777) == 0 || Fail(errno); }
  bool Remove(const char* path) override { return unlink(path) == 0 || Fail(errno); }
  bool RemoveFolder(const char* path) override { return rmdir(path) == 0 || Fail(errno); }
  bool Rename(const char* from, const char* to) override { return rename(from, to) == 0 || Fail(errno); }
  bool KeepPermissions(const char* from, const char* to) override {
    struct stat st;
    if (stat(from, &st) != 0) return Fail(errno);
    return chmod(to, st.st_mode & 07777) == 0 || Fail(errno);
  }
  bool RenameOver(const char* from, const char* to) override { return Rename(from, to); }
  bool SyncFolder(const char* path) override {
    std::string folder = path;
    size_t slash = folder.rfind('/');
    folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return Fail(errno);
    bool synced = fsync(fd) == 0;
    if (!synced) error_ = errno;
    close(fd);
    return synced;
  }
  bool ListFolder(const char* path, std::vector<std::string>* names) override {
    DIR* d = opendir(path);
    if (!d) return Fail(errno);
    errno = 0;
    while (dirent* e = readdir(d)) {
      if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names->push_back(e->d_name);
      errno = 0;
    }
    int e = errno;
    closedir(d);
    return e == 0 || Fail(e);
  }
  const char* Error() const override { return strerror(error_); }

 private:
  bool Fail(int error) {
    error_ = error;
    return false;
  }
  std::unique_ptr<File> Failed(int error) {
    error_ = error;
    return nullptr;
  }
  int error_ = 0;
};
}  // namespace

FileSystem& SystemFileSystem() {
  static PosixFileSystem system;
  return system;
}

#endif
