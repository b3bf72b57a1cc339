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
// bytes; it is written under its whole name in the current folder.
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

#include "core/access.h"
#include "core/bytes.h"
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

// Inflates one whole zlib stream into `real`, which has room for realSize
// bytes; *length is what it inflated to. A stream that is corrupt, cut
// short, or holds even one byte more than realSize fails.
bool Inflate(uint8_t* real, uint32_t realSize, uint32_t* length, const uint8_t* packed, uint32_t packedSize) {
  z_stream z = {};
  if (inflateInit(&z) != Z_OK) return false;
  z.next_in = const_cast<Bytef*>(packed);
  z.avail_in = packedSize;
  z.next_out = real;
  z.avail_out = realSize;
  int result = inflate(&z, Z_FINISH);
  if (result != Z_STREAM_END && z.avail_out == 0) {
    // The room is full: the stream must end without another byte.
    uint8_t probe;
    z.next_out = &probe;
    z.avail_out = 1;
    result = inflate(&z, Z_FINISH);
    if (z.avail_out == 0) result = Z_BUF_ERROR;
  }
  *length = uint32_t(z.total_out);
  inflateEnd(&z);
  return result == Z_STREAM_END;
}

// Extracts or tests one member. Stored members go through ExtractMember;
// compressed ones are read and inflated here, whole in memory (under t
// too: a member passes the test when its stream inflates).
void UnzipMember(const ArchiverState& run, Member& m) {
  char* name = m.name;
  uint32_t packedSize = m.packedSize, offset = m.offset, realSize = m.size;
  if (packedSize == 0) {
    ExtractMember(run, name, realSize, offset);
    return;
  }
  printf(run.testOnly ? "Testing %s\n" : "Unzipping %s\n", name);

  char outputBlock[kNameWidth + 1];
  char* output = nullptr;
  if (!run.testOnly) {
    output = OutputName(run.formatTag, name, 1, outputBlock);
    if (!IsSafeOutputPath(output)) {
      printf("Unsafe path %s - skipped\n", name);
      return;
    }
  }

  // Sizes come from the archive: nothing is allocated for stored bytes that
  // can't lie inside the file, nor for more output than they can inflate to.
  bool inside = uint64_t(offset) + packedSize <= run.archiveSize;
  bool plausible = RealSizePlausible(packedSize, realSize);
  uint8_t* packed = nullptr;
  uint8_t* real = nullptr;
  if (inside) {
    packed = static_cast<uint8_t*>(Allocate(packedSize));
    real = packed && plausible ? static_cast<uint8_t*>(Allocate(realSize)) : nullptr;
    if (!packed || (plausible && !real)) {
      printf("Can't allocate %ul bytes for %s - skiped\n", packedSize + realSize, name);
      Release(packed);
      return;
    }
  }

  std::unique_ptr<File> file;
  if (!run.testOnly) {
    if (RefuseTheArchive(run, output, name)) {
      Release(real);
      Release(packed);
      return;
    }
    file = run.fs->Open(output, OPEN_CREATE, false);
    if (!file) {
      printf("Can't open %s - skiped\n", name);
      Release(real);
      Release(packed);
      return;
    }
  }

  File& archive = *run.archive;
  uint32_t length = 0;
  bool reported = true;
  if (!inside || !archive.Seek(offset) || archive.Read(packed, packedSize) != packedSize) {
    printf("\t--- read error ---\n");
  } else if (!plausible || !Inflate(real, realSize, &length, packed, packedSize)) {
    printf("\t--- uncompress error ---\n");
  } else if (file && length && file->Write(real, length) != length) {
    printf("\t--- write error ---\n");
  } else {
    reported = false;
  }
  // Buffered bytes that can't be flushed at the close are a write error too.
  if (file && !file->Close() && !reported) printf("\t--- write error ---\n");
  Release(real);
  Release(packed);
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
