// COMMIT_FRONT_TABLE: a table with explicit offsets in front of the data,
// and a count word (update.h). Order of a run on an existing archive:
//   1. the new table's end is known from the plan; members whose data lie
//      below it (in the header, or where the table grows) are to be copied
//      behind the end, unless the run only appends entries into free room;
//   2. those members, then the files in input order, are copied behind the
//      old end (behind the new table's end where that lies further);
//   3a. a run that only appends entries into the free room writes them into
//      it (the room's bytes kept to be put back), syncs, writes the count word
//      and syncs: that commits;
//   3b. any other run syncs the data, then writes the table and the count word
//      through the recovery record (RunArchiveJob): the record commits;
//   4. dead space beyond a quarter of the file (the room in front of the
//      first data not counted) is reclaimed by compaction, the directory
//      keeping its order.
// A failure before the commit puts the room's bytes and the count back,
// synced, and cuts the file to its old length; one after the record was
// written leaves it for the next writing run (exit 8).
#include <algorithm>
#include <cstdio>
#include <vector>

#include "core/access.h"
#include "core/bytes.h"
#include "core/memory.h"
#include "formats/compact.h"
#include "formats/engine.h"
#include "formats/recovery.h"

namespace {
// Whether the plan keeps every old entry in its place and adds entries
// behind them only.
bool AppendsOnly(const UpdatePlan& plan, uint32_t count) {
  for (const Put& put : plan.puts)
    if (!put.refusal && put.replaces >= 0) return false;
  for (uint32_t i = 0; i < count; ++i)
    if (i >= plan.order.size() || plan.order[i].kind != Slot::OLD || plan.order[i].index != i) return false;
  return true;
}

// The archive as it was: `saved` back at `at`, then the old length, synced.
void Restore(File& f, uint64_t at, const std::vector<uint8_t>& saved, uint64_t length) {
  bool back = saved.empty() || WriteFar(f, at, saved.data(), saved.size());
  if (!(back && f.SetLength(length) && f.Sync())) ReportAccessError("\twrite failed", f.Error());
}
}  // namespace

