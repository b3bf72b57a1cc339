// Doom WAD files, "IWAD" and "PWAD" alike.
//
//   offset  size  field
//   0       4     magic "IWAD" or "PWAD"
//   4       4     entryCount (u32 LE)
//   8       4     dirOffset  (u32 LE) file offset of the directory
//
//   directory entry, 16 bytes; the order of the entries is significant:
//   0       4     offset (u32 LE) of the lump's data
//   4       4     size   (u32 LE)
//   8       8     name, NUL-padded (no NUL when full)
//
// An entry of fewer than 100 bytes is a label and not a member (with -all,
// every entry but the markers is a member). Some labels are markers that
// group the entries behind them into folders:
//   map marker       "MAP..." or "E?M..."  the next 10 entries, whatever they are
//   namespace start  "?_START..."          every entry up to the namespace end
//   namespace end    "?_END..."            the group closes after this entry
// A member inside a group is named after its markers, each followed by a
// backslash (MAP01\THINGS, S_START\TROOA1); a marker met inside a group
// extends the prefix, which is only ever cleared as a whole. Full names have
// no length limit; the listing shows their first 17 characters. A lump whose
// own name holds a backslash (a sprite frame VILE\1) is also selected by a
// pattern that writes it as "~", the way the plug-in module shows it.
//
// Deleting (d) takes a map's marker, and the labels in its ten places that
// are no markers, when the run deletes a member there and keeps none. A
// deletion that would give a kept member another full name (a map's ten
// places taking in what follows) deletes nothing.
//
// Adding (a, m) takes a path as the listing's full name with "\" for "/":
// it replaces the entry of that full name (listed, or a label under 100
// bytes), in place, keeping its stored name; markers are never replaced. A
// path that names no entry as it stands loses its extension (THINGS.lmp is
// THINGS). A new name's first component is its folder: a namespace that
// exists takes the lump before the end marker closing its last block; a map
// that exists takes none (its ten places are fixed) unless its marker is
// directly followed by another marker or by the end of the directory: its
// lumps then go right behind it (fewer than ten only where the directory
// ends behind it); a new map (MAP07,
// E2M3) is made at the end with its marker and its lumps in the order the
// engines expect; a new namespace (X_START) with its start and end markers.
// Top-level lumps, new maps and namespaces go at the end, before a group the
// directory ends inside, so that the listing names them as they were added.
// af and mf take the last component as the lump's own name. Names are
// upper-cased, at most 8 characters, never cut. Before anything is
// written the new directory is walked as the listing walks it: should any
// entry come out under another name, no new lump is added.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/bytes.h"
#include "core/format.h"
#include "core/memory.h"
#include "formats/update.h"

namespace {
constexpr uint32_t kEntrySize = 16;
constexpr uint32_t kOffsetAt = 0;
constexpr uint32_t kSizeAt = 4;
constexpr uint32_t kNameAt = 8;
constexpr uint32_t kNameWidth = 8;
constexpr uint32_t kLabelBelow = 100;   // entries smaller than this are labels
constexpr int32_t kMapCountdown = 11;   // a map marker's prefix is cleared on the 11th entry behind it
constexpr int32_t kInNamespace = -1;

enum MarkerKind { NO_MARKER, MAP_MARKER, NAMESPACE_START, NAMESPACE_END };

// Classifies a label by its name field; the first test that holds decides.
MarkerKind KindOf(const uint8_t* name) {
  if (name[0] == 'M' && name[1] == 'A' && name[2] == 'P') return MAP_MARKER;
  if (name[0] == 'E' && name[2] == 'M') return MAP_MARKER;
  if (memcmp(name + 1, "_START", 6) == 0) return NAMESPACE_START;
  if (memcmp(name + 1, "_END", 4) == 0) return NAMESPACE_END;
  return NO_MARKER;
}

// One step of the folder walk over entry `entry`: the countdown steps (a
// countdown of 1 empties the prefix before this entry), then a marker sets
// it anew. Every walk over the directory goes through here; allEntries is
// the member rule of -all.
struct Step {
  bool cleared;     // the prefix was emptied before this entry
  bool member;      // 100 bytes or more (with allEntries: no marker)
  MarkerKind kind;  // of a label
};

// The marker an entry is (a label's name decides), or NO_MARKER.
MarkerKind MarkerOf(const uint8_t* entry) {
  return ReadU32LE(entry + kSizeAt) < kLabelBelow ? KindOf(entry + kNameAt) : NO_MARKER;
}

bool IsMember(const uint8_t* entry, bool allEntries) {
  return ReadU32LE(entry + kSizeAt) >= kLabelBelow || (allEntries && MarkerOf(entry) == NO_MARKER);
}

Step StepFolders(const uint8_t* entry, bool allEntries, int32_t* countdown) {
  Step step = {false, false, NO_MARKER};
  if (*countdown == 1) {
    step.cleared = true;
    *countdown = 0;
  } else if (*countdown > 1) {
    --*countdown;
  }
  if (IsMember(entry, allEntries)) {
    step.member = true;
    return step;
  }
  step.kind = MarkerOf(entry);
  if (step.kind == NAMESPACE_END) *countdown = 1;
  if (step.kind == MAP_MARKER) *countdown = kMapCountdown;
  if (step.kind == NAMESPACE_START) *countdown = kInNamespace;
  return step;
}

bool OpensFolder(MarkerKind kind) { return kind == MAP_MARKER || kind == NAMESPACE_START; }

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return text;
}

