// Quake PACK archives.
//
//   offset  size  field
//   0       4     magic "PACK"
//   4       4     dirOffset  (u32 LE) file offset of the directory
//   8       4     dirLength  (u32 LE) directory bytes; entries = dirLength / 64
//
//   directory entry, 64 bytes:
//   0       56    name, "/" between folders, NUL-padded (no NUL when full)
//   56      4     offset (u32 LE) of the member's data
//   60      4     size   (u32 LE)
//
// Member data lies anywhere behind the header; the directory anywhere.
//
// Adding: a file's member name is its path with "/" between folders (af and
// mf: its last component), letter case as given. Names are compared with "\"
// and "/" as one character: a name equal to a stored one replaces it in
// place; failing that, a single stored name that differs only in ASCII case
// is replaced under its stored spelling; two or more such names, or a name
// stored twice, make the file ambiguous. Any other name is appended, in the
// order given, if it fits the field with its terminator (55 bytes).
#include <cstdio>
#include <vector>

#include "core/bytes.h"
#include "core/format.h"
#include "formats/update.h"

namespace {
constexpr uint32_t kEntrySize = 64;
constexpr uint32_t kNameWidth = 56;
constexpr uint32_t kOffsetAt = 56;
constexpr uint32_t kSizeAt = 60;

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

// The stored name, padded to 56 columns, directly followed by the size.
void PrintRow(const Member& m) { printf("%-56.56s%-7d\t%08X\n", m.stored, int32_t(m.size), m.offset); }

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
    "PACK\0\0\0\0\0\0\0\0", {"pak", nullptr},
    "Can't allocate %ul bytes for %.56s - skiped\n", false, true,  // sorted; stored names
    Plan, nullptr,
};
}  // namespace

extern const Format kPack = {
    "PACK", {{}, 0, {"PACK"}, 4}, ReadHeader,     // name, detection, header fields
    Decode, nullptr, nullptr,                     // decoding (or a walk), offsets
    "\nname\t\t\t\t\t\t\tsize\tseek\n"
    "------------------------------------------------------------------------\n",
    PrintRow, nullptr, false, false,              // row, extraction, walks the archive, "~" alias
    &kWriteRow,                                   // d, a and m
};
