// The file interface of vrex.
//
// Every byte the archiver reads or writes goes through a File, and every
// request to the file system (open, folders, remove, rename, sync) through a
// FileSystem. SystemFileSystem() is the machine's own: POSIX on Linux, the C
// runtime on Windows. Tests and fuzz targets hand the archiver another one:
// a file system that fails chosen calls, stops the process or loses unsynced
// writes, or one that lives in memory. Nothing else in vrex calls stdio on a
// file.
//
// Positions and lengths are 64-bit. Calls return true or a byte count; after
// a failure, Error() describes it in the system's words. A read that comes up
// short without a system error is described as "unexpected end of file".
#ifndef VREX_CORE_FILE_H
#define VREX_CORE_FILE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

extern const char* const END_OF_FILE_REASON;  // "unexpected end of file"

class File {
 public:
  virtual ~File() = default;
  virtual size_t Read(void* buffer, size_t size) = 0;        // at the position
  virtual size_t Write(const void* buffer, size_t size) = 0;  // at the position
  virtual bool Seek(uint64_t offset) = 0;                     // from the start
  virtual bool Tell(uint64_t* offset) = 0;
  virtual bool Flush() = 0;  // hands buffered bytes to the system
  virtual bool Sync() = 0;   // flushes, and makes the bytes durable
  virtual bool SetLength(uint64_t length) = 0;
  virtual bool Size(uint64_t* size) = 0;
  virtual bool Close() = 0;  // at most once; a later call does nothing, other calls fail
  virtual const char* Error() const = 0;
};

enum OpenMode {
  OPEN_READ,        // an existing file, for reading ("rb")
  OPEN_UPDATE,      // an existing file, for reading and writing ("r+b")
  OPEN_CREATE,      // created or emptied, for reading and writing ("w+b")
  OPEN_CREATE_NEW,  // created, failing when the name exists
};

// What the file system says of a name: whether it is a folder, the file's
// length, its last modification, and its identity on disk (for telling
// whether two names are one file). StatLink also tells a symbolic link and
// whether a file may be written.
struct FileId {
  uint64_t volume = 0;
  uint64_t node = 0;
  bool operator==(const FileId& o) const { return volume == o.volume && node == o.node; }
};
struct FileStat {
  bool folder = false;
  bool regular = false;  // a plain file (not a folder, device or pipe)
  bool link = false;     // StatLink only: a symbolic link (neither folder nor regular then)
  bool writable = false; // StatLink only: this process may write the file
  uint64_t size = 0;
  int64_t modified = 0;  // Stat only: seconds since 1970-01-01 00:00 UTC
  FileId id;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // denyWrite: other programs may read the file while it is open, nobody may
  // write it, and the open fails while another program holds it for writing.
  virtual std::unique_ptr<File> Open(const char* path, OpenMode mode, bool denyWrite) = 0;
  virtual bool Exists(const char* path) = 0;  // a file or folder of that name
  virtual bool IsFolder(const char* path) = 0;
  virtual bool Stat(const char* path, FileStat* stat) = 0;  // follows links
  // The name itself, a link not followed; the id is left null.
  virtual bool StatLink(const char* path, FileStat* stat) = 0;
  virtual bool MakeFolder(const char* path) = 0;
  virtual bool Remove(const char* path) = 0;        // a file
  virtual bool RemoveFolder(const char* path) = 0;  // an empty folder
  virtual bool Rename(const char* from, const char* to) = 0;  // replaces `to`, durably on Windows
  // Replaces `to` (a link itself, not what it points to) and leaves it to the
  // system when the change reaches the disk.
  virtual bool RenameOver(const char* from, const char* to) = 0;
  // Gives the file `to` the permission bits of the file `from`.
  virtual bool KeepPermissions(const char* from, const char* to) = 0;
  // Makes the creation, removal or renaming of the file `path` durable by
  // syncing the folder that holds it.
  virtual bool SyncFolder(const char* path) = 0;
  // The names in a folder ("." and ".." left out), in no particular order.
  virtual bool ListFolder(const char* path, std::vector<std::string>* names) = 0;
  virtual const char* Error() const = 0;
};

FileSystem& SystemFileSystem();

// The folder separator written to disk for a member path.
#ifdef _WIN32
constexpr char PLATFORM_SEPARATOR = '\\';
#else
constexpr char PLATFORM_SEPARATOR = '/';
#endif

#endif
