// Quake and Half-Life WAD files, "WAD2" and "WAD3" alike.
//
//   offset  size  field
//   0       4     magic "WAD2" or "WAD3"
//   4       4     entryCount (u32 LE)
//   8       4     dirOffset  (u32 LE) file offset of the directory
//
//   directory entry, 32 bytes:
//   0       4     offset     (u32 LE) of the member's data
//   4       4     size       (u32 LE) bytes stored in the file
//   8       4     packedSize (u32 LE) listed only
//   12      4     flags      type, compression and two pad bytes; listed as one u32
//   16      16    name, NUL-padded (no NUL when full)
//
// Every entry is a member; member data is copied as stored, never decoded.
//
// Adding: a file's entry name is its last component, letter case as given.
// A name stored already (ASCII case ignored) is replaced in place: its flags
// and name stay, size becomes the file's length, and so does packedSize
// unless the entry's compression byte (the second byte of flags) is not 0.
// A new entry's name drops a known extension, which sets the type byte:
// .pal palette 0x40, .lmp qpic 0x42, .mip miptex (0x44 in WAD2, 0x43 in
// WAD3), .fnt font 0x46 (WAD3 only). Without one, a file that holds a whole
// miptex is a miptex; anything else is refused. New entries are stored
// uncompressed, their data padded to 4 bytes, appended in the order given.
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/bytes.h"
#include "core/file.h"
#include "core/format.h"
#include "formats/update.h"

