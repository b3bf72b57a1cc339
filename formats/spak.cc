// SPAK archives: PACK with room for longer names.
//
//   offset  size  field
//   0       4     magic "SPAK"
//   4       4     dirOffset  (u32 LE) file offset of the directory
//   8       4     dirLength  (u32 LE) directory bytes; entries = dirLength / 128
//
//   directory entry, 128 bytes:
//   0       120   name, "/" between folders, NUL-padded (no NUL when full)
//   120     4     offset (u32 LE) of the member's data
//   124     4     size   (u32 LE)
//
// Member data lie anywhere behind the header; the directory anywhere.
//
// Adding: as PACK. A file's member name is its path with "/" between
// folders (af and mf: its last component), letter case as given, compared
// with "\" and "/" as one character: exactly, else a single stored name
// equal with ASCII case ignored. Other names are appended, in the order
// given, if they fit the field with a terminator (119 bytes).
#include <vector>

#include "core/bytes.h"
#include "core/format.h"
#include "formats/update.h"

namespace {
constexpr uint32_t kEntrySize = 128;
constexpr uint32_t kNameWidth = 120;
constexpr uint32_t kOffsetAt = 120;
constexpr uint32_t kSizeAt = 124;

void ReadHeader(const ArchiverState& run, Layout* layout) {
  layout->dirOffset = ReadHeaderField(run, 4);
  layout->dirSize = ReadHeaderField(run, 4);
  layout->entrySize = kEntrySize;
}

void Decode(const uint8_t* entry, Member* m) {
  NameMember(m, entry, kNameWidth);
  m->offset = ReadU32LE(entry + kOffsetAt);
  m->size = ReadU32LE(entry + kSizeAt);
}

constexpr EntryFields kFields = {kEntrySize, kOffsetAt, kSizeAt, NO_FIELD, 0, kNameWidth, kNameWidth - 1};

void Plan(const AddRequest& request, const uint8_t* directory, uint32_t count, const std::vector<AddInput>& inputs,
          UpdatePlan* plan) {
  PlanNames({true, '/', true, false}, kFields, request.withFolders, directory, count, inputs, plan);
}

// The directory behind the data; the header words at 4 and 8 locate it.
const WriteRow kWriteRow = {
    COMMIT_HEADER_WORDS, TABLE_BEHIND_DATA, 12, 0,                            // style, table, header
    {{4, 4, WORD_DIRECTORY_OFFSET}, {8, 4, WORD_DIRECTORY_BYTES}}, false,    // header words
    kFields,
    1, 0, 0, false, DATA_AS_IS, nullptr,  // alignment, room, limit, keeps room, coding, transform
    "SPAK\0\0\0\0\0\0\0\0", {"sin", nullptr},
    "Can't allocate %ul bytes for %.120s - skiped\n", false, true,  // sorted; stored names
    Plan, nullptr,
};
}  // namespace

extern const Format kSpak = {
    "SPAK", {{}, 0, {"SPAK"}, 4}, ReadHeader,     // name, detection, header fields
    Decode, nullptr, nullptr,                     // decoding (or a walk), offsets
    TABBED_HEADING, PrintTabbedRow,               // listing
    nullptr, false, false,                        // extraction, walks the archive, "~" alias
    &kWriteRow,                                   // d, a and m
};