uint32_t NameLength(const uint8_t* name) {
  uint32_t length = 0;
  while (length < kNameWidth && name[length]) ++length;
  return length;
}

void ReadHeader(const ArchiverState& run, Layout* layout) {
  uint32_t count = ReadHeaderField(run, 4);
  layout->dirOffset = ReadHeaderField(run, 4);
  layout->dirSize = count * kEntrySize;
  layout->entrySize = kEntrySize;
}

// Room for the longest full name of this directory and its NUL: every
// marker that can open or extend a prefix, then one lump name. At most 9
// bytes per 16-byte entry, so it fits in 32 bits.
uint32_t FullNameCapacity(const Directory& dir) {
  uint64_t capacity = kNameWidth + 1;
  for (uint32_t i = 0; i < dir.count; ++i) {
    const uint8_t* entry = dir.Entry(i);
    if (ReadU32LE(entry + kSizeAt) >= kLabelBelow) continue;
    MarkerKind kind = KindOf(entry + kNameAt);
    if (kind == MAP_MARKER || kind == NAMESPACE_START) capacity += NameLength(entry + kNameAt) + 1;
  }
  return uint32_t(capacity);
}

// The walk keeps the current prefix at the start of the full-name buffer
// (upper-cased once a pattern has been matched against it), so a member
// only writes its own name behind it; a second buffer behind it holds the
// same name in the stored spelling, which the files are named after.
WalkResult Walk(const Directory& dir, MemberVisitor& visitor) {
  uint32_t capacity = FullNameCapacity(dir);
  uint64_t bytes = 2 * uint64_t(capacity);
  char* fullName = bytes <= SIZE_MAX ? static_cast<char*>(Allocate(size_t(bytes))) : nullptr;
  if (!fullName) {
    printf("Can't allocate %ul bytes\n", unsigned(bytes));
    return WALK_ABORTED;
  }
  char* storedName = fullName + capacity;
  visitor.Begin();
  Member m;
  uint32_t prefixLength = 0;
  int32_t countdown = 1;
  for (uint32_t i = 0; i < dir.count; ++i) {
    const uint8_t* entry = dir.Entry(i);
    Step step = StepFolders(entry, dir.run->allEntries, &countdown);
    if (step.cleared) prefixLength = 0;
    const uint8_t* name = entry + kNameAt;
    uint32_t nameLength = NameLength(name);
    if (!step.member) {
      if (!OpensFolder(step.kind)) continue;
      memcpy(fullName + prefixLength, name, nameLength);
      memcpy(storedName + prefixLength, name, nameLength);
      prefixLength += nameLength;
      storedName[prefixLength] = '\\';
      fullName[prefixLength++] = '\\';
      continue;
    }

    memcpy(fullName + prefixLength, name, nameLength);
    memcpy(storedName + prefixLength, name, nameLength);
    fullName[prefixLength + nameLength] = 0;
    storedName[prefixLength + nameLength] = 0;
    m.name = fullName;
    m.stored = storedName;
    m.ownAt = prefixLength;
    m.offset = ReadU32LE(entry + kOffsetAt);
    m.size = ReadU32LE(entry + kSizeAt);
    m.index = i;
    visitor.Visit(m);
  }
  Release(fullName);
  return WALK_DONE;
}

