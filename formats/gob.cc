// GOB archives: version 1 (Dark Forces) and version 2 (Jedi Knight, also
// named .goo).
//
//   v1 offset  size  field
//   0          4     magic "GOB\x0A"
//   4          4     dirOffset (u32 LE) file offset of the directory block
//
//   v2 offset  size  field
//   0          4     magic "GOB "
//   4          4     version (u32 LE) 20; any other value is no GOB
//   8          4     dirOffset (u32 LE) file offset of the directory block
//
//   directory block at dirOffset: count (u32 LE), then count entries:
//   v1, 21 bytes                       v2, 136 bytes
//   0   4   offset (u32 LE)            0   4    offset (u32 LE)
//   4   4   size   (u32 LE)            4   4    size   (u32 LE)
//   8   13  name, NUL-terminated 8.3   8   128  path with "\", NUL-terminated
//
// Members lie anywhere in the file. The games' own v1 files keep the
// directory at the end, their v2 files at 12, in front of the data.
//
// Writing v1: new data and a new directory block (count included) behind
// the end; the word at 4 commits. Names are flat, up to 12 bytes. Writing v2:
// every change writes the file anew, the directory at 12, the data behind it
// in entry order. a and m store the path with "\" between folders (af and mf
// its last component), up to 127 bytes. New names keep their letter case.
#include <vector>

#include "core/access.h"
#include "core/bytes.h"
#include "core/format.h"
#include "formats/update.h"

namespace {
constexpr uint32_t kCountSize = 4;
constexpr uint32_t kOffsetAt = 0;
constexpr uint32_t kSizeAt = 4;
constexpr uint32_t kNameAt = 8;
constexpr uint32_t kEntrySize1 = 21;
constexpr uint32_t kNameWidth1 = 13;
constexpr uint32_t kHeaderSize1 = 8;
constexpr uint32_t kVersionAt = 4;
constexpr uint32_t kVersion2 = 20;
constexpr uint32_t kEntrySize2 = 136;
constexpr uint32_t kNameWidth2 = 128;
constexpr uint32_t kHeaderSize2 = 12;

// The registry matches "GOB "; the version word is checked here.
bool IsVersion2(const ArchiverState& run) {
  uint8_t word[4];
  return run.archiveSize >= kVersionAt + 4 && ReadFar(*run.archive, kVersionAt, word, 4) && ReadU32LE(word) == kVersion2;
}

// The directory block at `dirOffset`: its count, then the entries behind it.
void ReadDirectory(const ArchiverState& run, uint32_t dirOffset, uint32_t entrySize, Layout* layout) {
  uint8_t count[kCountSize];
  layout->entrySize = entrySize;
  if (!ReadFar(*run.archive, dirOffset, count, kCountSize)) {
    layout->unreadable = true;
    return;
  }
  PlaceDirectory(run, uint64_t(dirOffset) + kCountSize, ReadU32LE(count), layout);
}

void ReadHeader1(const ArchiverState& run, Layout* layout) {
  ReadDirectory(run, ReadHeaderField(run, 4), kEntrySize1, layout);
}

void ReadHeader2(const ArchiverState& run, Layout* layout) {
  ReadHeaderField(run, 4);  // the version, 20
  ReadDirectory(run, ReadHeaderField(run, 4), kEntrySize2, layout);
}

// Both versions: offset, size, then a name field of `kWidth` bytes.
template <uint32_t kWidth>
void Decode(const uint8_t* entry, Member* m) {
  NameMember(m, entry + kNameAt, kWidth);
  m->offset = ReadU32LE(entry + kOffsetAt);
  m->size = ReadU32LE(entry + kSizeAt);
}

// ---- writing

constexpr EntryFields kFields1 = {kEntrySize1, kOffsetAt, kSizeAt, NO_FIELD, kNameAt, kNameWidth1, kNameWidth1 - 1};
constexpr EntryFields kFields2 = {kEntrySize2, kOffsetAt, kSizeAt, NO_FIELD, kNameAt, kNameWidth2, kNameWidth2 - 1};
const char kNewHeader1[kHeaderSize1] = {'G', 'O', 'B', 0x0A};
const char kNewHeader2[kHeaderSize2] = {'G', 'O', 'B', ' ', char(kVersion2)};

void Plan1(const AddRequest&, const uint8_t* directory, uint32_t count, const std::vector<AddInput>& inputs,
           UpdatePlan* plan) {
  PlanFlatNames(kFields1, directory, count, inputs, plan);
}

void Plan2(const AddRequest& request, const uint8_t* directory, uint32_t count, const std::vector<AddInput>& inputs,
           UpdatePlan* plan) {
  PlanNames({true, '\\', false, false}, kFields2, request.withFolders, directory, count, inputs, plan);
}

// The directory block, count first, behind the data; the word at 4 commits.
const WriteRow kWriteRow1 = {
    COMMIT_HEADER_WORDS, TABLE_BEHIND_DATA, kHeaderSize1, 0,                  // style, table, header
    {{4, 4, WORD_DIRECTORY_OFFSET}, {0, 0, WORD_ENTRY_COUNT}}, true,         // header word, count in the block
    kFields1,
    1, 0, 0, false, DATA_AS_IS, nullptr,  // alignment, room, limit, keeps room, coding, transform
    kNewHeader1, {"gob", nullptr},
    "Can't allocate %ul bytes for %.13s - skiped\n", true, true,  // directory order kept; stored names
    Plan1, nullptr,
};

// Rewritten whole: the directory block at 12, named by the word at 8.
const WriteRow kWriteRow2 = {
    COMMIT_REWRITE, TABLE_IN_FRONT, kHeaderSize2, kHeaderSize2,              // style, table, header
    {{8, 4, WORD_DIRECTORY_OFFSET}, {0, 0, WORD_ENTRY_COUNT}}, true,         // header word, count in the block
    kFields2,
    1, 0, 0, false, DATA_AS_IS, nullptr,  // alignment, room, limit, keeps room, coding, transform
    kNewHeader2, {"goo", nullptr},        // and -gob2
    "Can't allocate %ul bytes for %.128s - skiped\n", true, true,  // directory order kept; stored names
    Plan2, nullptr,
};
}  // namespace

extern const Format kGob = {
    "GOB", {{}, TAG_GOB, {"GOB\x0A"}, 4}, ReadHeader1,  // name, detection, header fields
    Decode<kNameWidth1>, nullptr, nullptr,        // decoding (or a walk), offsets
    TABBED_HEADING, PrintTabbedRow,               // listing
    nullptr, false, false,                        // extraction, walks the archive, "~" alias
    &kWriteRow1,                                  // d, a and m
};

extern const Format kGob2 = {
    "GOB2", {{}, TAG_GOB2, {"GOB "}, 4, IsVersion2}, ReadHeader2,  // name, detection, header fields
    Decode<kNameWidth2>, nullptr, nullptr,        // decoding (or a walk), offsets
    TABBED_HEADING, PrintTabbedRow,               // listing
    nullptr, false, false,                        // extraction, walks the archive, "~" alias
    &kWriteRow2,                                  // d, a and m
};
