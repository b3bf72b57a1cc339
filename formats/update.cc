// The update engine: every input planned, then the run committed by the
// row's style (update.h). Order of a run:
//   1. every input is planned (replaced, added or refused by the format, new
//      entries past the row's limit refused), every stored entry checked to
//      lie inside the file, and the new end checked against the offsets the
//      formats can hold: nothing is written before;
//   2. the style's commit: COMMIT_HEADER_WORDS here, COMMIT_FRONT_TABLE in
//      front_table.cc, COMMIT_REWRITE in rewrite.cc;
//   3. dead space beyond a quarter of the file is reclaimed by compaction.
// A new archive (styles 1 and 2; style 3 makes it as a rewrite) goes through
// the same steps in "<archive>.vrex-new", which is then renamed into place
// and its folder synced.
//
// COMMIT_HEADER_WORDS:
//   a. each file is copied in chunks behind the old end (length of the file);
//      a file that fails or changes is reported and its bytes are written
//      over by the next;
//   b. the new directory follows the data; the archive is synced;
//   c. the header words are written in one small write and synced: this
//      commits the run.
// A failure before c. is done writes the old words back, synced, and cuts
// the file to its old length.
#include "formats/update.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "core/access.h"
#include "core/bytes.h"
#include "core/file.h"
#include "core/memory.h"
#include "formats/compact.h"
#include "formats/engine.h"
#include "formats/recovery.h"