// The full name as selection left it (upper-cased when patterns were given).
void PrintRow(const Member& m) { printf("%-17.17s\t%-7d\t%08X\n", m.name, int32_t(m.size), m.offset); }

// ---- deleting lumps

const uint8_t* EntryAt(const uint8_t* directory, uint32_t i) { return directory + uint64_t(i) * kEntrySize; }

// A map marker goes, with the labels in its ten places, when the run
// deletes a member there and keeps none. A marker there is no such label:
// a map marker goes by this rule of its own, a namespace's markers stay.
void MarkEmptiedMaps(const uint8_t* directory, uint32_t count, bool allEntries, uint8_t* marks) {
  for (uint32_t i = 0; i < count; ++i) {
    if (MarkerOf(EntryAt(directory, i)) != MAP_MARKER) continue;
    uint32_t end = uint32_t(std::min<uint64_t>(count, uint64_t(i) + kMapCountdown));
    bool deleted = false, kept = false;
    for (uint32_t j = i + 1; j < end; ++j) {
      if (!IsMember(EntryAt(directory, j), allEntries)) continue;
      deleted = deleted || marks[j];
      kept = kept || !marks[j];
    }
    if (!deleted || kept) continue;
    marks[i] = 1;
    for (uint32_t j = i + 1; j < end; ++j) {
      const uint8_t* entry = EntryAt(directory, j);
      if (!IsMember(entry, allEntries) && MarkerOf(entry) == NO_MARKER) marks[j] = 1;
    }
  }
}

// The full name (as the run lists it) of the first kept member that the
// directory without the marked entries would name otherwise, or "". Both
// walks go side by side; `common` is the length of the longest common start
// of their prefixes, kept up to date as they change, so that comparing them
// costs no more than building them.
std::string FirstRenamed(const ArchiverState& run, const uint8_t* directory, uint32_t count, const uint8_t* marks) {
  std::string prefix[2];  // of the directory as it is, and as the deletion leaves it
  int32_t countdown[2] = {1, 1};
  size_t common = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* entry = EntryAt(directory, i);
    const char* name = reinterpret_cast<const char*>(entry + kNameAt);
    for (int after = 0; after < 2; ++after) {
      if (after && marks[i]) continue;
      Step step = StepFolders(entry, run.allEntries, &countdown[after]);
      if (step.cleared) {
        prefix[after].clear();
        common = 0;
      }
      if (OpensFolder(step.kind)) prefix[after].append(name, NameLength(entry + kNameAt)).push_back('\\');
    }
    while (common < prefix[0].size() && common < prefix[1].size() && prefix[0][common] == prefix[1][common])
      ++common;
    if (marks[i] || !IsMember(entry, run.allEntries)) continue;
    if (common == prefix[0].size() && common == prefix[1].size()) continue;
    std::string full = prefix[0] + std::string(name, NameLength(entry + kNameAt));
    return run.names.count ? Upper(full) : full;
  }
  return "";
}

std::string SettleDeletion(const ArchiverState& run, const uint8_t* directory, uint32_t count, uint8_t* marks) {
  MarkEmptiedMaps(directory, count, run.allEntries, marks);
  return FirstRenamed(run, directory, count, marks);
}

// ---- adding lumps

const char kMarker[] = "Marker name";
const char kNameTooLong[] = "Name too long";
const char kAmbiguous[] = "Ambiguous name";
const char kDuplicate[] = "Duplicate name";
const char kMapExists[] = "Map exists";
const char kNoFolder[] = "Not a map or namespace";
const char kCantPlace[] = "Can't be placed";
const char kUnsafe[] = "Unsafe path";