namespace {
constexpr uint32_t kEntrySize = 32;
constexpr uint32_t kOffsetAt = 0;
constexpr uint32_t kSizeAt = 4;
constexpr uint32_t kPackedSizeAt = 8;
constexpr uint32_t kFlagsAt = 12;
constexpr uint32_t kNameAt = 16;
constexpr uint32_t kNameWidth = 16;

void ReadHeader(const ArchiverState& run, Layout* layout) {
  uint32_t count = ReadHeaderField(run, 4);
  layout->dirOffset = ReadHeaderField(run, 4);
  layout->dirSize = count * kEntrySize;
  layout->entrySize = kEntrySize;
}

void Decode(const uint8_t* entry, Member* m) {
  NameMember(m, entry + kNameAt, kNameWidth);
  m->offset = ReadU32LE(entry + kOffsetAt);
  m->size = ReadU32LE(entry + kSizeAt);
  m->packedSize = ReadU32LE(entry + kPackedSizeAt);
  m->flags = ReadU32LE(entry + kFlagsAt);
}

// The name as selection left it (upper-cased when patterns were given).
void PrintRow(const Member& m) {
  printf("%-17.17s\t%-7d\t%-7d\t%08X\t%08X\n", m.name, int32_t(m.size), int32_t(m.packedSize), m.flags,
         m.offset);
}

// ---- adding entries

constexpr uint32_t kLongestNewName = kNameWidth - 1;
constexpr uint32_t kTypePalette = 0x40, kTypeQpic = 0x42, kTypeMiptex2 = 0x44, kTypeMiptex3 = 0x43,
                   kTypeFont = 0x46;

// miptex: name[16], width u32, height u32, offsets of the four mip levels u32[4]
constexpr uint32_t kMiptexHeader = 40;
constexpr uint32_t kMiptexWidthAt = 16, kMiptexHeightAt = 20, kMiptexOffsetsAt = 24;

std::string Folded(std::string name) {
  for (char& c : name)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return name;
}

// The type byte a known extension gives, or 0; *base is the name without it.
uint32_t TypeOfExtension(const std::string& name, uint32_t formatTag, std::string* base) {
  size_t dot = name.rfind('.');
  *base = name;
  if (dot == std::string::npos || dot == 0) return 0;
  std::string extension = Folded(name.substr(dot));
  uint32_t type = 0;
  if (extension == ".pal") type = kTypePalette;
  if (extension == ".lmp") type = kTypeQpic;
  if (extension == ".mip") type = formatTag == TAG_WAD3 ? kTypeMiptex3 : kTypeMiptex2;
  if (extension == ".fnt" && formatTag == TAG_WAD3) type = kTypeFont;
  if (type) *base = name.substr(0, dot);
  return type;
}

// Whether the file holds a whole miptex: every mip level's offset and size
// fit inside it.
bool IsMiptex(FileSystem& fs, const AddInput& input) {
  if (input.size < kMiptexHeader) return false;
  std::unique_ptr<File> file = fs.Open(input.path.c_str(), OPEN_READ, false);
  uint8_t header[kMiptexHeader];
  if (!file || file->Read(header, sizeof header) != sizeof header) return false;
  uint64_t width = ReadU32LE(header + kMiptexWidthAt), height = ReadU32LE(header + kMiptexHeightAt);
  if (width == 0 || height == 0 || width * height > input.size) return false;
  for (uint32_t level = 0; level < 4; ++level) {
    uint64_t offset = ReadU32LE(header + kMiptexOffsetsAt + 4 * level);
    uint64_t bytes = (width >> level) * (height >> level);
    if (offset < kMiptexHeader || offset + bytes > input.size) return false;
  }
  return true;
}

void Plan(const AddRequest& request, const uint8_t* directory, uint32_t count, const std::vector<AddInput>& inputs,
          UpdatePlan* plan) {
  std::unordered_map<std::string, std::vector<uint32_t>> stored;
  for (uint32_t i = 0; i < count; ++i) {
    char name[kNameWidth + 1];
    CopyNameField(name, directory + uint64_t(i) * kEntrySize + kNameAt, kNameWidth);
    stored[Folded(name)].push_back(i);
  }
  std::set<std::string> taken;
  for (size_t j = 0; j < inputs.size(); ++j) {
    Put& put = plan->puts[j];
    if (put.refusal) continue;
    std::string base;
    const std::string last = LastComponent(inputs[j].path);
    uint32_t type = TypeOfExtension(last, request.formatTag, &base);
    auto found = stored.find(Folded(last));
    if (found == stored.end()) found = stored.find(Folded(base));
    std::string key = found == stored.end() ? Folded(base) : found->first;
    if (taken.count(key)) {
      put.refusal = "Duplicate name";
    } else if (found != stored.end() && found->second.size() > 1) {
      put.refusal = "Ambiguous name";
    } else if (found != stored.end()) {
      put.replaces = found->second[0];
      char name[kNameWidth + 1];
      CopyNameField(name, directory + uint64_t(put.replaces) * kEntrySize + kNameAt, kNameWidth);
      put.shown = name;
    } else if (base.size() > kLongestNewName) {
      put.refusal = "Name too long";
    } else if (!type && !IsMiptex(*request.run->fs, inputs[j])) {
      put.refusal = "Unknown lump type";
    } else {
      put.entry.assign(kEntrySize, 0);
      WriteU32LE(&put.entry[kFlagsAt], type ? type : request.formatTag == TAG_WAD3 ? kTypeMiptex3 : kTypeMiptex2);
      base.copy(reinterpret_cast<char*>(&put.entry[kNameAt]), base.size());
    }
    if (!put.refusal) taken.insert(key);
  }
  AppendInOrder(count, plan);
}

// size, and packedSize too unless the entry's compression byte is set
void SetSizes(uint8_t* entry, uint32_t size, uint32_t) {
  WriteU32LE(entry + kSizeAt, size);
  if (((ReadU32LE(entry + kFlagsAt) >> 8) & 0xFF) == 0) WriteU32LE(entry + kPackedSizeAt, size);
}

// The directory behind the data; the header words at 4 and 8 locate it.
const WriteRow kWriteRow = {
    COMMIT_HEADER_WORDS, TABLE_BEHIND_DATA, 12, 0,                            // style, table, header
    {{4, 4, WORD_ENTRY_COUNT}, {8, 4, WORD_DIRECTORY_OFFSET}}, false,        // header words
    {kEntrySize, kOffsetAt, kSizeAt, NO_FIELD, kNameAt, kNameWidth, kLongestNewName},
    4, 0, 0, false, DATA_AS_IS, nullptr,  // alignment, room, limit, keeps room, coding, transform
    "WAD2\0\0\0\0\0\0\0\0", {nullptr, nullptr},
    "Can't allocate %ul bytes for %.16s - skiped\n", false, false,  // sorted; names as selected
    Plan, SetSizes,
};
}  // namespace

extern const Format kQuakeWad = {
    "Quake WAD", {{}, 0, {"WAD3", "WAD2"}, 4}, ReadHeader,// name, detection, header fields
    Decode, nullptr, nullptr,                     // decoding (or a walk), offsets
    "\nname\t\t\tsize\tpacked\tflags\t\tseek\n"
    "----------------------------------------------------------------\n",
    PrintRow, nullptr, false, false,              // row, extraction, walks the archive, "~" alias
    &kWriteRow,                                   // d, a and m
};
