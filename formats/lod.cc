// LOD archives: stored or zlib-compressed members.
//
//   offset  size  field
//   0       4     magic "LOD\0"
//   4       4     a value nobody uses
//   8       4     entry count (u32 LE)
//   12      80    not read
//   92      32*n  directory
//
//   directory entry, 32 bytes:
//   0       16    name, NUL-padded (no NUL when full)
//   16      4     offset     (u32 LE) of the member's stored bytes
//   20      4     realSize   (u32 LE) size once extracted
//   24      4     flags      (u32 LE) only listed
//   28      4     packedSize (u32 LE) stored bytes of a zlib stream; 0 = stored as is
//
// A compressed member is one zlib stream that inflates to at most realSize
// bytes, inflated as it is read; it is written under its whole name in the
// output folder.
//
// Writing: the table in front, with room for 10,000 entries in a new
// archive (data from 320,092, as in the game's own files), and at most that
// many. Names are flat, up to 15 bytes. The entries stay sorted as the
// game's are: by name folded to lower case (ASCII), compared bytewise; a new
// entry goes before the first entry that sorts after it, and a table that is
// not sorted is never sorted. New data are a zlib stream (level 6) where it
// is smaller than the file, else the file as it is (packed size 0). A
// replaced entry keeps its type word; a new one takes the type most entries
// of its extension (ASCII case ignored) have, the lowest on a tie, else 0.
// A new archive: "LOD\0", the word 200, the count, 80 zero bytes, the table.
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/bytes.h"
#include "core/extract.h"
#include "core/format.h"
#include "core/memory.h"
#include "formats/update.h"

namespace {
constexpr uint32_t kDirectoryOffset = 92;
constexpr uint32_t kEntrySize = 32;
constexpr uint32_t kNameWidth = 16;
constexpr uint32_t kOffsetAt = 16;
constexpr uint32_t kRealSizeAt = 20;
constexpr uint32_t kFlagsAt = 24;
constexpr uint32_t kPackedSizeAt = 28;

// Deflate codes a run of 258 bytes in no less than two bits, so a zlib
// stream of n bytes inflates to at most 1032 * n bytes (plus a little for
// the first literal); a larger realSize can't be what the stream holds.
constexpr uint64_t kMaxInflateRatio = 1032;
constexpr uint64_t kInflateSlack = 1032;

void ReadHeader(const ArchiverState& run, Layout* layout) {
  ReadHeaderField(run, 4);  // a value nobody uses
  uint32_t count = ReadHeaderField(run, 4);
  *layout = Layout();
  layout->dirOffset = kDirectoryOffset;
  layout->dirSize = count * kEntrySize;
  layout->entrySize = kEntrySize;
}

void Decode(const uint8_t* entry, Member* m) {
  NameMember(m, entry, kNameWidth);
  m->offset = ReadU32LE(entry + kOffsetAt);
  m->size = ReadU32LE(entry + kRealSizeAt);
  m->flags = ReadU32LE(entry + kFlagsAt);
  m->packedSize = ReadU32LE(entry + kPackedSizeAt);
}

// The stored name; packed and real size; offset; flags.
void PrintRow(const Member& m) {
  printf("%-16.16s\t%-7d\t%-7d\t%08X %02X\n", m.stored, int32_t(m.packedSize), int32_t(m.size), m.offset,
         m.flags);
}

bool RealSizePlausible(uint32_t packedSize, uint32_t realSize) {
  return realSize <= uint64_t(packedSize) * kMaxInflateRatio + kInflateSlack;
}

// A compressed member's bytes: its zlib stream read a chunk at a time into
// the room the routine hands over, inflated into the routine's buffer. A
// stream that is corrupt, cut short, or holds even one byte more than
// realSize fails, and so does a realSize that no stream of packedSize bytes
// can reach. A stream may end before realSize.
class Inflater final : public MemberSource {
 public:
  Inflater(const ArchiverState& run, const Member& m) : packed_(run, m.offset, m.packedSize), left_(m.size) {
    if (packed_.Failure()) return;
    ready_ = RealSizePlausible(m.packedSize, m.size) && inflateInit(&z_) == Z_OK;
    broken_ = !ready_;
  }
  ~Inflater() {
    if (ready_) inflateEnd(&z_);
  }
  size_t Room() const override { return packed_.Left() < EXTRACT_CHUNK ? packed_.Left() : EXTRACT_CHUNK; }
  void Use(uint8_t* room) override {
    room_ = room;
    roomSize_ = Room();
  }
  size_t Read(uint8_t* buffer, size_t room) override;
  const char* Failure() const override { return broken_ ? kUncompressError : packed_.Failure(); }

