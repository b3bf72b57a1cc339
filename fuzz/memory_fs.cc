#include "fuzz/memory_fs.h"

#include <cstring>

namespace {
const char kNoEntry[] = "No such file or directory";
const char kExists[] = "File exists";
const char kTooLarge[] = "File too large";
const char kNotFolder[] = "Not a directory";
constexpr uint64_t kLargest = 64u << 20;

class MemoryFile : public File {
 public:
  MemoryFile(std::shared_ptr<std::string> data, bool writable) : data_(std::move(data)), writable_(writable) {}
  size_t Read(void* buffer, size_t size) override {
    size_t left = position_ < data_->size() ? data_->size() - size_t(position_) : 0;
    size_t n = size < left ? size : left;
    if (n) memcpy(buffer, data_->data() + position_, n);
    position_ += n;
    if (n < size) error_ = END_OF_FILE_REASON;
    return n;
  }
  size_t Write(const void* buffer, size_t size) override {
    if (!writable_) return Failed("Bad file descriptor");
    if (position_ + size > kLargest) return Failed(kTooLarge);
    if (position_ + size > data_->size()) data_->resize(size_t(position_ + size));
    if (size) memcpy(&(*data_)[size_t(position_)], buffer, size);
    position_ += size;
    return size;
  }
  bool Seek(uint64_t offset) override {
    position_ = offset;
    return true;
  }
  bool Tell(uint64_t* offset) override {
    *offset = position_;
    return true;
  }
  bool Flush() override { return true; }
  bool Sync() override { return true; }
  bool SetLength(uint64_t length) override {
    if (!writable_ || length > kLargest) return Failed(kTooLarge) != 0;
    data_->resize(size_t(length));
    return true;
  }
  bool Size(uint64_t* size) override {
    *size = data_->size();
    return true;
  }
  bool Close() override { return true; }
  const char* Error() const override { return error_; }

 private:
  size_t Failed(const char* error) {
    error_ = error;
    return 0;
  }
  std::shared_ptr<std::string> data_;
  bool writable_;
  uint64_t position_ = 0;
  const char* error_ = "";
};
}  // namespace

bool MemoryFileSystem::ParentExists(const std::string& path) const {
  size_t slash = path.rfind('/');
  return slash == std::string::npos || folders_.count(path.substr(0, slash)) != 0;
}

std::unique_ptr<File> MemoryFileSystem::Open(const char* path, OpenMode mode, bool) {
  auto found = files_.find(path);
  if (mode == OPEN_READ || mode == OPEN_UPDATE) {
    if (found == files_.end()) return Fail(folders_.count(path) ? "Is a directory" : kNoEntry), nullptr;
    return std::unique_ptr<File>(new MemoryFile(found->second, mode == OPEN_UPDATE));
  }
  if (mode == OPEN_CREATE_NEW && (found != files_.end() || folders_.count(path)))
    return Fail(kExists), nullptr;
  if (folders_.count(path) || !ParentExists(path)) return Fail(kNoEntry), nullptr;
  if (found == files_.end()) {
    found = files_.emplace(path, std::make_shared<std::string>()).first;
    ids_[path] = nextId_++;
  }
  found->second->clear();
  return std::unique_ptr<File>(new MemoryFile(found->second, true));
}

bool MemoryFileSystem::Exists(const char* path) { return files_.count(path) || folders_.count(path); }

bool MemoryFileSystem::IsFolder(const char* path) { return folders_.count(path) != 0; }

bool MemoryFileSystem::Stat(const char* path, FileStat* stat) {
  *stat = FileStat();
  if (folders_.count(path)) {
    stat->folder = true;
    stat->id.volume = 1;
    stat->id.node = ids_[path];  // walks tell folders apart by it
    return true;
  }
  auto found = ids_.find(path);
  if (found == ids_.end()) return Fail(kNoEntry);
  stat->size = files_[path]->size();
  stat->regular = true;
  stat->id.volume = 1;
  stat->id.node = found->second;
  return true;
}

bool MemoryFileSystem::StatLink(const char* path, FileStat* stat) {
  if (!Stat(path, stat)) return false;
  stat->writable = stat->regular;
  stat->id = FileId();
  return true;
}

bool MemoryFileSystem::MakeFolder(const char* path) {
  if (Exists(path)) return Fail(kExists);
  if (!*path || !ParentExists(path)) return Fail(kNoEntry);
  folders_.insert(path);
  ids_[path] = nextId_++;
  return true;
}

bool MemoryFileSystem::Remove(const char* path) {
  if (!files_.erase(path)) return Fail(kNoEntry);
  ids_.erase(path);
  return true;
}

bool MemoryFileSystem::RemoveFolder(const char* path) {
  std::string prefix = std::string(path) + "/";
  for (const auto& f : files_)
    if (f.first.compare(0, prefix.size(), prefix) == 0) return Fail("Directory not empty");
  for (const auto& f : folders_)
    if (f.compare(0, prefix.size(), prefix) == 0) return Fail("Directory not empty");
  if (!folders_.erase(path)) return Fail(kNoEntry);
  ids_.erase(path);
  return true;
}

bool MemoryFileSystem::Rename(const char* from, const char* to) {
  auto found = files_.find(from);
  if (found == files_.end()) return Fail(kNoEntry);
  if (!ParentExists(to) || folders_.count(to)) return Fail(kNoEntry);
  std::shared_ptr<std::string> data = found->second;
  uint64_t id = ids_[from];
  files_.erase(found);
  ids_.erase(from);
  files_[to] = data;
  ids_[to] = id;
  return true;
}

bool MemoryFileSystem::ListFolder(const char* path, std::vector<std::string>* names) {
  std::string folder = path;
  if (folder != "." && !folders_.count(folder)) return Fail(folders_.count(folder) ? kNotFolder : kNoEntry);
  std::string prefix = folder == "." ? "" : folder + "/";
  auto direct = [&](const std::string& p) {
    return p.compare(0, prefix.size(), prefix) == 0 && p.size() > prefix.size() &&
           p.find('/', prefix.size()) == std::string::npos;
  };
  for (const auto& f : files_)
    if (direct(f.first)) names->push_back(f.first.substr(prefix.size()));
  for (const auto& f : folders_)
    if (direct(f)) names->push_back(f.substr(prefix.size()));
  return true;
}

void MemoryFileSystem::Put(const std::string& path, const std::string& bytes) {
  files_[path] = std::make_shared<std::string>(bytes);
  ids_[path] = nextId_++;
}

std::string MemoryFileSystem::Get(const std::string& path) const {
  auto found = files_.find(path);
  return found == files_.end() ? "" : *found->second;
}

void MemoryFileSystem::Clear() {
  files_.clear();
  ids_.clear();
  folders_.clear();
}

std::map<std::string, std::string> MemoryFileSystem::Files() const {
  std::map<std::string, std::string> out;
  for (const auto& f : files_) out[f.first] = *f.second;
  return out;
}
