// SLB archives: no magic, recognised by the extension "slb" and a header
// that fits.
//
//   offset  size  field
//   0       4     0 (u32 LE)
//   4       4     entry count (u32 LE)
//   8       4     tocOffset (u32 LE) file offset of the table
//
//   table entry, 72 bytes:
//   0       64    name, "\" in front and between folders, NUL-terminated
//   64      4     offset (u32 LE) of the member's data
//   68      4     size   (u32 LE)
//
// A file fits when its first word is 0, the table lies inside the file and
// every name in it begins with "\" (a count of 0: an archive without
// members). The leading "\" is no part of the name vrex shows and selects.
//
// Writing: new data and the table behind the end of the file; the count and
// tocOffset commit. A file's member name is its path with "\" between
// folders (af and mf: its last component), letter case as given, compared
// exactly, else with ASCII case ignored; a new name is written behind a
// "\" and may have 62 bytes (the "\" and the terminator fill the field).
#include <algorithm>
#include <vector>

#include "core/access.h"
#include "core/bytes.h"
#include "core/format.h"
#include "formats/update.h"

namespace {
constexpr uint32_t kHeaderSize = 12;
constexpr uint32_t kCountAt = 4;
constexpr uint32_t kTableAt = 8;
constexpr uint32_t kEntrySize = 72;
constexpr uint32_t kNameWidth = 64;
constexpr uint32_t kOffsetAt = 64;
constexpr uint32_t kSizeAt = 68;
constexpr uint64_t kEntriesAtOnce = 1024;  // entries the check reads at a time

// Whether the table lies inside the file (and below 4 GiB) with every name
// beginning with "\".
bool Fits(const ArchiverState& run) {
  uint8_t header[kHeaderSize];
  if (run.archiveSize < kHeaderSize || !ReadFar(*run.archive, 0, header, kHeaderSize)) return false;
  uint64_t count = ReadU32LE(header + kCountAt), table = ReadU32LE(header + kTableAt);
  uint64_t end = table + count * kEntrySize;
  if (ReadU32LE(header) != 0 || end > run.archiveSize || end > 0xFFFFFFFFu) return false;
  std::vector<uint8_t> entries(size_t(std::min(count, kEntriesAtOnce) * kEntrySize));
  for (uint64_t first = 0; first < count; first += kEntriesAtOnce) {
    uint64_t n = std::min(count - first, kEntriesAtOnce);
    if (!ReadFar(*run.archive, table + first * kEntrySize, entries.data(), size_t(n * kEntrySize))) return false;
    for (uint64_t i = 0; i < n; ++i)
      if (entries[size_t(i * kEntrySize)] != '\\') return false;
  }
  return true;
}

// From the file's start: the first word, the count, the table's offset.
void ReadHeader(const ArchiverState& run, Layout* layout) {
  ReadHeaderField(run, 4);
  uint32_t count = ReadHeaderField(run, 4);
  layout->dirOffset = ReadHeaderField(run, 4);
  layout->dirSize = count * kEntrySize;  // below 4 GiB: the table fits the file
  layout->entrySize = kEntrySize;
}

void Decode(const uint8_t* entry, Member* m) {
  uint32_t backslash = entry[0] == '\\' ? 1 : 0;
  NameMember(m, entry + backslash, kNameWidth - backslash);
  m->offset = ReadU32LE(entry + kOffsetAt);
  m->size = ReadU32LE(entry + kSizeAt);
}

constexpr EntryFields kFields = {kEntrySize, kOffsetAt, kSizeAt, NO_FIELD, 0, kNameWidth, kNameWidth - 2, "\\"};

void Plan(const AddRequest& request, const uint8_t* directory, uint32_t count, const std::vector<AddInput>& inputs,
          UpdatePlan* plan) {
  PlanNames({true, '\\', false, false}, kFields, request.withFolders, directory, count, inputs, plan);
}

// The table behind the data; the count and its offset, side by side at 4, locate it.
const WriteRow kWriteRow = {
    COMMIT_HEADER_WORDS, TABLE_BEHIND_DATA, kHeaderSize, 0,                   // style, table, header
    {{kCountAt, 4, WORD_ENTRY_COUNT}, {kTableAt, 4, WORD_DIRECTORY_OFFSET}}, false,  // header words
    kFields,
    1, 0, 0, false, DATA_AS_IS, nullptr,  // alignment, room, limit, keeps room, coding, transform
    "\0\0\0\0\0\0\0\0\0\0\0\0", {"slb", nullptr},
    "Can't allocate %ul bytes for %.64s - skiped\n", false, true,  // sorted; stored names
    Plan, nullptr,
};
}  // namespace

extern const Format kSlb = {
    "SLB", {{"slb"}, TAG_SLB, {}, 0, Fits}, ReadHeader,  // name, detection, header fields
    Decode, nullptr, nullptr,                     // decoding (or a walk), offsets
    TABBED_HEADING, PrintTabbedRow,               // listing
    nullptr, false, false,                        // extraction, walks the archive, "~" alias
    &kWriteRow,                                   // d, a and m
};
