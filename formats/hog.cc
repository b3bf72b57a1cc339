// Descent HOG archives: entries back to back, each followed by its data.
//
//   offset  size  field
//   0       3     magic "DHF"
//   3       ...   entries until the end of the file
//
//   entry, 17 bytes, followed at once by `size` bytes of data:
//   0       13    name, NUL-padded (no NUL when 13 long)
//   13      4     size (u32 LE)
//
// There is no count and no directory: the header reader walks the chain
// and copies the entry headers into a directory of its own, 17 bytes an
// entry, never more than the file holds. An entry whose data would run past
// the end of the file (or past 4 GiB), or a header the file cuts short,
// ends the chain; it is kept behind the whole entries so that the walk can
// name it. A read that fails (reported) ends the chain too.
//
// Writing: new records are appended to the chain and a member replaced by a
// file of its size is written in place (both under the recovery record); any
// other change rewrites the file. Names are flat, up to 12 bytes. vrex sets
// no limit on the entries (the DOS engines read at most 250).
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/access.h"
#include "core/bytes.h"
#include "core/format.h"
#include "core/memory.h"
#include "formats/update.h"

namespace {
constexpr uint32_t kMagicSize = 3;
constexpr uint32_t kEntrySize = 17;
constexpr uint32_t kNameWidth = 13;
constexpr uint32_t kSizeAt = 13;
constexpr uint64_t kLastOffset = 0xFFFFFFFFu;

struct Chain {
  uint32_t whole;  // entries whose data lie inside the file
  bool cut;        // one more entry that the file cuts short
  bool failed;     // a read failed (reported)
};

// Walks the chain from the first entry; with `copy`, writes each entry's
// header into it (whole entries, then the cut one, zero-padded).
Chain WalkChain(const ArchiverState& run, uint8_t* copy) {
  Chain chain = {0, false, false};
  uint64_t at = kMagicSize;
  while (at < run.archiveSize) {
    uint8_t header[kEntrySize] = {};
    uint64_t left = run.archiveSize - at;
    uint32_t got = left < kEntrySize ? uint32_t(left) : kEntrySize;
    if (!ReadFar(*run.archive, at, header, got)) {
      chain.failed = true;
      break;
    }
    if (copy) memcpy(copy + uint64_t(chain.whole) * kEntrySize, header, kEntrySize);
    uint64_t end = at + kEntrySize + ReadU32LE(header + kSizeAt);
    if (got < kEntrySize || end > run.archiveSize || end > kLastOffset) {
      chain.cut = true;
      break;
    }
    ++chain.whole;
    at = end;
  }
  return chain;
}

// Counts the chain, then copies it: the directory is at most the file's
// headers (plus the one cut short), whatever the sizes claim.
void ReadHeader(const ArchiverState& run, Layout* layout) {
  layout->entrySize = kEntrySize;
  Chain chain = WalkChain(run, nullptr);
  uint64_t bytes = (uint64_t(chain.whole) + (chain.cut ? 1 : 0)) * kEntrySize;
  if (chain.whole == 0) return;  // nothing usable: a broken archive
  uint8_t* block = static_cast<uint8_t*>(Allocate(size_t(bytes)));
  if (!block) {
    printf("Can't allocate %ul bytes\n", uint32_t(bytes));
    return;
  }
  Chain copied = WalkChain(run, block);
  if (copied.whole != chain.whole || copied.cut != chain.cut) {
    Release(block);
    return;
  }
  layout->dirSize = chain.whole * kEntrySize;
  layout->loaded = block;
  layout->brokenTail = chain.cut;
}

uint32_t FirstData(uint32_t) { return kMagicSize + kEntrySize; }

void Decode(const uint8_t* entry, Member* m) {
  NameMember(m, entry, kNameWidth);
  m->size = ReadU32LE(entry + kSizeAt);
}

void PrintRow(const Member& m) { printf("%-13.13s\t%-7d\t%08X\n", m.stored, int32_t(m.size), m.offset); }

const OffsetRule kInterleaved = {OffsetRule::BACK_TO_BACK, FirstData, kEntrySize};

// ---- writing

constexpr EntryFields kFields = {kEntrySize, NO_FIELD, kSizeAt, NO_FIELD, 0, kNameWidth, kNameWidth - 1};

void Plan(const AddRequest&, const uint8_t* directory, uint32_t count, const std::vector<AddInput>& inputs,
          UpdatePlan* plan) {
  PlanFlatNames(kFields, directory, count, inputs, plan);
}

// A chain: each entry right before its data.
const WriteRow kWriteRow = {
    COMMIT_REWRITE, TABLE_CHAIN, kMagicSize, 0,                               // style, table, header
    {{0, 0, WORD_ENTRY_COUNT}, {0, 0, WORD_ENTRY_COUNT}}, false,              // no header words
    kFields,
    1, 0, 0, false, DATA_AS_IS, nullptr,  // alignment, room, limit, keeps room, coding, transform
    "DHF", {"hog", nullptr},
    "Can't allocate %ul bytes for %.13s - skiped\n", true, true,  // directory order kept; stored names
    Plan, nullptr,
};
}  // namespace

extern const Format kHog = {
    "HOG", {{}, 0, {"DHF"}, 3}, ReadHeader,       // name, detection, header fields
    Decode, nullptr, &kInterleaved,               // decoding (or a walk), offsets
    "\nname\t\tsize\tseek\n"
    "--------------------------------\n",
    PrintRow, nullptr, false, false,              // row, extraction, walks the archive, "~" alias
    &kWriteRow,                                   // d, a and m
};
