// COMMIT_REWRITE: offsets implied by order (update.h).
//
// The rewrite writes, in one pass into "<archive>.vrex-new": the header (the
// archive's own, or a new one) with its words, then the new table and the
// data in entry order, or, for a chain, each entry followed by its data. The
// sizes come from the plan, so a file that holds other bytes than when it
// was named fails the run, as one that can't be read does. The new file is
// synced, the archive closed, the new file renamed over it with the
// archive's permission bits, the folder synced (PutNewFile).
//
// A chain grows in place when the run only appends records and replaces
// members by files of the same size, and the chain ends where the file ends:
//   1. a record that cuts the file back to its length is held (synced);
//   2. the new records are appended in input order, then the data of the
//      same-size replacements are staged behind them; the archive is synced;
//   3. without replacements: the file is cut behind the last record, synced,
//      and the held record dropped (the commit); with them: the held record
//      is replaced by a job that moves the staged data into place and cuts
//      the stage off (the commit), which is carried out and removed.
// A failure before the commit cuts the file back and drops the record.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "core/access.h"
#include "core/bytes.h"
#include "core/memory.h"
#include "formats/engine.h"
#include "formats/recovery.h"

namespace {
// The archive a plan lays out: each new entry, its data offset and size,
// and where the data of each entry come from.
struct Layout {
  std::vector<uint8_t> entries;  // the new directory
  std::vector<uint64_t> at;      // per new entry: its data offset
  std::vector<uint64_t> from;    // per new entry: the old data offset, or UINT64_MAX: input `put`
  std::vector<size_t> put;
  std::vector<uint32_t> size;
  uint64_t length;
};

Layout LayOut(const WriteRow& row, const uint8_t* directory, uint32_t count, const UpdatePlan& plan,
              const std::vector<AddInput>& inputs) {
  Layout out;
  std::vector<uint64_t> offsets = DataOffsets(row, directory, count);
  std::vector<int64_t> replacedBy(count, -1);
  for (size_t j = 0; j < plan.puts.size(); ++j)
    if (!plan.puts[j].refusal && plan.puts[j].replaces >= 0) replacedBy[size_t(plan.puts[j].replaces)] = int64_t(j);
  bool chain = row.place == TABLE_CHAIN;
  uint64_t at = chain ? row.headerSize
                      : row.tableAt + (row.countLeadsDirectory ? 4 : 0) + uint64_t(plan.order.size()) * row.entry.size;
  Stored stored;
  stored.placedAt.assign(plan.puts.size(), UINT64_MAX);
  stored.sizes.assign(plan.puts.size(), 0);
  stored.packed.assign(plan.puts.size(), 0);
  stored.movedTo.assign(count, UINT64_MAX);
  for (const Slot& slot : plan.order) {
    if (chain) at += row.entry.size;
    int64_t put = slot.kind == Slot::PUT ? int64_t(slot.index) : slot.kind == Slot::OLD ? replacedBy[slot.index] : -1;
    if (put >= 0) {
      stored.placedAt[size_t(put)] = at;
      stored.sizes[size_t(put)] = uint32_t(inputs[size_t(put)].size);
      out.from.push_back(UINT64_MAX);
      out.size.push_back(uint32_t(inputs[size_t(put)].size));
    } else {
      uint32_t size = slot.kind == Slot::OLD ? StoredBytes(row, EntryAt(row, directory, slot.index)) : 0;
      if (slot.kind == Slot::OLD) stored.movedTo[slot.index] = at;
      out.from.push_back(slot.kind == Slot::OLD ? offsets[slot.index] : UINT64_MAX);
      out.size.push_back(size);
    }
    out.put.push_back(put >= 0 ? size_t(put) : SIZE_MAX);
    out.at.push_back(at);
    at += out.size.back();
  }
  uint32_t newCount = 0;
  out.entries = NewDirectory(row, directory, count, plan, stored, &newCount);
  out.length = at;
  return out;
}

// Prints every input's line in input order: refused, stored, or the one
// that failed the run.
void PrintLines(const WriteRow& row, const UpdatePlan& plan, const std::vector<AddInput>& inputs, size_t failed,
                const char* reason, UpdateResult* result) {
  for (size_t i = 0; i < inputs.size(); ++i) {
    const char* refusal = i == failed ? reason : plan.puts[i].refusal;
    if (refusal) {
      PrintRefused(refusal, inputs[i]);
      ++result->refused;
    } else if (failed == SIZE_MAX) {
      PrintStored(row, plan.puts[i]);
      result->storedInputs.push_back(i);
    }
  }
}

// Writes the laid-out archive to `t` behind its header. On a source that
// fails, *failed names the input and *reason why.
bool WriteLayout(const ArchiverState& run, const WriteRow& row, const Layout& layout,
                 const std::vector<AddInput>& inputs, Target* t, const Buffer& buffer, size_t* failed,
                 const char** reason) {
  for (size_t k = 0; k < layout.at.size(); ++k) {
    const uint8_t* entry = layout.entries.data() + k * row.entry.size;
    if (row.place == TABLE_CHAIN && !WriteFar(*t->file, t->at, entry, row.entry.size)) return false;
    t->at = layout.at[k];
    if (layout.put[k] == SIZE_MAX) {
      if (!CopyWithin(*run.archive, layout.from[k], layout.size[k], t, buffer)) return false;
    } else {
      uint64_t bytes = 0;
      bool coded = false;
      CopyResult copied = CopyInput(*run.fs, inputs[layout.put[k]], DATA_AS_IS, t, buffer, &bytes, &coded, reason);
      if (copied == SOURCE_FAILED) *failed = layout.put[k];
      if (copied != COPIED) return false;
    }
    t->at += layout.size[k];
  }
  return true;
}

UpdateResult Rewrite(const ArchiverState& run, const WriteRow& row, const uint8_t* directory, uint32_t count,
                     const UpdatePlan& plan, const std::vector<AddInput>& inputs, const char* magic) {
  UpdateResult result;
  const bool creating = run.archive == nullptr;
  Layout layout = LayOut(row, directory, count, plan, inputs);
  uint32_t newCount = uint32_t(layout.at.size());
  if (layout.length > OFFSET_LIMIT) {
    printf("\t%s: the archive would grow past 2 GiB, more than its offsets can hold - nothing stored\n",
           run.archiveName);
    result.failed = true;
    return result;
  }
  uint64_t largest = layout.size.empty() ? 0 : *std::max_element(layout.size.begin(), layout.size.end());
  std::vector<uint8_t> header(row.headerSize);
  memcpy(header.data(), row.newHeader, row.headerSize);
  if (magic) memcpy(header.data(), magic, std::min<uint32_t>(4, row.headerSize));
  if (!creating && !ReadFar(*run.archive, 0, header.data(), header.size())) {
    result.failed = true;
    return result;
  }
  uint32_t wordsAt = 0;
  std::vector<uint8_t> block = DirectoryBlock(row, layout.entries, newCount, row.tableAt, header.data(), run.archiveVariant);
  std::vector<uint8_t> words = HeaderWords(row, row.tableAt, block.size(), newCount, &wordsAt);
  std::copy(words.begin(), words.end(), header.begin() + wordsAt);

  std::string name = WithSuffix(run.archiveName, NEW_ARCHIVE_SUFFIX);
  Buffer buffer = {nullptr, 0};
  std::unique_ptr<File> file = OpenNewFile(*run.fs, name);
  if (!file || !MakeBuffer(largest, &buffer)) {
    if (file) file->Close();
    if (file) run.fs->Remove(name.c_str());
    PrintFailed(run);
    result.failed = true;
    return result;
  }
  Target t = {file.get(), row.headerSize, false};
  size_t failed = SIZE_MAX;
  const char* reason = nullptr;
  bool written = WriteFar(*file, 0, header.data(), header.size()) &&
                 (row.place == TABLE_CHAIN || WriteFar(*file, row.tableAt, block.data(), block.size())) &&
                 WriteLayout(run, row, layout, inputs, &t, buffer, &failed, &reason);
  Release(buffer.data);
  PrintLines(row, plan, inputs, failed, reason, &result);
  if (!written || !PutNewFile(run, *file, name, !creating)) {
    file->Close();
    run.fs->Remove(name.c_str());
    result.storedInputs.clear();
    PrintFailed(run);
    result.failed = true;
    return result;
  }
  result.stored = uint32_t(result.storedInputs.size());
  return result;
}

// Whether the run can grow the chain in place: it adds records behind the
// others and replaces members by files of their size, and the chain ends
// where the file does.
bool GrowsInPlace(const WriteRow& row, const uint8_t* directory, uint32_t count, const UpdatePlan& plan,
                  const std::vector<AddInput>& inputs, uint64_t length) {
  if (row.place != TABLE_CHAIN) return false;
  std::vector<uint64_t> offsets = DataOffsets(row, directory, count);
  uint64_t end = count ? offsets[count - 1] + StoredBytes(row, EntryAt(row, directory, count - 1)) : row.headerSize;
  if (end != length) return false;
  for (uint32_t i = 0; i < count; ++i)
    if (i >= plan.order.size() || plan.order[i].kind != Slot::OLD || plan.order[i].index != i) return false;
  for (size_t j = 0; j < inputs.size(); ++j) {
    const Put& put = plan.puts[j];
    if (!put.refusal && put.replaces >= 0 &&
        inputs[j].size != StoredBytes(row, EntryAt(row, directory, uint32_t(put.replaces))))
      return false;
  }
  return true;
}

UpdateResult GrowChain(const ArchiverState& run, const WriteRow& row, const uint8_t* directory, uint32_t count,
                       const UpdatePlan& plan, const std::vector<AddInput>& inputs, uint64_t length) {
  UpdateResult result;
  File& f = *run.archive;
  uint64_t end = length, largest = 0;
  for (size_t j = 0; j < inputs.size(); ++j) {
    if (plan.puts[j].refusal) continue;
    end += (plan.puts[j].replaces < 0 ? row.entry.size : 0) + inputs[j].size;
    largest = std::max(largest, inputs[j].size);
  }
  if (end > OFFSET_LIMIT) {
    printf("\t%s: the archive would grow past 2 GiB, more than its offsets can hold - nothing stored\n",
           run.archiveName);
    result.failed = true;
    return result;
  }
  ArchiveJob undo;
  undo.fs = run.fs;
  undo.kind = JOB_UNDONE;
  undo.archive = &f;
  undo.archiveName = run.archiveName;
  undo.startLength = undo.newLength = length;
  undo.protect = run.protectUpdates;
  Buffer buffer = {nullptr, 0};
  bool held = !undo.protect || HoldArchiveJob(undo);
  if (!held || !MakeBuffer(largest, &buffer)) {
    if (held && undo.protect) DropHeldJob(*run.fs, run.archiveName);
    PrintFailed(run);
    result.failed = true;
    return result;
  }

  // New records in input order, then the stage.
  std::vector<uint64_t> offsets = DataOffsets(row, directory, count);
  std::vector<const char*> reasons(inputs.size(), nullptr);
  std::vector<uint64_t> staged(inputs.size(), UINT64_MAX);
  Target t = {&f, length, true};
  bool written = true;
  uint64_t recordsEnd = length;
  for (int pass = 0; pass < 2 && written; ++pass) {
    if (pass == 1) recordsEnd = t.at;
    for (size_t j = 0; j < inputs.size() && written; ++j) {
      const Put& put = plan.puts[j];
      if (put.refusal || (put.replaces < 0) != (pass == 0)) continue;
      uint64_t start = t.at, bytes = 0;
      bool coded = false;
      std::vector<uint8_t> entry = put.entry;
      if (pass == 0) {
        PlaceEntry(row, entry.data(), 0, uint32_t(inputs[j].size), 0);
        written = WriteFar(f, start, entry.data(), entry.size());
        t = {&f, start + entry.size(), false};
      }
      const char* reason = nullptr;
      CopyResult copied = written ? CopyInput(*run.fs, inputs[j], DATA_AS_IS, &t, buffer, &bytes, &coded, &reason)
                                  : TARGET_FAILED;
      if (copied == TARGET_FAILED) written = false;
      if (copied == SOURCE_FAILED) reasons[j] = reason;
      if (copied == COPIED) {
        if (pass == 1) staged[j] = t.at;
        t.at += bytes;
      } else {
        t.at = start;
        t.moved = true;
      }
    }
  }
  Release(buffer.data);

  // The moves of the stage into place, in the order of their targets.
  std::vector<uint8_t> moves;
  std::vector<std::pair<uint64_t, size_t>> targets;
  for (size_t j = 0; j < inputs.size(); ++j)
    if (staged[j] != UINT64_MAX) targets.push_back({offsets[size_t(plan.puts[j].replaces)], j});
  std::sort(targets.begin(), targets.end());
  for (const auto& target : targets) {
    uint8_t move[MOVE_RECORD_SIZE];
    WriteU32LE(move, uint32_t(staged[target.second]));
    WriteU32LE(move + 4, uint32_t(target.first));
    WriteU32LE(move + 8, uint32_t(inputs[target.second].size));
    moves.insert(moves.end(), move, move + MOVE_RECORD_SIZE);
  }
  bool anything = false;
  for (size_t j = 0; j < inputs.size(); ++j)
    anything |= !plan.puts[j].refusal && !reasons[j] && (plan.puts[j].replaces < 0 || staged[j] != UINT64_MAX);
  bool durable = written && anything && f.SetLength(t.at) && SyncFile(f);
  int committed = 0;
  if (durable && targets.empty()) {
    committed = f.SetLength(recordsEnd) && SyncFile(f) && (!undo.protect || DropHeldJob(*run.fs, run.archiveName));
  } else if (durable) {
    ArchiveJob job;
    job.fs = run.fs;
    job.kind = JOB_UPDATE;
    job.archive = &f;
    job.archiveName = run.archiveName;
    job.startLength = t.at;
    job.newLength = recordsEnd;
    job.moveCount = uint32_t(targets.size());
    job.moves = moves.data();
    job.protect = run.protectUpdates;
    job.buffer = static_cast<uint8_t*>(Allocate(MoveBufferSize(job.moves, job.moveCount)));
    committed = job.buffer ? RunArchiveJob(&job) : 0;
    Release(job.buffer);
  }
  if (committed == 0) {
    if (!(f.SetLength(length) && f.Sync())) ReportAccessError("\twrite failed", f.Error());
    if (undo.protect) DropHeldJob(*run.fs, run.archiveName);
  }
  for (size_t j = 0; j < inputs.size(); ++j) {
    const char* refusal = plan.puts[j].refusal ? plan.puts[j].refusal : reasons[j];
    if (refusal) {
      PrintRefused(refusal, inputs[j]);
      ++result.refused;
    } else if (written) {
      PrintStored(row, plan.puts[j]);
      result.storedInputs.push_back(j);
    }
  }
  if (committed == 0) {
    result.storedInputs.clear();
    if (anything || !written) {
      PrintFailed(run);
      result.failed = true;
    }
    return result;
  }
  result.recoveryPending = committed < 0;
  result.stored = uint32_t(result.storedInputs.size());
  return result;
}
}  // namespace