// What the listing makes of one entry (labels included: their full name is
// the one they would be listed under).
struct Listed {
  std::string full;
  std::string own;
  bool member;
  MarkerKind kind;
};

struct NamespaceBlock {
  uint32_t endAt;  // the end marker that closes its last block (the count: never closed)
  bool placeable;  // nothing nested in that block moves the listing's folders
};

struct Listing {
  std::vector<Listed> entries;
  std::map<std::string, NamespaceBlock> namespaces;  // top-level namespace folders, upper-cased
  // Top-level map folders, upper-cased: the marker of one that holds no
  // entry (directly followed by a marker or the end), else -1.
  std::map<std::string, int64_t> maps;
  uint32_t tailAt;  // new top-level items go before this entry
  bool tailOpen;    // the directory ends inside a map's ten places or an open namespace
};

// The 8 bytes of an entry's name field (a marker is told by the bytes
// behind a NUL too), and the own name they hold.
std::string Field(const uint8_t* entry) { return std::string(reinterpret_cast<const char*>(entry + kNameAt), kNameWidth); }

std::string Own(const std::string& field) { return field.substr(0, NameLength(reinterpret_cast<const uint8_t*>(field.data()))); }

// The names a directory lists under, by the walk of the listing. `sizes`
// and `fields` give each entry's size and name field.
Listing ListNames(const std::vector<uint32_t>& sizes, const std::vector<std::string>& fields) {
  Listing listing;
  uint32_t count = uint32_t(fields.size());
  int32_t countdown = 1;
  std::string prefix, block;
  uint32_t groupStart = 0;
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t entry[kEntrySize] = {};
    WriteU32LE(entry + kSizeAt, sizes[i]);
    fields[i].copy(reinterpret_cast<char*>(entry + kNameAt), kNameWidth);
    std::string own = Own(fields[i]);
    Step step = StepFolders(entry, false, &countdown);
    if (step.cleared) {
      prefix.clear();
      if (!block.empty()) listing.namespaces[block] = {i, false};
      block.clear();
    }
    listing.entries.push_back({prefix + own, own, step.member, step.kind});
    if (step.member) continue;
    std::string folder = Upper(own);
    if (step.kind == NAMESPACE_END && !block.empty() && prefix == block + "\\") {
      listing.namespaces[block] = {i, true};
      block.clear();
    }
    if (!OpensFolder(step.kind)) continue;
    if (prefix.empty()) {
      groupStart = i;
      if (step.kind == MAP_MARKER) listing.maps[folder] = listing.maps.count(folder) ? -1 : int64_t(i);
      if (step.kind == NAMESPACE_START) block = folder;
    } else if (!block.empty()) {
      listing.namespaces[block] = {i, false};  // a folder nested in the block
      block.clear();
    }
    prefix += own + "\\";
  }
  if (!block.empty()) listing.namespaces[block] = {count, true};
  for (auto& map : listing.maps) {
    uint64_t next = uint64_t(map.second) + 1;
    if (map.second >= 0 && next < count && listing.entries[next].kind == NO_MARKER) map.second = -1;
  }
  listing.tailOpen = countdown > 1 || countdown == kInNamespace;
  listing.tailAt = listing.tailOpen ? groupStart : count;
  return listing;
}

// Where the engines expect a map's lumps; other names go before ENDMAP.
int MapRank(const std::string& own) {
  static const char* const kOrder[] = {"TEXTMAP", "THINGS", "LINEDEFS", "SIDEDEFS", "VERTEXES", "SEGS",
                                       "SSECTORS", "NODES", "SECTORS", "REJECT", "BLOCKMAP", "BEHAVIOR",
                                       "SCRIPTS"};
  for (int i = 0; i < int(sizeof kOrder / sizeof *kOrder); ++i)
    if (own == kOrder[i]) return i;
  return own == "ENDMAP" ? 1000 : 100;
}