UpdateResult CommitFrontTable(const ArchiverState& run, const WriteRow& row, const uint8_t* directory,
                              uint32_t count, const UpdatePlan& plan, const std::vector<AddInput>& inputs) {
  UpdateResult result;
  File& f = *run.archive;
  uint64_t length = 0;
  if (!f.Size(&length)) {
    ReportAccessError("\tread failed", f.Error());
    result.failed = true;
    return result;
  }
  const uint32_t entrySize = row.entry.size;
  const uint64_t oldEnd = row.tableAt + uint64_t(count) * entrySize;
  const uint64_t newEnd = row.tableAt + uint64_t(plan.order.size()) * entrySize;
  const bool countOnly = AppendsOnly(plan, count) && newEnd <= LowestData(row, directory, count, UINT64_MAX);

  // 1. Members in the way of the new table.
  std::vector<uint64_t> offsets = DataOffsets(row, directory, count);
  std::vector<bool> replaced(count, false);
  for (const Put& put : plan.puts)
    if (!put.refusal && put.replaces >= 0) replaced[size_t(put.replaces)] = true;
  std::vector<uint32_t> inTheWay;
  uint64_t largest = 0, moving = 0;
  for (uint32_t i = 0; i < count && !countOnly; ++i) {
    uint32_t size = StoredBytes(row, EntryAt(row, directory, i));
    if (replaced[i] || !size || offsets[i] >= newEnd) continue;
    inTheWay.push_back(i);
    largest = std::max<uint64_t>(largest, size);
    moving = AlignUp(moving + size, row.dataAlign);
  }
  for (size_t i = 0; i < inputs.size(); ++i)
    if (!plan.puts[i].refusal) largest = std::max(largest, inputs[i].size);
  const uint64_t from = AlignUp(std::max(length, newEnd), row.dataAlign);
  uint64_t end = from + moving;
  for (size_t i = 0; i < inputs.size(); ++i)
    if (!plan.puts[i].refusal) end = AlignUp(end + inputs[i].size, row.dataAlign);
  if (end > OFFSET_LIMIT) {
    printf("\t%s: the archive would grow past 2 GiB, more than its offsets can hold - nothing stored\n",
           run.archiveName);
    result.failed = true;
    return result;
  }
  Buffer buffer = {nullptr, 0};
  if (!MakeBuffer(largest, &buffer)) {
    PrintFailed(run);
    result.failed = true;
    return result;
  }

  // 2. The data behind the end.
  Target t = {&f, from, true};
  Stored stored;
  stored.placedAt.assign(inputs.size(), UINT64_MAX);
  stored.sizes.assign(inputs.size(), 0);
  stored.packed.assign(inputs.size(), 0);
  stored.movedTo.assign(count, UINT64_MAX);
  bool written = true;
  for (uint32_t i : inTheWay) {
    uint32_t size = StoredBytes(row, EntryAt(row, directory, i));
    written = written && CopyWithin(f, offsets[i], size, &t, buffer);
    stored.movedTo[i] = t.at;
    t.at += size;
    written = written && PadTo(&t, row.dataAlign);
  }
  written = written && CopyInputs(run, row, plan, inputs, &t, buffer, &stored, &result);
  Release(buffer.data);
  uint32_t newCount = 0, wordsAt = 0;
  std::vector<uint8_t> table = NewDirectory(row, directory, count, plan, stored, &newCount);
  std::vector<uint8_t> words = HeaderWords(row, row.tableAt, table.size(), newCount, &wordsAt);
  bool anything = !result.storedInputs.empty();
  if (!written || !anything) {
    Restore(f, 0, {}, length);
    result.storedInputs.clear();
    if (anything || !written) {
      PrintFailed(run);
      result.failed = true;
    }
    return result;
  }

  // 3. The commit.
  if (countOnly) {
    // The room's bytes as they are, for a run that fails after writing there.
    std::vector<uint8_t> saved(size_t(std::min(length, uint64_t(row.tableAt) + table.size()) -
                                      std::min(length, oldEnd)));
    std::vector<uint8_t> oldWords(words.size());
    bool kept = ReadFar(f, oldEnd, saved.data(), saved.size()) && ReadFar(f, wordsAt, oldWords.data(), oldWords.size());
    bool durable = kept && WriteFar(f, oldEnd, table.data() + (oldEnd - row.tableAt), size_t(table.size() - (oldEnd - row.tableAt))) &&
                   SyncFile(f);
    bool committed = durable && WriteFar(f, wordsAt, words.data(), words.size()) && SyncFile(f);
    if (!committed) {
      if (kept && durable) WriteFar(f, wordsAt, oldWords.data(), oldWords.size());
      Restore(f, oldEnd, kept ? saved : std::vector<uint8_t>(), length);
      result.storedInputs.clear();
      PrintFailed(run);
      result.failed = true;
      return result;
    }
  } else {
    ArchiveJob job;
    job.fs = run.fs;
    job.kind = JOB_UPDATE;
    job.archive = &f;
    job.archiveName = run.archiveName;
    job.startLength = std::max(length, t.at);
    job.newLength = t.at;
    job.writes = {{row.tableAt, table.data(), uint32_t(table.size())}, {wordsAt, words.data(), uint32_t(words.size())}};
    job.protect = run.protectUpdates;
    int done = SyncFile(f) && f.Size(&job.startLength) ? RunArchiveJob(&job) : 0;
    if (done != 1) {
      if (done < 0) {
        result.recoveryPending = true;
        result.stored = uint32_t(result.storedInputs.size());
        return result;
      }
      Restore(f, 0, {}, length);
      result.storedInputs.clear();
      PrintFailed(run);
      result.failed = true;
      return result;
    }
  }
  result.stored = uint32_t(result.storedInputs.size());

  // 4. Dead space beyond a quarter of the file goes.
  // The room in front of the first data is the table's, never dead space.
  uint64_t dataFrom = FrontDataStart(row, directory, count);
  uint64_t base = std::max(row.tableAt + uint64_t(newCount) * entrySize, LowestData(row, table.data(), newCount, t.at));
  if (DeadSpace(row, table.data(), newCount, t.at, base, base) > t.at / 4) {
    ArchiverState after = run;
    after.archiveSize = t.at;
    if (!CompactArchive(after, table.data(), newCount, row, true, JOB_UPDATE, row.dataAlign, dataFrom) &&
        run.fs->Exists(WithSuffix(run.archiveName, RECOVERY_SUFFIX).c_str()))
      result.recoveryPending = true;
  }
  return result;
}
