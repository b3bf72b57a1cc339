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
#include <zlib.h>

#include <cstdio>
#include <memory>

#include "core/access.h"
#include "core/bytes.h"
#include "core/format.h"
#include "core/memory.h"

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
}  // namespace

extern const Format kLod = {
    "LOD", {{}, 0, {"LOD"}, 4}, ReadHeader,       // name, detection, header fields
    Decode, nullptr, nullptr,                     // decoding (or a walk), offsets
    "\nname\t\t\tsize\treal\tseek\tflags\n"
    "-------------------------------------------------\n",
    PrintRow, UnzipMember, false, false,          // row, extraction, walks the archive, "~" alias
    nullptr,                                      // d, a and m: read only
};