std::string DropExtension(const std::string& name) {
  size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> parts;
  size_t at = 0;
  for (size_t slash; (slash = path.find('/', at)) != std::string::npos; at = slash + 1)
    parts.push_back(path.substr(at, slash - at));
  parts.push_back(path.substr(at));
  return parts;
}

std::string Join(const std::vector<std::string>& parts, size_t from) {
  std::string out;
  for (size_t i = from; i < parts.size(); ++i) out += (i > from ? "\\" : "") + parts[i];
  return out;
}

std::vector<uint8_t> NewEntry(const std::string& own) {
  std::vector<uint8_t> entry(kEntrySize, 0);
  own.copy(reinterpret_cast<char*>(entry.data() + kNameAt), kNameWidth);
  return entry;
}

// A lump under 100 bytes with a marker's name would open or close a folder
// (`field` is a name field, or a new name: NUL-padded to 8 bytes here.)
bool ActsAsMarker(const std::string& field, uint64_t size) {
  if (size >= kLabelBelow) return false;
  uint8_t name[kNameWidth] = {};
  field.copy(reinterpret_cast<char*>(name), kNameWidth);
  return KindOf(name) != NO_MARKER;
}

// A group of new lumps made together: a new map or a new namespace, or the
// lumps of a map that holds none yet.
struct NewGroup {
  std::string folder;
  MarkerKind kind;
  std::vector<size_t> puts;
  int64_t markerAt;  // that map's marker, or -1
};

class DoomPlanner {
 public:
  DoomPlanner(const AddRequest& request, const uint8_t* directory, uint32_t count,
              const std::vector<AddInput>& inputs, UpdatePlan* plan)
      : request_(request), count_(count), inputs_(inputs), plan_(plan) {
    for (uint32_t i = 0; i < count; ++i) {
      sizes_.push_back(ReadU32LE(directory + uint64_t(i) * kEntrySize + kSizeAt));
      fields_.push_back(Field(directory + uint64_t(i) * kEntrySize));
    }
    listing_ = ListNames(sizes_, fields_);
    for (uint32_t i = 0; i < count; ++i) {
      byFull_[Upper(listing_.entries[i].full)].push_back(i);
      byOwn_[Upper(listing_.entries[i].own)].push_back(i);
    }
  }

  void Plan() {
    for (size_t j = 0; j < inputs_.size(); ++j)
      if (!plan_->puts[j].refusal) Decide(j);
    PlaceGroups();
    Arrange();
    // Replacements alone move no entry and make no marker: nothing to walk.
    if (!inserts_.empty() && !Verified()) {
      for (size_t j = 0; j < plan_->puts.size(); ++j)
        if (!plan_->puts[j].refusal && plan_->puts[j].replaces < 0) plan_->puts[j].refusal = kCantPlace;
      plan_->fixed.clear();
      plan_->fixedGroup.clear();
      inserts_.clear();
      Arrange();
    }
  }

 private:
  struct Insert {
    uint32_t before;  // the old entry it goes before (count: the end)
    Slot slot;
  };

  // Entries whose full (or own) name is `name`, markers first.
  const std::vector<uint32_t>* Find(const std::unordered_map<std::string, std::vector<uint32_t>>& index,
                                    const std::string& name) const {
    auto found = index.find(Upper(name));
    return found == index.end() ? nullptr : &found->second;
  }

  bool AnyMarker(const std::vector<uint32_t>* matches) const {
    if (!matches) return false;
    for (uint32_t i : *matches)
      if (!listing_.entries[i].member && listing_.entries[i].kind != NO_MARKER) return true;
    return false;
  }

  // The entry a name replaces: -1 none; -2 refused (*reason set).
  int64_t Match(const std::unordered_map<std::string, std::vector<uint32_t>>& index, const std::string& name,
                bool topLevel, const char** reason) const {
    const std::vector<uint32_t>* matches = Find(index, name);
    if (AnyMarker(matches) || (topLevel && AnyMarker(Find(byOwn_, name)))) {
      *reason = kMarker;
      return -2;
    }
    if (!matches) return -1;
    if (matches->size() > 1) {
      *reason = kAmbiguous;
      return -2;
    }
    return (*matches)[0];
  }

