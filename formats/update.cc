// The update engine: copy the files behind the end of the archive, write the
// new directory behind them, sync, point the header at it, sync. Order of a
// run on an existing archive:
//   1. every input is planned (replaced, added or refused), every stored
//      entry checked to lie inside the file, and the new end checked against
//      the offsets the format can hold: nothing is written before;
//   2. each file is copied in chunks behind the old end (length of the file);
//      a file that fails or changes is reported and its bytes are written
//      over by the next;
//   3. the new directory follows the data; the archive is synced;
//   4. the two header words are written in one small write and synced: this
//      commits the run;
//   5. dead space beyond a quarter of the file is reclaimed by compaction.
// A failure before step 4 cuts the file back to its old length. A new
// archive goes through steps 1 to 4 in "<archive>.vrex-new", which is then
// renamed into place and its folder synced.
#include "formats/update.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "core/access.h"
#include "core/bytes.h"
#include "core/file.h"
#include "core/memory.h"
#include "formats/recovery.h"

namespace {
constexpr size_t kCopyChunk = 1u << 20;
constexpr uint32_t kHeaderWordsAt = 4;
const char kChanged[] = "Changed while read";
const char kUnreadable[] = "Can't read";

uint64_t AlignUp(uint64_t at, uint32_t align) { return align <= 1 ? at : (at + align - 1) / align * align; }

// Where the run writes: the archive itself, or the new one under its
// temporary name. `at` is the position of the next byte; the file's own
// position is kept there, so the copies are sequential writes.
struct Target {
  File* file;
  uint64_t start;  // the old end (or the header's end for a new archive)
  uint64_t at;
  bool moved;      // the file's position may differ from `at` (a copy failed midway)
};

int Pad(Target* t, uint32_t align, uint8_t* zeros) {
  uint64_t to = AlignUp(t->at, align);
  if (to == t->at) return 1;
  if (!WriteFar(*t->file, t->at, zeros, size_t(to - t->at))) return 0;
  t->at = to;
  return 1;
}

enum CopyResult { COPIED, SOURCE_FAILED, TARGET_FAILED };

// Copies the input's `size` bytes to the target's position. A source that
// can't be opened or read, or that holds more or fewer bytes than when it
// was named, fails with *reason set.
CopyResult Copy(FileSystem& fs, const AddInput& input, Target* t, uint8_t* buffer, size_t bufferSize,
                const char** reason) {
  std::unique_ptr<File> source = fs.Open(input.path.c_str(), OPEN_READ, false);
  *reason = kUnreadable;
  if (!source) return SOURCE_FAILED;
  // A seek costs system calls (the stream refills its buffer), so it is
  // made only after a failed copy left the position elsewhere.
  if (t->moved && !t->file->Seek(t->at)) {
    ReportAccessError("\tseek failed", t->file->Error());
    return TARGET_FAILED;
  }
  t->moved = true;
  uint64_t left = input.size;
  while (left) {
    size_t want = left < bufferSize ? size_t(left) : bufferSize;
    size_t got = source->Read(buffer, want);
    if (got != want) {
      *reason = source->Error() == END_OF_FILE_REASON ? kChanged : kUnreadable;
      return SOURCE_FAILED;
    }
    if (t->file->Write(buffer, got) != got) {
      ReportAccessError("\twrite failed", t->file->Error());
      return TARGET_FAILED;
    }
    left -= got;
  }
  uint8_t more;
  if (source->Read(&more, 1) != 0) {
    *reason = kChanged;
    return SOURCE_FAILED;
  }
  if (source->Error() != END_OF_FILE_REASON) {
    *reason = kUnreadable;
    return SOURCE_FAILED;
  }
  t->moved = false;
  return COPIED;
}

// Bytes of the file that no entry points to and that hold no directory or
// header: what a compaction would give back.
uint64_t DeadSpace(const std::vector<uint8_t>& dir, uint32_t count, const DeleteRow& layout, uint64_t length) {
  std::vector<std::pair<uint64_t, uint64_t>> ranges;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* entry = dir.data() + uint64_t(i) * layout.entrySize;
    uint64_t offset = ReadU32LE(entry + layout.offsetAt), size = ReadU32LE(entry + layout.sizeAt);
    if (size) ranges.push_back({offset, offset + size});
  }
  std::sort(ranges.begin(), ranges.end());
  uint64_t live = layout.headerSize + dir.size(), reach = 0;
  for (const auto& r : ranges) {
    uint64_t from = std::max(r.first, reach);
    if (r.second > from) live += r.second - from;
    reach = std::max(reach, r.second);
  }
  return length > live ? length - live : 0;
}

