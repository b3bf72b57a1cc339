// GRP files: a table of names and sizes, the members back to back behind it.
//
//   offset  size  field
//   0       12    magic "KenSilverman"
//   12      4     entry count (u32 LE)
//   16      16*n  table
//   16+16*n       member bytes, back to back in table order
//
//   table entry, 16 bytes:
//   0       12    name, NUL- or space-padded (no padding when 12 long);
//                 trailing spaces are not part of it
//   12      4     size (u32 LE)
//
// A member's offset is the end of the table plus the sizes of all entries
// before it; one that would lie past 4 GiB can't be read.
//
// Writing rewrites the file, the entries in their order. Names are flat, up
// to 12 bytes; new ones are upper-cased and NUL-padded. The original packer
// took at most 4,096 files; vrex sets no limit.
#include <cstring>
#include <vector>

#include "core/access.h"
#include "core/bytes.h"
#include "core/format.h"
#include "formats/update.h"

namespace {
constexpr char kMagic[] = "KenSilverman";
constexpr uint32_t kMagicSize = 12;
constexpr uint32_t kCountAt = 12;
constexpr uint32_t kHeaderSize = 16;
constexpr uint32_t kEntrySize = 16;
constexpr uint32_t kNameWidth = 12;
constexpr uint32_t kSizeAt = 12;

// The registry matches the magic's first four bytes; the rest is checked here.
bool HasTheWholeMagic(const ArchiverState& run) {
  uint8_t magic[kMagicSize];
  return run.archiveSize >= kMagicSize && ReadFar(*run.archive, 0, magic, kMagicSize) &&
         memcmp(magic, kMagic, kMagicSize) == 0;
}

// A count whose table can't lie below 4 GiB asks for more than any file holds.
void ReadHeader(const ArchiverState& run, Layout* layout) {
  uint64_t bytes = uint64_t(ReadHeaderFieldAt(run, kCountAt, 4)) * kEntrySize;
  layout->dirOffset = kHeaderSize;
  layout->dirSize = bytes > 0xFFFFFFFFu ? 0xFFFFFFFFu / kEntrySize * kEntrySize : uint32_t(bytes);
  layout->entrySize = kEntrySize;
}

uint32_t FirstData(uint32_t count) { return kHeaderSize + kEntrySize * count; }

void Decode(const uint8_t* entry, Member* m) {
  NameMember(m, entry, kNameWidth);
  for (size_t n = strlen(m->nameRoom); n && m->nameRoom[n - 1] == ' '; --n) m->nameRoom[n - 1] = m->storedRoom[n - 1] = 0;
  m->size = ReadU32LE(entry + kSizeAt);
}

const OffsetRule kBackToBack = {OffsetRule::BACK_TO_BACK, FirstData, 0, true};

// ---- writing

constexpr EntryFields kFields = {kEntrySize, NO_FIELD, kSizeAt, NO_FIELD, 0, kNameWidth, kNameWidth, nullptr, true};

void Plan(const AddRequest&, const uint8_t* directory, uint32_t count, const std::vector<AddInput>& inputs,
          UpdatePlan* plan) {
  PlanNames({false, '/', false, true}, kFields, false, directory, count, inputs, plan);
}

// Rewritten whole; the count at 12.
const WriteRow kWriteRow = {
    COMMIT_REWRITE, TABLE_IN_FRONT, kHeaderSize, kHeaderSize,                // style, table, header
    {{kCountAt, 4, WORD_ENTRY_COUNT}, {0, 0, WORD_ENTRY_COUNT}}, false,       // header words
    kFields,
    1, 0, 0, false, DATA_AS_IS, nullptr,  // alignment, room, limit, keeps room, coding, transform
    "KenSilverman\0\0\0\0", {"grp", nullptr},
    "Can't allocate %ul bytes for %.12s - skiped\n", true, true,  // directory order kept; stored names
    Plan, nullptr,
};
}  // namespace

extern const Format kGrp = {
    "GRP", {{}, TAG_GRP, {"KenS"}, 4, HasTheWholeMagic}, ReadHeader,  // name, detection, header fields
    Decode, nullptr, &kBackToBack,                // decoding (or a walk), offsets
    TABBED_HEADING, PrintTabbedRow,               // listing
    nullptr, false, false,                        // extraction, walks the archive, "~" alias
    &kWriteRow,                                   // d, a and m
};