  void Refuse(size_t j, const char* reason) { plan_->puts[j].refusal = reason; }

  void Replace(size_t j, uint32_t k) {
    Put& put = plan_->puts[j];
    if (ActsAsMarker(fields_[k], inputs_[j].size)) return Refuse(j, kMarker);
    if (!taken_.insert(Upper(listing_.entries[k].full)).second) return Refuse(j, kDuplicate);
    put.replaces = k;
    put.shown = listing_.entries[k].full;
    if (inputs_[j].size < kLabelBelow) put.note = " (under 100 bytes: not listed)";
  }

  void Decide(size_t j) {
    const AddInput& input = inputs_[j];
    std::vector<std::string> parts =
        Components(request_.withFolders ? RelativePath(input.path) : LastComponent(input.path));
    bool topLevel = parts.size() == 1;
    const auto& index = request_.withFolders ? byFull_ : byOwn_;
    const char* reason = nullptr;
    for (int dropped = 0; dropped < 2; ++dropped) {
      if (dropped) parts.back() = DropExtension(parts.back());
      int64_t k = Match(index, Join(parts, 0), topLevel, &reason);
      if (k == -2) return Refuse(j, reason);
      if (k >= 0) return Replace(j, uint32_t(k));
    }

    std::string own = Upper(Join(parts, topLevel ? 0 : 1));
    std::string folder = topLevel ? "" : Upper(parts[0]);
    if (own.empty()) return Refuse(j, kUnsafe);
    if (folder.size() > kNameWidth) return Refuse(j, kNoFolder);
    if (own.size() > kNameWidth) return Refuse(j, kNameTooLong);
    if (ActsAsMarker(own, input.size)) return Refuse(j, kMarker);
    std::string full = folder.empty() ? own : folder + "\\" + own;
    if (!taken_.insert(full).second) return Refuse(j, kDuplicate);

    Put& put = plan_->puts[j];
    put.entry = NewEntry(own);
    put.shown = full;
    if (input.size < kLabelBelow) put.note = " (under 100 bytes: not listed)";
    if (folder.empty()) {
      expected_[j] = full;
      inserts_.push_back({listing_.tailAt, {Slot::PUT, uint32_t(j)}});
      return;
    }
    auto space = listing_.namespaces.find(folder);
    if (space != listing_.namespaces.end()) {
      if (!space->second.placeable) return Refuse(j, kCantPlace);
      expected_[j] = full;
      inserts_.push_back({space->second.endAt, {Slot::PUT, uint32_t(j)}});
      return;
    }
    auto map = listing_.maps.find(folder);
    int64_t markerAt = map == listing_.maps.end() ? -1 : map->second;
    if (map != listing_.maps.end() && markerAt < 0) return Refuse(j, kMapExists);
    uint8_t marker[kNameWidth] = {};
    folder.copy(reinterpret_cast<char*>(marker), kNameWidth);
    MarkerKind kind = KindOf(marker);
    if (!OpensFolder(kind)) return Refuse(j, kNoFolder);
    NewGroup* group = nullptr;
    for (NewGroup& g : groups_)
      if (g.folder == folder) group = &g;
    if (!group) {
      groups_.push_back({folder, kind, {}, markerAt});
      group = &groups_.back();
    }
    group->puts.push_back(j);
  }

  uint32_t AddFixed(const std::string& name, int32_t group) {
    plan_->fixed.push_back(NewEntry(name));
    plan_->fixedGroup.push_back(group);
    return uint32_t(plan_->fixed.size() - 1);
  }