void PrintStored(const Put& put, const DeleteRow& layout) {
  std::string name = put.shown;
  if (name.empty() && !put.entry.empty()) {
    const char* field = reinterpret_cast<const char*>(put.entry.data() + layout.nameAt);
    name.assign(field, strnlen(field, layout.nameWidth));
  }
  printf("%s %s%s\n", put.replaces >= 0 ? "Replacing" : "Adding", name.c_str(), put.note.c_str());
}

void PrintRefused(const char* reason, const AddInput& input) { printf("%s %s - skipped\n", reason, input.path.c_str()); }

// The new directory: the plan's order, with the replaced entries' new
// places and sizes and without the new entries whose file failed.
std::vector<uint8_t> NewDirectory(const AddRow& row, const uint8_t* directory, uint32_t count,
                                  const UpdatePlan& plan, const std::vector<uint64_t>& placedAt,
                                  const std::vector<uint32_t>& sizes, uint32_t* newCount) {
  const DeleteRow& layout = *row.layout;
  std::vector<int64_t> replacedBy(count, -1);
  std::vector<bool> groupStored;
  for (size_t j = 0; j < plan.puts.size(); ++j) {
    if (placedAt[j] == UINT64_MAX) continue;
    const Put& put = plan.puts[j];
    if (put.replaces >= 0) replacedBy[size_t(put.replaces)] = int64_t(j);
    if (put.group >= 0) {
      if (groupStored.size() <= size_t(put.group)) groupStored.resize(size_t(put.group) + 1);
      groupStored[size_t(put.group)] = true;
    }
  }
  std::vector<uint8_t> out;
  out.reserve(plan.order.size() * layout.entrySize);
  *newCount = 0;
  for (const Slot& slot : plan.order) {
    size_t at = out.size();
    int64_t put = -1;
    if (slot.kind == Slot::OLD) {
      out.insert(out.end(), directory + uint64_t(slot.index) * layout.entrySize,
                 directory + uint64_t(slot.index + 1) * layout.entrySize);
      put = replacedBy[slot.index];
    } else if (slot.kind == Slot::PUT) {
      put = slot.index;
      if (placedAt[slot.index] == UINT64_MAX) continue;
      out.insert(out.end(), plan.puts[slot.index].entry.begin(), plan.puts[slot.index].entry.end());
    } else {
      int32_t group = plan.fixedGroup[slot.index];
      if (group >= 0 && (size_t(group) >= groupStored.size() || !groupStored[size_t(group)])) continue;
      out.insert(out.end(), plan.fixed[slot.index].begin(), plan.fixed[slot.index].end());
    }
    ++*newCount;
    if (put < 0) continue;
    WriteU32LE(&out[at + layout.offsetAt], uint32_t(placedAt[size_t(put)]));
    row.setSize(&out[at], sizes[size_t(put)]);
  }
  return out;
}

std::string WithSuffix(const char* name, const char* suffix) { return std::string(name) + suffix; }
}  // namespace

std::string RelativePath(const std::string& path) {
  std::string relative = path;
#ifdef _WIN32
  for (char& c : relative)
    if (c == '\\') c = '/';
#endif
  while (relative.compare(0, 2, "./") == 0) relative.erase(0, 2);
  return relative;
}

std::string LastComponent(const std::string& path) {
  std::string relative = RelativePath(path);
  size_t slash = relative.rfind('/');
  return slash == std::string::npos ? relative : relative.substr(slash + 1);
}

