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
#include <zlib.h>

#include <cstdio>

#include "core/bytes.h"
#include "core/extract.h"
#include "core/format.h"

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
}  // namespace

extern const Format kLod = {
    "LOD", {{}, 0, {"LOD"}, 4}, ReadHeader,       // name, detection, header fields
    Decode, nullptr, nullptr,                     // decoding (or a walk), offsets
    "\nname\t\t\tsize\treal\tseek\tflags\n"
    "-------------------------------------------------\n",
    PrintRow, UnzipMember, false, false,          // row, extraction, walks the archive, "~" alias
    nullptr, nullptr, nullptr,                    // d, a and m, magic of a new archive
};