  // New namespaces and maps whose ten places are full, in the order they
  // were named, then at most one shorter new map, and shorter maps for an
  // empty marker the directory ends with: whatever follows a map within its
  // ten places would be listed in its folder.
  void PlaceGroups() {
    std::vector<size_t> order;
    for (size_t g = 0; g < groups_.size(); ++g)
      if (groups_[g].kind == NAMESPACE_START || groups_[g].puts.size() >= kMapCountdown - 1) order.push_back(g);
    bool shortPlaced = false;
    for (size_t g = 0; g < groups_.size(); ++g) {
      const NewGroup& group = groups_[g];
      if (group.kind != MAP_MARKER || group.puts.size() >= kMapCountdown - 1) continue;
      bool fits = group.markerAt >= 0 ? uint64_t(group.markerAt) + 1 == count_ : !shortPlaced && !listing_.tailOpen;
      if (!fits) {
        for (size_t j : group.puts) Refuse(j, kCantPlace);
        continue;
      }
      shortPlaced = shortPlaced || group.markerAt < 0;
      order.push_back(g);
    }
    for (size_t g : order) Place(int32_t(g));
  }

  void Place(int32_t g) {
    NewGroup& group = groups_[size_t(g)];
    uint32_t at = group.markerAt >= 0 ? uint32_t(group.markerAt + 1) : listing_.tailAt;
    if (group.markerAt < 0) inserts_.push_back({at, {Slot::FIXED, AddFixed(group.folder, g)}});
    if (group.kind == MAP_MARKER)
      std::stable_sort(group.puts.begin(), group.puts.end(), [&](size_t a, size_t b) {
        return MapRank(Own(FieldOf(a))) < MapRank(Own(FieldOf(b)));
      });
    for (size_t place = 0; place < group.puts.size(); ++place) {
      size_t j = group.puts[place];
      Put& put = plan_->puts[j];
      put.group = g;
      std::string own = Own(FieldOf(j));
      expected_[j] = put.shown;
      if (group.kind == MAP_MARKER && place + 1 >= kMapCountdown) {
        expected_[j] = own;
        put.note += " (beyond the map's ten places: listed as " + own + ")";
        if (Find(byFull_, own) || !taken_.insert(own).second) {
          Refuse(j, kDuplicate);
          continue;
        }
      }
      inserts_.push_back({at, {Slot::PUT, uint32_t(j)}});
    }
    if (group.kind == NAMESPACE_START)
      inserts_.push_back({at, {Slot::FIXED, AddFixed(group.folder.substr(0, 1) + "_END", g)}});
  }

  std::string FieldOf(size_t j) const { return Field(plan_->puts[j].entry.data()); }

  void Arrange() {
    std::stable_sort(inserts_.begin(), inserts_.end(),
                     [](const Insert& a, const Insert& b) { return a.before < b.before; });
    plan_->order.clear();
    size_t next = 0;
    for (uint32_t i = 0; i <= count_; ++i) {
      for (; next < inserts_.size() && inserts_[next].before == i; ++next)
        if (inserts_[next].slot.kind != Slot::PUT || !plan_->puts[inserts_[next].slot.index].refusal)
          plan_->order.push_back(inserts_[next].slot);
      if (i < count_) plan_->order.push_back({Slot::OLD, i});
    }
  }

  // The full names the old entries keep: as listed now, but where an empty
  // map's marker takes lumps, what its ten places took in behind it comes
  // out from under it, named as if that marker were not there.
  std::vector<std::string> NamesKept() const {
    std::vector<bool> filled(count_, false);
    for (const NewGroup& group : groups_)
      for (size_t j : group.puts)
        if (group.markerAt >= 0 && !plan_->puts[j].refusal) filled[size_t(group.markerAt)] = true;
    std::vector<std::string> names;
    if (std::find(filled.begin(), filled.end(), true) == filled.end()) {
      for (const Listed& entry : listing_.entries) names.push_back(entry.full);
      return names;
    }
    std::vector<uint32_t> sizes;
    std::vector<std::string> fields;
    for (uint32_t i = 0; i < count_; ++i) {
      if (filled[i]) continue;
      sizes.push_back(sizes_[i]);
      fields.push_back(fields_[i]);
    }
    Listing without = ListNames(sizes, fields);
    for (uint32_t i = 0, at = 0; i < count_; ++i)
      names.push_back(filled[i] ? listing_.entries[i].full : without.entries[at++].full);
    return names;
  }

