// The file interface on Windows: the C runtime's buffered streams, opened
// with its share flags (_SH_DENYWR, 0x20: others may read an archive, nobody
// may write it while it is open, and the open fails while another program
// holds it for writing), _chsize_s and _commit; folders through the Win32
// API. NTFS journals the creation, removal and renaming of files itself, so
// a folder needs no sync of its own.
#ifdef _WIN32

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/file.h"
#include "core/stdio_file.h"

static_assert(_SH_DENYWR == 0x20, "deny-write share flag");

namespace {
constexpr int kWindowsError = -2;  // the text comes from GetLastError

const char* Describe(int error, DWORD windowsError, char* text, size_t size) {
  if (error != kWindowsError) return strerror(error);
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, windowsError,
                           0, text, DWORD(size), nullptr);
  while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == '.')) text[--n] = 0;
  return n ? text : "system error";
}

class WindowsFile : public StdioFile {
 public:
  using StdioFile::StdioFile;

  bool Seek(uint64_t offset) override {
    if (!f_) return Fail(EBADF);
    if (offset > 0x7FFFFFFFFFFFFFFFull) return Fail(EINVAL);
    return _fseeki64(f_, (__int64)offset, SEEK_SET) == 0 || Fail(errno);
  }
  bool Tell(uint64_t* offset) override {
    if (!f_) return Fail(EBADF);
    __int64 at = _ftelli64(f_);
    if (at < 0) return Fail(errno);
    *offset = uint64_t(at);
    return true;
  }
  bool Sync() override { return Flush() && (_commit(_fileno(f_)) == 0 || Fail(errno)); }
  bool SetLength(uint64_t length) override {
    if (length > 0x7FFFFFFFFFFFFFFFull) return Fail(EINVAL);
    return Flush() && (_chsize_s(_fileno(f_), (__int64)length) == 0 || Fail(errno));
  }
  bool Size(uint64_t* size) override {
    if (!f_) return Fail(EBADF);
    struct _stat64 st;
    if (_fstat64(_fileno(f_), &st) != 0) return Fail(errno);
    *size = uint64_t(st.st_size);
    return true;
  }
};

class WindowsFileSystem : public FileSystem {
 public:
  std::unique_ptr<File> Open(const char* path, OpenMode mode, bool denyWrite) override {
    static const int kFlags[] = {_O_RDONLY, _O_RDWR, _O_RDWR | _O_CREAT | _O_TRUNC,
                                 _O_RDWR | _O_CREAT | _O_EXCL};
    static const char* const kModes[] = {"rb", "r+b", "w+b", "w+b"};
    int fd = -1;
    int share = denyWrite ? _SH_DENYWR : _SH_DENYNO;
    if (_sopen_s(&fd, path, kFlags[mode] | _O_BINARY | _O_NOINHERIT, share, _S_IREAD | _S_IWRITE) != 0)
      return Failed(errno);
    FILE* f = _fdopen(fd, kModes[mode]);
    if (!f) {
      int e = errno;
      _close(fd);
      return Failed(e);
    }
    return std::unique_ptr<File>(new WindowsFile(f));
  }
  bool Exists(const char* path) override { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }
  bool IsFolder(const char* path) override {
    DWORD a = GetFileAttributesA(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
  }
  bool Stat(const char* path, FileStat* stat) override {
    struct _stat64 st;
    if (_stat64(path, &st) != 0) return Fail(errno);
    stat->folder = (st.st_mode & _S_IFDIR) != 0;
    stat->regular = (st.st_mode & _S_IFREG) != 0;
    stat->size = uint64_t(st.st_size);
    stat->modified = int64_t(st.st_mtime);
    return Identify(path, &stat->id);
  }
  // A link (or another reparse point) is told by its attributes; a
  // read-only file can't be replaced by a rename either.
  bool StatLink(const char* path, FileStat* stat) override {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return WindowsFailure();
    DWORD a = data.dwFileAttributes;
    *stat = FileStat();
    stat->link = (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    stat->folder = !stat->link && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
    stat->regular = !stat->link && !stat->folder && !(a & FILE_ATTRIBUTE_DEVICE);
    stat->writable = stat->regular && !(a & FILE_ATTRIBUTE_READONLY);
    stat->size = uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    return true;
  }

 private:
  bool Identify(const char* path, FileId* id) {
    HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return WindowsFailure();
    BY_HANDLE_FILE_INFORMATION info;
    bool ok = GetFileInformationByHandle(h, &info) != 0;
    if (!ok) windowsError_ = GetLastError();
    CloseHandle(h);
    if (!ok) return Fail(kWindowsError);
    id->volume = info.dwVolumeSerialNumber;
    id->node = uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    return true;
  }

 public:
  bool MakeFolder(const char* path) override { return _mkdir(path) == 0 || Fail(errno); }
  bool Remove(const char* path) override { return remove(path) == 0 || Fail(errno); }
  bool RemoveFolder(const char* path) override { return _rmdir(path) == 0 || Fail(errno); }
  bool Rename(const char* from, const char* to) override {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) || WindowsFailure();
  }
  bool KeepPermissions(const char* from, const char* to) override {
    struct _stat64 st;
    if (_stat64(from, &st) != 0) return Fail(errno);
    return _chmod(to, st.st_mode & (_S_IREAD | _S_IWRITE)) == 0 || Fail(errno);
  }
  bool RenameOver(const char* from, const char* to) override {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) || WindowsFailure();
  }
  bool SyncFolder(const char*) override { return true; }
  bool ListFolder(const char* path, std::vector<std::string>* names) override {
    std::string pattern = std::string(path) + "\\*";
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(pattern.c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return WindowsFailure();
    do {
      if (strcmp(data.cFileName, ".") != 0 && strcmp(data.cFileName, "..") != 0)
        names->push_back(data.cFileName);
    } while (FindNextFileA(h, &data));
    DWORD last = GetLastError();
    FindClose(h);
    if (last == ERROR_NO_MORE_FILES) return true;
    windowsError_ = last;
    return Fail(kWindowsError);
  }
  const char* Error() const override { return Describe(error_, windowsError_, text_, sizeof text_); }

 private:
  bool Fail(int error) {
    error_ = error;
    return false;
  }
  bool WindowsFailure() {
    windowsError_ = GetLastError();
    return Fail(kWindowsError);
  }
  std::unique_ptr<File> Failed(int error) {
    error_ = error;
    return nullptr;
  }
  int error_ = 0;
  DWORD windowsError_ = 0;
  mutable char text_[256];
};
}  // namespace

FileSystem& SystemFileSystem() {
  static WindowsFileSystem system;
  return system;
}

#endif