 private:
  static constexpr const char* kUncompressError = "\t--- uncompress error ---\n";
  StoredBytes packed_;
  uint32_t left_;  // bytes the stream may still inflate to
  z_stream z_ = {};
  bool ready_ = false;
  bool broken_ = false;
  bool ended_ = false;
  uint8_t* room_ = nullptr;
  size_t roomSize_ = 0;
};

size_t Inflater::Read(uint8_t* buffer, size_t room) {
  if (!ready_ || broken_ || ended_) return 0;
  // Once realSize is reached, the stream must end without another byte.
  uint8_t probe;
  size_t want = room < left_ ? room : left_;
  bool probing = want == 0;
  z_.next_out = probing ? &probe : buffer;
  z_.avail_out = probing ? 1 : uInt(want);
  uInt before = z_.avail_out;
  while (z_.avail_out == before) {
    if (z_.avail_in == 0 && packed_.Left() != 0) {
      z_.avail_in = uInt(packed_.Read(room_, roomSize_));
      z_.next_in = room_;
      if (z_.avail_in == 0) return 0;  // the read failed
    }
    int result = inflate(&z_, Z_NO_FLUSH);
    if (result == Z_STREAM_END) {
      ended_ = true;
      break;
    }
    broken_ = result != Z_OK;  // Z_BUF_ERROR: the stream is cut short
    if (broken_) return 0;
  }
  size_t got = before - z_.avail_out;
  broken_ = probing && got != 0;
  if (probing) return 0;
  left_ -= uint32_t(got);
  return got;
}

// Extracts or tests one member. A compressed one is written under its whole
// name, no folders made for it, under e and x alike; under t its stream is
// inflated.
bool UnzipMember(const ArchiverState& run, Member& m) {
  if (m.packedSize == 0) return ExtractStored(run, m);
  Inflater source(run, m);
  ExtractRule rule;
  rule.verb = "Unzipping";
  rule.wholeName = true;
  return ExtractMember(run, m, source, rule);
}

// ---- writing

constexpr uint32_t kRoom = 10000;
constexpr uint32_t kCountAt = 8;
constexpr EntryFields kFields = {kEntrySize, kOffsetAt, kRealSizeAt, kPackedSizeAt, 0, kNameWidth, kNameWidth - 1};
const char kNewHeader[kDirectoryOffset] = {'L', 'O', 'D', 0, char(200)};

std::string Folded(const uint8_t* entry) {
  std::string name = StoredName(kFields, entry);
  for (char& c : name)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return name;
}

std::string ExtensionOf(const std::string& folded) {
  size_t dot = folded.rfind('.');
  return dot == std::string::npos ? "" : folded.substr(dot + 1);
}

// The type word most entries of each extension have (the lowest on a tie).
std::map<std::string, uint32_t> TypesByExtension(const uint8_t* directory, uint32_t count) {
  std::map<std::string, std::map<uint32_t, uint32_t>> seen;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* entry = directory + uint64_t(i) * kEntrySize;
    ++seen[ExtensionOf(Folded(entry))][ReadU32LE(entry + kFlagsAt)];
  }
  std::map<std::string, uint32_t> types;
  for (const auto& extension : seen) {
    uint32_t best = 0, most = 0;
    for (const auto& type : extension.second) {  // in ascending order of the type
      if (type.second <= most) continue;
      best = type.first;
      most = type.second;
    }
    types[extension.first] = best;
  }
  return types;
}

void Plan(const AddRequest&, const uint8_t* directory, uint32_t count, const std::vector<AddInput>& inputs,
          UpdatePlan* plan) {
  PlanFlatNames(kFields, directory, count, inputs, plan);
  std::map<std::string, uint32_t> types = TypesByExtension(directory, count);
  std::vector<std::string> names;  // folded, in the order being built
  std::vector<Slot> order;
  for (uint32_t i = 0; i < count; ++i) {
    names.push_back(Folded(directory + uint64_t(i) * kEntrySize));
    order.push_back({Slot::OLD, i});
  }
  for (size_t j = 0; j < plan->puts.size(); ++j) {
    Put& put = plan->puts[j];
    if (put.refusal || put.replaces >= 0) continue;
    std::string name = Folded(put.entry.data());
    auto type = types.find(ExtensionOf(name));
    WriteU32LE(&put.entry[kFlagsAt], type == types.end() ? 0 : type->second);
    size_t at = size_t(std::find_if(names.begin(), names.end(), [&](const std::string& n) { return n > name; }) -
                       names.begin());
    names.insert(names.begin() + long(at), name);
    order.insert(order.begin() + long(at), {Slot::PUT, uint32_t(j)});
  }
  plan->order = order;
}

// The table in front, the count at 8 commits; new data zlib-coded where smaller.
const WriteRow kWriteRow = {
    COMMIT_FRONT_TABLE, TABLE_IN_FRONT, kDirectoryOffset, kDirectoryOffset,  // style, table, header
    {{kCountAt, 4, WORD_ENTRY_COUNT}, {0, 0, WORD_ENTRY_COUNT}}, false,       // header words
    kFields,
    1, kRoom, kRoom, true, DATA_ZLIB_IF_SMALLER, nullptr,  // alignment, room, limit, keeps room, coding
    kNewHeader, {"lod", nullptr},
    "Can't allocate %ul bytes for %.16s - skiped\n", true, true,  // directory order kept; stored names
    Plan, nullptr,
};
}  // namespace

extern const Format kLod = {
    "LOD", {{}, 0, {"LOD"}, 4}, ReadHeader,       // name, detection, header fields
    Decode, nullptr, nullptr,                     // decoding (or a walk), offsets
    "\nname\t\t\tsize\treal\tseek\tflags\n"
    "-------------------------------------------------\n",
    PrintRow, UnzipMember, false, false,          // row, extraction, walks the archive, "~" alias
    &kWriteRow,                                   // d, a and m
};