const char NEW_ARCHIVE_SUFFIX[] = ".vrex-new";

void AppendInOrder(uint32_t count, UpdatePlan* plan) {
  plan->order.clear();
  for (uint32_t i = 0; i < count; ++i) plan->order.push_back({Slot::OLD, i});
  for (size_t j = 0; j < plan->puts.size(); ++j)
    if (!plan->puts[j].refusal && plan->puts[j].replaces < 0) plan->order.push_back({Slot::PUT, uint32_t(j)});
}

UpdateResult RunUpdate(const ArchiverState& run, const AddRow& row, const AddRequest& request,
                       const uint8_t* directory, uint32_t count, const std::vector<AddInput>& inputs,
                       const char* magic) {
  const DeleteRow& layout = *row.layout;
  FileSystem& fs = *run.fs;
  UpdateResult result;
  UpdatePlan plan;
  plan.puts.resize(inputs.size());
  for (size_t i = 0; i < inputs.size(); ++i) plan.puts[i].refusal = inputs[i].refusal;
  row.plan(request, directory, count, inputs, &plan);

  // The new end, before anything is written.
  Target t = {run.archive, layout.headerSize, 0, true};
  if (t.file && !t.file->Size(&t.start)) {
    ReportAccessError("\tread failed", t.file->Error());
    result.failed = true;
    return result;
  }
  // No data may lie where the header words go, in a file cut off inside its
  // header too.
  uint64_t end = AlignUp(std::max<uint64_t>(t.start, layout.headerSize), row.dataAlign);
  uint64_t largest = 0;
  size_t accepted = 0;
  for (size_t i = 0; i < inputs.size(); ++i) {
    if (plan.puts[i].refusal) continue;
    ++accepted;
    end = AlignUp(end + inputs[i].size, row.dataAlign);
    largest = std::max(largest, inputs[i].size);
  }
  if (accepted == 0) {
    for (size_t i = 0; i < inputs.size(); ++i) PrintRefused(plan.puts[i].refusal, inputs[i]);
    result.refused = uint32_t(inputs.size());
    return result;
  }
  // An entry whose data runs past the old end would read what the run puts
  // there: such an archive is left as it is, as deletion leaves it.
  if (!DataInside(directory, count, layout, t.start)) {
    result.failed = true;
    return result;
  }
  if (end + uint64_t(plan.order.size()) * layout.entrySize > OFFSET_LIMIT) {
    printf("\t%s: the archive would grow past 2 GiB, more than its offsets can hold - nothing stored\n",
           run.archiveName);
    result.failed = true;
    return result;
  }

  // The header words as they are (a file cut short inside them: the bytes it has).
  uint8_t oldWords[8] = {};
  size_t present = t.start > kHeaderWordsAt ? size_t(std::min<uint64_t>(sizeof oldWords, t.start - kHeaderWordsAt)) : 0;
  if (t.file && !ReadFar(*t.file, kHeaderWordsAt, oldWords, present)) {
    result.failed = true;
    return result;
  }
  std::unique_ptr<File> created;
  std::string newName = WithSuffix(run.archiveName, NEW_ARCHIVE_SUFFIX);
  if (!t.file) {
    fs.Remove(newName.c_str());  // left by a run that was killed
    created = fs.Open(newName.c_str(), OPEN_CREATE_NEW, true);
    if (!created) {
      ReportAccessError("\topen failed", fs.Error());
      result.failed = true;
      return result;
    }
    t.file = created.get();
  }

  size_t bufferSize = size_t(std::min<uint64_t>(std::max<uint64_t>(largest, 16), kCopyChunk));
  uint8_t* buffer = static_cast<uint8_t*>(Allocate(bufferSize));
  if (!buffer) {
    printf("Can't allocate %ul bytes\n", unsigned(bufferSize));
    result.failed = true;
  }

  // 2. The data, in input order.
  std::vector<uint64_t> placedAt(inputs.size(), UINT64_MAX);
  std::vector<uint32_t> sizes(inputs.size(), 0);
  uint8_t zeros[16] = {};
  t.at = t.start;
  bool written = !result.failed;
  if (written && !t.file->Seek(t.at)) written = false;
  // A new archive gets its header; one cut off inside its header gets the
  // rest of it, written behind the old end.
  if (written && (created || t.at < layout.headerSize)) {
    uint8_t header[12] = {};
    if (magic) memcpy(header, magic, 4);
    uint64_t from = created ? 0 : t.at;
    written = WriteFar(*t.file, from, header + from, size_t(sizeof header - from));
    t.at = sizeof header;
  }
  if (written && !created) written = Pad(&t, row.dataAlign, zeros);
  for (size_t i = 0; i < inputs.size() && written; ++i) {
    const Put& put = plan.puts[i];
    if (put.refusal) {
      PrintRefused(put.refusal, inputs[i]);
      ++result.refused;
      continue;
    }
    const char* reason = nullptr;
    CopyResult copied = Copy(fs, inputs[i], &t, buffer, bufferSize, &reason);
    if (copied == TARGET_FAILED) {
      written = false;
      break;
    }
    if (copied == SOURCE_FAILED) {
      PrintRefused(reason, inputs[i]);
      ++result.refused;
      continue;
    }
    placedAt[i] = t.at;
    sizes[i] = uint32_t(inputs[i].size);
    t.at += inputs[i].size;
    written = Pad(&t, row.dataAlign, zeros);
    PrintStored(put, layout);
    result.storedInputs.push_back(i);
  }
  Release(buffer);

  // 3. and 4. The directory, then the header words that commit it.
  uint32_t newCount = 0;
  std::vector<uint8_t> newDir;
  if (written) newDir = NewDirectory(row, directory, count, plan, placedAt, sizes, &newCount);
  uint64_t dirOffset = t.at;
  uint8_t words[8];
  WriteU32LE(words, layout.countFirst ? newCount : uint32_t(dirOffset));
  WriteU32LE(words + 4, layout.countFirst ? uint32_t(dirOffset) : uint32_t(newDir.size()));
  bool anything = !result.storedInputs.empty();
  bool durable = written && anything && WriteFar(*t.file, dirOffset, newDir.data(), newDir.size()) &&
                 SyncFile(*t.file);
  bool committed = durable && WriteFar(*t.file, kHeaderWordsAt, words, sizeof words) && SyncFile(*t.file);
  if (created) {
    committed = created->Close() && committed;
    if (committed && !fs.Rename(newName.c_str(), run.archiveName)) {
      ReportAccessError("\trename failed", fs.Error());
      committed = false;
    } else if (committed && !fs.SyncFolder(run.archiveName)) {
      ReportAccessError("\twrite failed", fs.Error());
      fs.Remove(run.archiveName);  // not known to be durable: not there at all
      committed = false;
    }
    if (!committed) fs.Remove(newName.c_str());
  } else if (!committed) {
    // The archive as it was, byte for byte: the old header words durable
    // first (the new ones may have been written), then the old length.
    File& f = *t.file;
    bool restored = !durable || (WriteFar(f, kHeaderWordsAt, oldWords, sizeof oldWords) && SyncFile(f));
    if (restored && !(f.SetLength(t.start) && f.Sync())) ReportAccessError("\twrite failed", f.Error());
  }
  if (!committed) {
    result.storedInputs.clear();
    if (anything || !written) {
      printf("\t%s: the update failed - the archive is as it was\n", run.archiveName);
      result.failed = true;
    }
    return result;
  }
  result.stored = uint32_t(result.storedInputs.size());

  // 5. Dead space beyond a quarter of the file goes, the directory keeping its order.
  uint64_t length = dirOffset + newDir.size();
  if (!created && DeadSpace(newDir, newCount, layout, length) > length / 4) {
    ArchiverState after = run;
    after.archiveSize = length;
    if (!CompactArchive(after, newDir.data(), newCount, layout, true, JOB_UPDATE, row.dataAlign) &&
        fs.Exists(WithSuffix(run.archiveName, RECOVERY_SUFFIX).c_str()))
      result.recoveryPending = true;
  }
  return result;
}