namespace {
const char kArchiveFull[] = "Archive full";
const char kDuplicate[] = "Duplicate name";
const char kAmbiguous[] = "Ambiguous name";
const char kTooLong[] = "Name too long";

std::string Folded(std::string name) {
  for (char& c : name)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return name;
}

// New entries beyond the row's limit are refused, in input order.
void ApplyEntryLimit(const WriteRow& row, uint32_t count, UpdatePlan* plan) {
  if (!row.entryLimit) return;
  uint64_t room = row.entryLimit > count ? row.entryLimit - count : 0;
  for (Put& put : plan->puts) {
    if (put.refusal || put.replaces >= 0) continue;
    if (room)
      --room;
    else
      put.refusal = kArchiveFull;
  }
  auto refused = [&](const Slot& s) { return s.kind == Slot::PUT && plan->puts[s.index].refusal; };
  plan->order.erase(std::remove_if(plan->order.begin(), plan->order.end(), refused), plan->order.end());
}

Stored NoneStored(size_t inputs) {
  Stored stored;
  stored.placedAt.assign(inputs, UINT64_MAX);
  stored.sizes.assign(inputs, 0);
  stored.packed.assign(inputs, 0);
  return stored;
}

uint64_t Largest(const UpdatePlan& plan, const std::vector<AddInput>& inputs) {
  uint64_t largest = 0;
  for (size_t i = 0; i < inputs.size(); ++i)
    if (!plan.puts[i].refusal) largest = std::max(largest, inputs[i].size);
  return largest;
}

// The end of the data of a run that writes the accepted inputs from `from`.
uint64_t DataEnd(const WriteRow& row, const UpdatePlan& plan, const std::vector<AddInput>& inputs, uint64_t from) {
  uint64_t end = AlignUp(from, row.dataAlign);
  for (size_t i = 0; i < inputs.size(); ++i)
    if (!plan.puts[i].refusal) end = AlignUp(end + inputs[i].size, row.dataAlign);
  return end;
}

bool PastTheLimit(const ArchiverState& run, uint64_t end) {
  if (end <= OFFSET_LIMIT) return false;
  printf("\t%s: the archive would grow past 2 GiB, more than its offsets can hold - nothing stored\n",
         run.archiveName);
  return true;
}

// What a failed run prints and returns, once the archive is as before.
UpdateResult Failed(const ArchiverState& run, UpdateResult result, bool print) {
  result.storedInputs.clear();
  if (print) {
    PrintFailed(run);
    result.failed = true;
  }
  return result;
}

// A new archive of styles 1 and 2: the header and the table's room, the
// data, then the directory (behind the data, or the table in front) with
// the header words, all in "<archive>.vrex-new", put in place whole.
UpdateResult CreateArchive(const ArchiverState& run, const WriteRow& row, const UpdatePlan& plan,
                           const std::vector<AddInput>& inputs, const char* magic) {
  UpdateResult result;
  const bool front = row.style == COMMIT_FRONT_TABLE;
  uint64_t puts = 0;
  for (const Put& put : plan.puts) puts += put.refusal ? 0 : 1;
  uint64_t dataStart = front ? row.tableAt + std::max<uint64_t>(row.newRoom, puts) * row.entry.size : row.headerSize;
  if (PastTheLimit(run, DataEnd(row, plan, inputs, dataStart) + (front ? 0 : puts * row.entry.size))) {
    result.failed = true;
    return result;
  }
  std::string name = WithSuffix(run.archiveName, NEW_ARCHIVE_SUFFIX);
  std::unique_ptr<File> file = OpenNewFile(*run.fs, name);
  Buffer buffer = {nullptr, 0};
  if (!file) {
    result.failed = true;
    return result;
  }
  if (!MakeBuffer(Largest(plan, inputs), &buffer)) {
    file->Close();
    run.fs->Remove(name.c_str());
    return Failed(run, result, true);
  }
  std::vector<uint8_t> head(size_t(dataStart), 0);
  memcpy(head.data(), row.newHeader, row.headerSize);
  if (magic) memcpy(head.data(), magic, std::min<uint32_t>(4, row.headerSize));
  Target t = {file.get(), head.size(), false};
  Stored stored = NoneStored(inputs.size());
  bool written = WriteFar(*file, 0, head.data(), head.size()) &&
                 CopyInputs(run, row, plan, inputs, &t, buffer, &stored, &result);
  Release(buffer.data);

  uint32_t count = 0, wordsAt = 0;
  std::vector<uint8_t> entries = NewDirectory(row, nullptr, 0, plan, stored, &count);
  std::vector<uint8_t> block = front ? entries : DirectoryBlock(row, entries, count, t.at, head.data(), 0);
  uint64_t dirAt = front ? row.tableAt : t.at;
  std::vector<uint8_t> words = HeaderWords(row, dirAt, block.size(), count, &wordsAt);
  bool anything = !result.storedInputs.empty();
  bool committed = written && anything && WriteFar(*file, dirAt, block.data(), block.size()) &&
                   WriteFar(*file, wordsAt, words.data(), words.size()) && PutNewFile(run, *file, name, false);
  if (!committed) {
    file->Close();
    run.fs->Remove(name.c_str());
    return Failed(run, result, anything || !written);
  }
  result.stored = uint32_t(result.storedInputs.size());
  return result;
}

// COMMIT_HEADER_WORDS on an existing archive of `length` bytes.
UpdateResult CommitBehindData(const ArchiverState& run, const WriteRow& row, const uint8_t* directory,
                              uint32_t count, const UpdatePlan& plan, const std::vector<AddInput>& inputs,
                              uint64_t length) {
  UpdateResult result;
  File& f = *run.archive;
  // No data may lie where the header words go, in a file cut off inside its
  // header too.
  uint64_t end = DataEnd(row, plan, inputs, std::max<uint64_t>(length, row.headerSize));
  if (PastTheLimit(run, end + uint64_t(plan.order.size()) * row.entry.size)) {
    result.failed = true;
    return result;
  }
  // The header as it is (a file cut short inside it: the bytes it has).
  uint8_t header[HEADER_PEEK] = {};
  uint32_t wordsAt = 0;
  std::vector<uint8_t> oldWords = HeaderWords(row, 0, 0, 0, &wordsAt);
  if (!ReadFar(f, 0, header, size_t(std::min<uint64_t>(HEADER_PEEK, length)))) {
    result.failed = true;
    return result;
  }
  memcpy(oldWords.data(), header + wordsAt, oldWords.size());
  Buffer buffer = {nullptr, 0};
  if (!MakeBuffer(Largest(plan, inputs), &buffer)) return Failed(run, result, true);

  // a. The data, in input order. A file cut off inside its header gets the
  // rest of it first, behind the old end.
  Target t = {&f, length, true};
  bool written = true;
  if (length < row.headerSize) {
    written = WriteFar(f, length, row.newHeader + length, size_t(row.headerSize - length));
    t.at = row.headerSize;
  }
  Stored stored = NoneStored(inputs.size());
  written = written && PadTo(&t, row.dataAlign) && CopyInputs(run, row, plan, inputs, &t, buffer, &stored, &result);
  Release(buffer.data);

  // b. and c. The directory, then the header words that commit it.
  uint32_t newCount = 0;
  std::vector<uint8_t> entries, block, words;
  if (written) {
    entries = NewDirectory(row, directory, count, plan, stored, &newCount);
    block = DirectoryBlock(row, entries, newCount, t.at, header, run.archiveVariant);
    words = HeaderWords(row, t.at, block.size(), newCount, &wordsAt);
  }
  uint64_t dirOffset = t.at;
  bool anything = !result.storedInputs.empty();
  bool durable = written && anything && WriteFar(f, dirOffset, block.data(), block.size()) && SyncFile(f);
  bool committed = durable && WriteFar(f, wordsAt, words.data(), words.size()) && SyncFile(f);
  if (!committed) {
    // The archive as it was, byte for byte: the old header words durable
    // first (the new ones may have been written), then the old length.
    bool restored = !durable || (WriteFar(f, wordsAt, oldWords.data(), oldWords.size()) && SyncFile(f));
    if (restored && !(f.SetLength(length) && f.Sync())) ReportAccessError("\twrite failed", f.Error());
    return Failed(run, result, anything || !written);
  }
  result.stored = uint32_t(result.storedInputs.size());

  // Dead space beyond a quarter of the file goes, the directory keeping its order.
  uint64_t newLength = dirOffset + block.size();
  uint64_t dead = DeadSpace(row, entries.data(), newCount, newLength, row.headerSize, row.headerSize + block.size());
  if (dead > newLength / 4) {
    ArchiverState after = run;
    after.archiveSize = newLength;
    if (!CompactArchive(after, entries.data(), newCount, row, true, JOB_UPDATE, row.dataAlign, 0) &&
        run.fs->Exists(WithSuffix(run.archiveName, RECOVERY_SUFFIX).c_str()))
      result.recoveryPending = true;
  }
  return result;
}
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

std::string StoredName(const EntryFields& fields, const uint8_t* entry) {
  if (fields.shownName) return fields.shownName(entry);
  const char* field = reinterpret_cast<const char*>(entry + fields.nameAt);
  std::string name(field, strnlen(field, fields.nameWidth));
  const char* prefix = fields.hiddenPrefix ? fields.hiddenPrefix : "";
  if (name.compare(0, strlen(prefix), prefix) == 0) name.erase(0, strlen(prefix));
  while (fields.spacePadded && !name.empty() && name.back() == ' ') name.pop_back();
  return name;
}

// Writes a new name into an entry of zeros; false when it does not fit.
bool StoreName(const EntryFields& fields, const std::string& name, uint8_t* entry) {
  if (fields.fillName) return fields.fillName(name, entry);
  if (name.size() > fields.longestName) return false;
  const std::string stored = (fields.hiddenPrefix ? fields.hiddenPrefix : "") + name;
  stored.copy(reinterpret_cast<char*>(entry + fields.nameAt), stored.size());
  return true;
}

void PlanNames(const NameRule& rule, const EntryFields& fields, bool withFolders, const uint8_t* directory,
               uint32_t count, const std::vector<AddInput>& inputs, UpdatePlan* plan) {
  // The name as compared: exactly, or with ASCII case ignored.
  auto same = [&](std::string name) {
    for (char& c : name)
      if (rule.slashesAlike && c == '\\') c = '/';
    return name;
  };
  auto folded = [&](const std::string& name) { return Folded(same(name)); };
  std::unordered_map<std::string, std::vector<uint32_t>> exact, caseless;
  for (uint32_t i = 0; i < count; ++i) {
    std::string name = StoredName(fields, directory + uint64_t(i) * fields.size);
    exact[same(name)].push_back(i);
    caseless[folded(name)].push_back(i);
  }
  std::unordered_set<std::string> taken;
  for (size_t j = 0; j < inputs.size(); ++j) {
    Put& put = plan->puts[j];
    if (put.refusal) continue;
    std::string name = rule.folders && withFolders ? RelativePath(inputs[j].path) : LastComponent(inputs[j].path);
    for (char& c : name)
      if (c == '/') c = rule.separator;
    while (fields.spacePadded && !name.empty() && name.back() == ' ') name.pop_back();  // as it would read back
    if (taken.count(folded(name))) {
      put.refusal = kDuplicate;
      continue;
    }
    auto found = exact.find(same(name));
    const std::vector<uint32_t>* matches = found != exact.end() ? &found->second : nullptr;
    if (!matches) {
      auto fold = caseless.find(folded(name));
      if (fold != caseless.end()) matches = &fold->second;
    }
    if (matches && matches->size() > 1) {
      put.refusal = kAmbiguous;
    } else if (matches) {
      put.replaces = (*matches)[0];
      put.shown = StoredName(fields, directory + uint64_t(put.replaces) * fields.size);
    } else {
      for (char& c : name)
        if (rule.upperCase && c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
      put.entry.assign(fields.size, 0);
      if (StoreName(fields, name, put.entry.data())) {
        put.shown = StoredName(fields, put.entry.data());
      } else {
        put.refusal = kTooLong;
        put.entry.clear();
      }
    }
    if (!put.refusal) taken.insert(folded(name));
  }
  AppendInOrder(count, plan);
}

void PlanFlatNames(const EntryFields& fields, const uint8_t* directory, uint32_t count,
                   const std::vector<AddInput>& inputs, UpdatePlan* plan) {
  PlanNames({false, '/', false, false}, fields, false, directory, count, inputs, plan);
}

UpdateResult RunUpdate(const ArchiverState& run, const WriteRow& row, const AddRequest& request,
                       const uint8_t* directory, uint32_t count, const std::vector<AddInput>& inputs,
                       const char* magic) {
  UpdateResult result;
  UpdatePlan plan;
  plan.puts.resize(inputs.size());
  for (size_t i = 0; i < inputs.size(); ++i) plan.puts[i].refusal = inputs[i].refusal;
  row.plan(request, directory, count, inputs, &plan);
  ApplyEntryLimit(row, count, &plan);

  uint64_t length = 0;
  if (run.archive && !run.archive->Size(&length)) {
    ReportAccessError("\tread failed", run.archive->Error());
    result.failed = true;
    return result;
  }
  if (std::all_of(plan.puts.begin(), plan.puts.end(), [](const Put& p) { return p.refusal != nullptr; })) {
    for (size_t i = 0; i < inputs.size(); ++i) PrintRefused(plan.puts[i].refusal, inputs[i]);
    result.refused = uint32_t(inputs.size());
    return result;
  }
  if (row.style == COMMIT_REWRITE) return CommitRewrite(run, row, directory, count, plan, inputs, magic);
  if (!run.archive) return CreateArchive(run, row, plan, inputs, magic);
  // An entry whose data runs past the old end would read what the run puts
  // there: such an archive is left as it is, as deletion leaves it.
  if (!DataInside(row, directory, count, length)) {
    result.failed = true;
    return result;
  }
  if (row.style == COMMIT_FRONT_TABLE) return CommitFrontTable(run, row, directory, count, plan, inputs);
  return CommitBehindData(run, row, directory, count, plan, inputs, length);
}