UpdateResult CommitRewrite(const ArchiverState& run, const WriteRow& row, const uint8_t* directory,
                           uint32_t count, const UpdatePlan& plan, const std::vector<AddInput>& inputs,
                           const char* magic) {
  uint64_t length = 0;
  if (run.archive) {
    if (!run.archive->Size(&length) || !DataInside(row, directory, count, length)) {
      UpdateResult failed;
      failed.failed = true;
      return failed;
    }
    if (GrowsInPlace(row, directory, count, plan, inputs, length))
      return GrowChain(run, row, directory, count, plan, inputs, length);
  }
  return Rewrite(run, row, directory, count, plan, inputs, magic);
}

int DeleteByRewrite(const ArchiverState& run, const WriteRow& row, const uint8_t* directory, uint32_t count,
                    const uint8_t* marks) {
  UpdatePlan plan;
  bool marked = false;
  for (uint32_t i = 0; i < count; ++i) {
    if (!marks[i]) plan.order.push_back({Slot::OLD, i});
    marked |= marks[i] != 0;
  }
  uint64_t length = 0;
  if (!run.archive->Size(&length) || !DataInside(row, directory, count, length)) return 0;
  if (!marked && LayOut(row, directory, count, plan, {}).length == length) return 1;  // nothing to change
  return !Rewrite(run, row, directory, count, plan, {}, nullptr).failed;
}