  // Walks the planned directory as the listing will: every old entry keeps
  // its full name and every new lump comes out under the name expected.
  bool Verified() {
    std::vector<uint32_t> sizes;
    std::vector<std::string> fields;
    std::vector<int64_t> replacedBy(count_, -1);
    for (size_t j = 0; j < plan_->puts.size(); ++j)
      if (!plan_->puts[j].refusal && plan_->puts[j].replaces >= 0) replacedBy[size_t(plan_->puts[j].replaces)] = int64_t(j);
    for (const Slot& slot : plan_->order) {
      if (slot.kind == Slot::OLD) {
        int64_t put = replacedBy[slot.index];
        sizes.push_back(put >= 0 ? uint32_t(inputs_[size_t(put)].size) : sizes_[slot.index]);
        fields.push_back(fields_[slot.index]);
      } else if (slot.kind == Slot::PUT) {
        sizes.push_back(uint32_t(inputs_[slot.index].size));
        fields.push_back(FieldOf(slot.index));
      } else {
        sizes.push_back(0);
        fields.push_back(Field(plan_->fixed[slot.index].data()));
      }
    }
    Listing after = ListNames(sizes, fields);
    std::vector<std::string> kept = NamesKept();
    for (size_t at = 0; at < plan_->order.size(); ++at) {
      const Slot& slot = plan_->order[at];
      if (slot.kind == Slot::OLD && after.entries[at].full != kept[slot.index]) return false;
      if (slot.kind == Slot::PUT && plan_->puts[slot.index].replaces < 0 &&
          Upper(after.entries[at].full) != Upper(expected_.at(slot.index)))
        return false;
    }
    // A new lump's line shows it as the listing will (the folder as stored).
    for (size_t at = 0; at < plan_->order.size(); ++at) {
      const Slot& slot = plan_->order[at];
      if (slot.kind != Slot::PUT) continue;
      Put& put = plan_->puts[slot.index];
      if (put.replaces < 0 && put.shown == expected_.at(slot.index)) put.shown = after.entries[at].full;
    }
    return true;
  }

  const AddRequest& request_;
  uint32_t count_;
  const std::vector<AddInput>& inputs_;
  UpdatePlan* plan_;
  std::vector<uint32_t> sizes_;
  std::vector<std::string> fields_;
  Listing listing_;
  std::unordered_map<std::string, std::vector<uint32_t>> byFull_, byOwn_;
  std::set<std::string> taken_;
  std::map<size_t, std::string> expected_;  // the full name each new lump must be listed under
  std::vector<NewGroup> groups_;
  std::vector<Insert> inserts_;
};

void Plan(const AddRequest& request, const uint8_t* directory, uint32_t count, const std::vector<AddInput>& inputs,
          UpdatePlan* plan) {
  DoomPlanner(request, directory, count, inputs, plan).Plan();
}

// The directory behind the data; the header words at 4 and 8 locate it.
const WriteRow kWriteRow = {
    COMMIT_HEADER_WORDS, TABLE_BEHIND_DATA, 12, 0,                            // style, table, header
    {{4, 4, WORD_ENTRY_COUNT}, {8, 4, WORD_DIRECTORY_OFFSET}}, false,        // header words
    {kEntrySize, kOffsetAt, kSizeAt, NO_FIELD, kNameAt, kNameWidth, kNameWidth},
    1, 0, 0, false, DATA_AS_IS, nullptr,  // alignment, room, limit, keeps room, coding, transform
    "PWAD\0\0\0\0\0\0\0\0", {"wad", nullptr},
    "Can't allocate %ul bytes for %.8s - skiped\n", true, false,  // directory order kept; names as selected
    Plan, nullptr,
    SettleDeletion,  // emptied maps go; nothing goes that would rename a kept lump
};
}  // namespace

extern const Format kDoomWad = {
    "Doom WAD", {{}, 0, {"IWAD", "PWAD"}, 4}, ReadHeader,// name, detection, header fields
    nullptr, Walk, nullptr,                       // decoding (or a walk), offsets
    "\nname\t\t\tsize\tseek\n"
    "----------------------------------------\n",
    PrintRow, nullptr, false, true,               // row, extraction, walks the archive, "~" alias
    &kWriteRow,                                   // d, a and m
};
