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
#include <string>
#include <unordered_map>
#include <unordered_set>
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

constexpr uint32_t kLongestNewName = kNameWidth - 1;

// A name as compared: "\" as "/"; folded also ignores ASCII case.
std::string Same(std::string name) {
  for (char& c : name)
    if (c == '\\') c = '/';
  return name;
}

std::string Folded(std::string name) {
  for (char& c : name) {
    if (c == '\\') c = '/';
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return name;
}

std::string StoredName(const uint8_t* entry) {
  char name[kNameWidth + 1];
  CopyNameField(name, entry, kNameWidth);
  return name;
}

void Plan(const AddRequest& request, const uint8_t* directory, uint32_t count, const std::vector<AddInput>& inputs,
          UpdatePlan* plan) {
  std::unordered_map<std::string, std::vector<uint32_t>> exact, folded;
  for (uint32_t i = 0; i < count; ++i) {
    std::string name = StoredName(directory + uint64_t(i) * kEntrySize);
    exact[Same(name)].push_back(i);
    folded[Folded(name)].push_back(i);
  }
  std::unordered_set<std::string> taken;
  for (size_t j = 0; j < inputs.size(); ++j) {
    Put& put = plan->puts[j];
    if (put.refusal) continue;
    const std::string name = request.withFolders ? RelativePath(inputs[j].path) : LastComponent(inputs[j].path);
    if (taken.count(Folded(name))) {
      put.refusal = "Duplicate name";
      continue;
    }
    const std::vector<uint32_t>* matches = nullptr;
    auto same = exact.find(Same(name));
    if (same != exact.end()) {
      matches = &same->second;
    } else {
      auto fold = folded.find(Folded(name));
      if (fold != folded.end()) matches = &fold->second;
    }
    if (matches && matches->size() > 1) {
      put.refusal = "Ambiguous name";
    } else if (matches) {
      put.replaces = (*matches)[0];
      put.shown = StoredName(directory + uint64_t(put.replaces) * kEntrySize);
    } else if (name.size() > kLongestNewName) {
      put.refusal = "Name too long";
    } else {
      put.entry.assign(kEntrySize, 0);
      name.copy(reinterpret_cast<char*>(put.entry.data()), name.size());
    }
    if (!put.refusal) taken.insert(Folded(name));
  }
  AppendInOrder(count, plan);
}

// The directory behind the data; the header words at 4 and 8 locate it.
const WriteRow kWriteRow = {
    COMMIT_HEADER_WORDS, TABLE_BEHIND_DATA, 12, 0,                            // style, table, header
    {{4, 4, WORD_DIRECTORY_OFFSET}, {8, 4, WORD_DIRECTORY_BYTES}}, false,    // header words
    {kEntrySize, kOffsetAt, kSizeAt, NO_FIELD, 0, kNameWidth, kLongestNewName},
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
