#include "tests/support/faults.h"

#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "core/memory.h"

namespace {
const char kInputOutput[] = "Input/output error";
const char kNoSpace[] = "No space left on device";

Faults* allocationFaults = nullptr;

bool Hit(unsigned long* counter, unsigned long failAt) {
  ++*counter;
  return failAt != 0 && *counter == failAt;
}

bool AllocationFails(size_t size) {
  if (!allocationFaults) return false;
  if (Hit(&allocationFaults->allocs, allocationFaults->failAlloc)) return true;
  return allocationFaults->failAllocAbove != 0 && size > allocationFaults->failAllocAbove;
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

// A file as the power-cut simulation knows it; its path follows renames.
struct Node {
  std::string path;
};

// A change a power cut would undo, until a sync makes it durable.
struct Change {
  enum Kind { WRITE, CREATE, RENAME } kind;
  std::shared_ptr<Node> node;
  uint64_t oldLength = 0;  // WRITE: the length before, and the bytes it replaced at `at`
  uint64_t at = 0;
  std::string bytes;
  std::string from, to;    // RENAME: and the file `to` replaced, if any
  bool replaced = false;
};

class FaultyFileSystem;

class FaultyFile : public File {
 public:
  FaultyFile(FaultyFileSystem* fs, std::unique_ptr<File> inner, std::shared_ptr<Node> node)
      : fs_(fs), inner_(std::move(inner)), node_(std::move(node)) {}
  size_t Read(void* buffer, size_t size) override;
  size_t Write(const void* buffer, size_t size) override;
  bool Seek(uint64_t offset) override { return Pass(inner_->Seek(offset)); }
  bool Tell(uint64_t* offset) override { return Pass(inner_->Tell(offset)); }
  bool Flush() override { return Pass(inner_->Flush()); }
  bool Sync() override;
  bool SetLength(uint64_t length) override;
  bool Size(uint64_t* size) override { return Pass(inner_->Size(size)); }
  bool Close() override { return Pass(inner_->Close()); }
  const char* Error() const override { return injected_ ? injected_ : inner_->Error(); }

 private:
  bool Pass(bool ok) {
    if (!ok) injected_ = nullptr;
    return ok;
  }
  FaultyFileSystem* fs_;
  std::unique_ptr<File> inner_;
  std::shared_ptr<Node> node_;
  const char* injected_ = nullptr;
};

class FaultyFileSystem : public FileSystem {
 public:
  FaultyFileSystem(FileSystem& inner, Faults* faults) : inner_(inner), faults_(faults) {}

  std::unique_ptr<File> Open(const char* path, OpenMode mode, bool denyWrite) override {
    bool exists = inner_.Exists(path);
    bool creates = faults_->powerLoss && mode >= OPEN_CREATE && !exists;
    std::shared_ptr<Node> node = NodeOf(path);
    if (faults_->powerLoss && mode == OPEN_CREATE && exists) SaveUndo(node, 0, UINT64_MAX);  // emptied
    std::unique_ptr<File> file = inner_.Open(path, mode, denyWrite);
    injected_ = nullptr;
    if (!file) return nullptr;
    if (creates) {
      Change c;
      c.kind = Change::CREATE;
      c.node = node;
      pending_.push_back(c);
    }
    return std::unique_ptr<File>(new FaultyFile(this, std::move(file), node));
  }
  bool Exists(const char* path) override { return inner_.Exists(path); }
  bool IsFolder(const char* path) override { return inner_.IsFolder(path); }
  bool Stat(const char* path, FileStat* stat) override { return Pass(inner_.Stat(path, stat)); }
  bool StatLink(const char* path, FileStat* stat) override { return Pass(inner_.StatLink(path, stat)); }
  bool MakeFolder(const char* path) override { return Pass(inner_.MakeFolder(path)); }
  bool Remove(const char* path) override {
    for (size_t i = pending_.size(); i-- > 0;)
      if (pending_[i].node && pending_[i].node->path == path && pending_[i].kind != Change::RENAME)
        pending_.erase(pending_.begin() + long(i));
    return Pass(inner_.Remove(path));
  }
  bool RemoveFolder(const char* path) override { return Pass(inner_.RemoveFolder(path)); }
  bool Rename(const char* from, const char* to) override {
    Change c;
    c.kind = Change::RENAME;
    c.from = from;
    c.to = to;
    if (faults_->powerLoss && inner_.Exists(to)) {
      c.replaced = true;
      c.bytes = ReadWhole(to);
    }
    if (!inner_.Rename(from, to)) return Pass(false);
    std::shared_ptr<Node> node = NodeOf(from);
    node->path = to;
    c.node = node;
    if (faults_->powerLoss) pending_.push_back(c);
    return true;
  }
  bool KeepPermissions(const char* from, const char* to) override { return Pass(inner_.KeepPermissions(from, to)); }
  bool RenameOver(const char* from, const char* to) override { return Rename(from, to); }
  bool SyncFolder(const char* path) override {
    if (SyncFails()) return Inject(kInputOutput);
    if (!inner_.SyncFolder(path)) return Pass(false);
    std::string folder = FolderOf(path);
    for (size_t i = pending_.size(); i-- > 0;) {
      const Change& c = pending_[i];
      if (c.kind != Change::WRITE && FolderOf(c.node->path) == folder) pending_.erase(pending_.begin() + long(i));
    }
    return true;
  }
  bool ListFolder(const char* path, std::vector<std::string>* names) override {
    return Pass(inner_.ListFolder(path, names));
  }
  const char* Error() const override { return injected_ ? injected_ : inner_.Error(); }

  // ---- for FaultyFile
  Faults& faults() { return *faults_; }
  void StopIf(unsigned long count, unsigned long stopAt) {
    if (stopAt == 0 || count != stopAt) return;
    if (faults_->powerLoss) RollBack();
    raise(SIGKILL);
  }
  bool SyncFails() {
    StopIf(faults_->syncs + 1, faults_->stopAtSync);
    return Hit(&faults_->syncs, faults_->failSync);
  }
  // Keeps what a write of `size` bytes at `at` (or a cut to `at`, size ~0)
  // replaces, until a sync of the file.
  void SaveUndo(const std::shared_ptr<Node>& node, uint64_t at, uint64_t size) {
    std::string old = ReadWhole(node->path.c_str());
    Change c;
    c.kind = Change::WRITE;
    c.node = node;
    c.oldLength = old.size();
    c.at = at;
    if (at < old.size()) c.bytes = old.substr(size_t(at), size_t(std::min<uint64_t>(size, old.size() - at)));
    pending_.push_back(c);
  }
  void DropWrites(const std::shared_ptr<Node>& node) {
    for (size_t i = pending_.size(); i-- > 0;)
      if (pending_[i].kind == Change::WRITE && pending_[i].node == node) pending_.erase(pending_.begin() + long(i));
  }

 private:
  bool Pass(bool ok) {
    if (!ok) injected_ = nullptr;
    return ok;
  }
  bool Inject(const char* reason) {
    injected_ = reason;
    return false;
  }
  std::shared_ptr<Node> NodeOf(const char* path) {
    for (const auto& node : nodes_)
      if (node->path == path) return node;
    nodes_.push_back(std::make_shared<Node>(Node{path}));
    return nodes_.back();
  }
  std::string ReadWhole(const char* path) {
    std::string bytes;
    std::unique_ptr<File> f = inner_.Open(path, OPEN_READ, false);
    if (!f) return bytes;
    char buffer[65536];
    for (size_t n; (n = f->Read(buffer, sizeof buffer)) > 0;) bytes.append(buffer, n);
    return bytes;
  }
  void WriteWhole(const std::string& path, uint64_t length, uint64_t at, const std::string& bytes) {
    std::unique_ptr<File> f = inner_.Open(path.c_str(), OPEN_UPDATE, false);
    if (!f) return;
    f->SetLength(length);
    if (!bytes.empty() && f->Seek(at)) f->Write(bytes.data(), bytes.size());
    f->Close();
  }
  // Puts back what a power cut would lose, newest change first.
  void RollBack() {
    for (size_t i = pending_.size(); i-- > 0;) {
      const Change& c = pending_[i];
      if (c.kind == Change::WRITE) {
        WriteWhole(c.node->path, c.oldLength, c.at, c.bytes);
      } else if (c.kind == Change::CREATE) {
        inner_.Remove(c.node->path.c_str());
      } else {
        inner_.Rename(c.to.c_str(), c.from.c_str());
        c.node->path = c.from;
        if (c.replaced) {
          std::unique_ptr<File> f = inner_.Open(c.to.c_str(), OPEN_CREATE, false);
          if (f) f->Write(c.bytes.data(), c.bytes.size());
        }
      }
    }
  }

  FileSystem& inner_;
  Faults* faults_;
  const char* injected_ = nullptr;
  std::vector<std::shared_ptr<Node>> nodes_;
  std::vector<Change> pending_;  // oldest first
};

size_t FaultyFile::Read(void* buffer, size_t size) {
  if (Hit(&fs_->faults().reads, fs_->faults().failRead) || node_->path == fs_->faults().failReadsOf) {
    injected_ = END_OF_FILE_REASON;  // the read comes up short
    return 0;
  }
  injected_ = nullptr;
  return inner_->Read(buffer, size);
}

size_t FaultyFile::Write(const void* buffer, size_t size) {
  Faults& faults = fs_->faults();
  fs_->StopIf(faults.writes + 1, faults.stopAtWrite);
  if (Hit(&faults.writes, faults.failWrite)) {
    injected_ = kNoSpace;
    return 0;
  }
  injected_ = nullptr;
  if (faults.powerLoss) {
    uint64_t at = 0;
    if (inner_->Flush() && inner_->Tell(&at)) fs_->SaveUndo(node_, at, size);
  }
  return inner_->Write(buffer, size);
}

bool FaultyFile::Sync() {
  if (fs_->SyncFails()) {
    injected_ = kInputOutput;
    return false;
  }
  if (!Pass(inner_->Sync())) return false;
  fs_->DropWrites(node_);
  return true;
}

bool FaultyFile::SetLength(uint64_t length) {
  if (fs_->faults().powerLoss && inner_->Flush()) fs_->SaveUndo(node_, length, UINT64_MAX);
  return Pass(inner_->SetLength(length));
}
}  // namespace

std::unique_ptr<FileSystem> MakeFaultyFileSystem(FileSystem& inner, Faults* faults) {
  return std::unique_ptr<FileSystem>(new FaultyFileSystem(inner, faults));
}

void InstallAllocationFaults(Faults* faults) {
  allocationFaults = faults;
  SetAllocationFault(faults ? AllocationFails : nullptr);
  if (faults) faults->reads = faults->writes = faults->syncs = faults->allocs = 0;
}
