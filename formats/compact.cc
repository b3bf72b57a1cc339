// Member deletion and archive compaction, for the formats with explicit
// offsets: directory behind the data (PACK, WADs) or a table in front (LOD,
// CSid, STK).
//
// The remaining entries are sorted by data offset, then size, then directory
// position. Their byte ranges are merged into intervals (ranges that overlap
// or touch form one interval), and the intervals are packed down in offset
// order, behind the header or behind the front table (a table that keeps its
// room keeps it: FrontDataStart): each interval moves once and every entry
// inside it moves by the same distance, so entries that share or overlap
// data keep pointing at their own bytes. An interval that starts below the
// packing start stays where it is. A size-0 entry above the packing position
// takes the packing position; any other size-0 entry keeps its offset. A
// directory behind the data follows them, sorted (Doom WADs and the front
// tables keep their directory order); a front table is written in place, the
// room behind it up to the data zeroed. The file is cut behind the last of
// them and the header words are rewritten.
//
// Before anything is written every remaining range is checked to lie inside
// the file and the move buffer is allocated; a failure there leaves the
// archive byte for byte unchanged. recovery.cc carries the plan out.
#include "formats/compact.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/access.h"
#include "core/bytes.h"
#include "core/file.h"
#include "core/memory.h"
#include "formats/engine.h"
#include "formats/recovery.h"

namespace {
constexpr uint32_t kLargestEntry = 256;

// One remaining entry in sorted order.
struct Placement {
  uint32_t offset;
  uint32_t size;
  uint32_t index;      // position in the directory
  uint32_t newOffset;
  uint32_t rank;       // position in the first sort
};

bool Before(const Placement& a, const Placement& b) {
  if (a.offset != b.offset) return a.offset < b.offset;
  if (a.size != b.size) return a.size < b.size;
  return a.index < b.index;
}

// Order of the new directory. It is the first order wherever the new
// offsets keep it; a size-0 entry left in place inside an interval whose
// later members move down below it is put behind them, so that the new
// directory is sorted by its own offsets.
bool BeforeInNewLayout(const Placement& a, const Placement& b) {
  if (a.newOffset != b.newOffset) return a.newOffset < b.newOffset;
  if (a.size != b.size) return a.size < b.size;
  return a.rank < b.rank;
}

struct Plan {
  uint8_t* moves;           // MOVE_RECORD_SIZE bytes per move
  uint32_t moveCount;
  uint32_t dataEnd;         // where the directory goes
  uint32_t largestMember;   // sorted position of the largest moved member, or count
};

void AddMove(Plan* plan, uint32_t source, uint32_t target, uint32_t length) {
  uint8_t* m = plan->moves + uint64_t(plan->moveCount++) * MOVE_RECORD_SIZE;
  WriteU32LE(m, source);
  WriteU32LE(m + 4, target);
  WriteU32LE(m + 8, length);
}

// Gives every sorted entry its new offset and lists the moves. `plan->moves`
// holds room for one move per entry. An interval that moves starts at a
// multiple of `align` (unless that would move it up), and so does the
// directory behind the data.
void PlanLayout(Placement* sorted, uint32_t count, uint32_t headerSize, uint32_t align, Plan* plan) {
  uint64_t packed = headerSize;  // end of the data placed so far
  bool open = false;              // an interval is being collected
  uint64_t start = 0, end = 0, target = 0;
  uint32_t largestSize = 0;
  plan->moveCount = 0;
  plan->largestMember = count;
  for (uint32_t k = 0; k <= count; ++k) {
    // Data that only touch an interval start one of their own where keeping
    // them with it would leave them off the alignment.
    bool touches = k < count && sorted[k].offset == end;
    bool extends = k < count && open && sorted[k].size &&
                   (sorted[k].offset < end || (touches && (sorted[k].offset - start) % align == 0));
    if (open && !extends && (k == count || sorted[k].size)) {
      if (target < start) AddMove(plan, uint32_t(start), uint32_t(target), uint32_t(end - start));
      packed = std::max(packed, target + (end - start));
      open = false;
    }
    if (k == count) break;
    Placement& p = sorted[k];
    if (p.size == 0) {
      uint64_t position = open ? std::max(packed, target + (end - start)) : packed;
      p.newOffset = p.offset > position ? uint32_t(position) : p.offset;
      continue;
    }
    if (!open) {
      open = true;
      start = p.offset;
      end = p.offset;
      uint64_t aligned = align > 1 ? (packed + align - 1) / align * align : packed;
      target = start < headerSize ? start : std::min(aligned, start);
    }
    end = std::max(end, uint64_t(p.offset) + p.size);
    p.newOffset = uint32_t(p.offset - (start - target));
    if (target < start && p.size > largestSize) {
      largestSize = p.size;
      plan->largestMember = k;
    }
  }
  plan->dataEnd = uint32_t(align > 1 ? (packed + align - 1) / align * align : packed);
}

// Puts the directory into sorted order: position k receives the entry that
// stood at sorted[k].index. Follows each cycle of the permutation once.
void SortDirectory(uint8_t* directory, Placement* sorted, uint32_t count, uint32_t entrySize) {
  const uint32_t kPlaced = 0x80000000u;
  uint8_t held[kLargestEntry];
  for (uint32_t k = 0; k < count; ++k) {
    if (sorted[k].index & kPlaced || sorted[k].index == k) continue;
    memcpy(held, directory + uint64_t(k) * entrySize, entrySize);
    uint32_t j = k;
    for (;;) {
      uint32_t from = sorted[j].index;
      sorted[j].index |= kPlaced;
      if (from == k) {
        memcpy(directory + uint64_t(j) * entrySize, held, entrySize);
        break;
      }
      memcpy(directory + uint64_t(j) * entrySize, directory + uint64_t(from) * entrySize, entrySize);
      j = from;
    }
  }
  for (uint32_t k = 0; k < count; ++k) sorted[k].index = k;
}

}  // namespace

int FinishDeletion(const ArchiverState& run, uint8_t* directory, uint32_t count, uint8_t* marks,
                   const WriteRow& row) {
  std::string renamed = row.settle ? row.settle(run, directory, count, marks) : "";
  if (!renamed.empty()) {
    printf("Would rename %s - nothing deleted\n", renamed.c_str());
    return 0;
  }
  if (row.style == COMMIT_REWRITE) return DeleteByRewrite(run, row, directory, count, marks);
  uint64_t dataFrom = row.style == COMMIT_FRONT_TABLE ? FrontDataStart(row, directory, count) : 0;
  uint32_t kept = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (marks[i]) continue;
    if (kept != i)
      memmove(directory + uint64_t(kept) * row.entry.size, directory + uint64_t(i) * row.entry.size,
              row.entry.size);
    ++kept;
  }
  return CompactArchive(run, directory, kept, row, row.keepDirectoryOrder, JOB_DELETION, 1, dataFrom);
}

int CompactArchive(const ArchiverState& run, uint8_t* directory, uint32_t count, const WriteRow& row,
                   bool keepOrder, uint32_t jobKind, uint32_t align, uint64_t dataFrom) {
  const uint32_t entrySize = row.entry.size;
  if (entrySize > kLargestEntry) return 0;
  uint64_t fileSize = 0;
  if (!run.archive->Size(&fileSize)) fileSize = run.archiveSize;
  if (!DataInside(row, directory, count, fileSize)) return 0;
  const bool front = row.style == COMMIT_FRONT_TABLE;
  const uint64_t tableEnd = row.tableAt + uint64_t(count) * entrySize;
  const uint64_t packFrom = !front ? row.headerSize : row.keepsRoom ? std::max(tableEnd, dataFrom) : tableEnd;

  uint64_t sortedBytes = uint64_t(count) * sizeof(Placement);
  uint64_t movesBytes = uint64_t(count) * MOVE_RECORD_SIZE;
  Placement* sorted = static_cast<Placement*>(Allocate(size_t(sortedBytes)));
  uint8_t* moves = sorted ? static_cast<uint8_t*>(Allocate(size_t(movesBytes))) : nullptr;
  if (!moves) {
    printf("Can't allocate %ul bytes\n", unsigned(sorted ? movesBytes : sortedBytes));
    Release(sorted);
    return 0;
  }
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* entry = EntryAt(row, directory, i);
    sorted[i] = {ReadU32LE(entry + row.entry.offsetAt), StoredBytes(row, entry), i, 0, 0};
  }
  std::sort(sorted, sorted + count, Before);
  Plan plan = {moves, 0, 0, count};
  PlanLayout(sorted, count, uint32_t(packFrom), align, &plan);
  const Placement* largest = plan.largestMember < count ? &sorted[plan.largestMember] : nullptr;
  uint32_t largestSize = largest ? largest->size : 0;
  const uint8_t* largestEntry = largest ? EntryAt(row, directory, largest->index) : directory;

  // The move buffer exists before the first byte moves.
  uint32_t bufferSize = MoveBufferSize(moves, plan.moveCount);
  uint8_t* buffer = nullptr;
  if (bufferSize) {
    buffer = static_cast<uint8_t*>(Allocate(bufferSize));
    if (!buffer) {
      printf(row.allocMessage, largestSize, reinterpret_cast<const char*>(largestEntry + row.entry.nameAt));
      Release(moves);
      Release(sorted);
      return 0;
    }
  }

  if (!keepOrder) {
    for (uint32_t k = 0; k < count; ++k) sorted[k].rank = k;
    std::sort(sorted, sorted + count, BeforeInNewLayout);
    SortDirectory(directory, sorted, count, entrySize);
  }
  for (uint32_t k = 0; k < count; ++k)
    WriteU32LE(directory + uint64_t(sorted[k].index) * entrySize + row.entry.offsetAt, sorted[k].newOffset);
  Release(sorted);

  uint8_t header[HEADER_PEEK] = {};
  std::vector<uint8_t> table(directory, directory + uint64_t(count) * entrySize), block, words;
  uint32_t wordsAt = 0;
  ArchiveJob job;
  if (front) {
    // The room behind the table, up to the data, holds no stale entries.
    uint64_t zeroTo = LowestData(row, directory, count, packFrom);
    if (zeroTo > tableEnd) table.resize(size_t(zeroTo - row.tableAt), 0);
    words = HeaderWords(row, row.tableAt, uint64_t(count) * entrySize, count, &wordsAt);
    job.writes = {{row.tableAt, table.data(), uint32_t(table.size())}};
    job.newLength = std::max<uint64_t>(plan.dataEnd, tableEnd);
  } else {
    bool peeked = ReadFar(*run.archive, 0, header, size_t(std::min<uint64_t>(HEADER_PEEK, fileSize)));
    if (!peeked) {
      Release(buffer);
      Release(moves);
      return 0;
    }
    block = DirectoryBlock(row, table, count, plan.dataEnd, header, run.archiveVariant);
    words = HeaderWords(row, plan.dataEnd, block.size(), count, &wordsAt);
    job.writes = {{plan.dataEnd, block.data(), uint32_t(block.size())}};
    job.newLength = uint64_t(plan.dataEnd) + block.size();
  }
  if (!words.empty()) job.writes.push_back({wordsAt, words.data(), uint32_t(words.size())});
  job.fs = run.fs;
  job.kind = jobKind;
  job.archive = run.archive;
  job.archiveName = run.archiveName;
  job.startLength = fileSize;
  job.moveCount = plan.moveCount;
  job.moves = moves;
  job.buffer = buffer;
  job.protect = run.protectUpdates && run.archiveName;
  int complete = RunArchiveJob(&job) == 1;
  Release(buffer);
  Release(moves);
  return complete;
}
