// Blood RFF archives.
//
//   offset  size  field
//   0       4     magic "RFF\x1A"
//   4       2     version (u16 LE): 0x0200 plain; 0x0300 and 0x0301 with an
//                 encrypted directory; any other value is no RFF archive
//   6       2     kept as it is (0 in a new archive)
//   8       4     dirOffset (u32 LE) file offset of the directory
//   12      4     count     (u32 LE) entries
//   16      16    kept as it is (zeros in a new archive)
//
//   directory entry, 48 bytes:
//   0       16    cache (zeros)
//   16      4     offset (u32 LE) of the member's data
//   20      4     size   (u32 LE)
//   24      4     packed size (0)
//   28      4     time   (u32 LE, seconds since 1970)
//   32      1     flags: 0x01 looked up by id, 0x02 external (the data are a
//                 loose file, not in the archive), 0x04 preload, 0x08 lock,
//                 0x10 encrypted
//   33      3     type, NUL-padded (no NUL when 3 long)
//   36      8     name, NUL-padded (no NUL when 8 long)
//   44      4     id
//
// A member is named NAME.TYPE (NAME alone when the type is empty). The
// directory of versions 0x03xx is encrypted: byte i is XORed with
// ((key + i) >> 1) & 0xFF, the key the 16-bit value dirOffset + (version &
// 0xFF) * dirOffset. Some tools write 0x0300 files with the key 2 * dirOffset
// + 1: a 0x0300 directory that the first key leaves with an entry whose data
// lie outside the file, and that key with none, is read with it, and written
// with it again. The first min(size, 256) bytes of an encrypted member are
// XORed with (i >> 1) & 0xFF. External members are listed, never extracted.
//
// Writing: new data and a new directory, encrypted with the key of its new
// offset, behind the end; the words at 8 and 12 commit. Names are flat, split
// at the last dot into at most 8 + 3 characters, new ones upper-cased. A
// replaced entry keeps its flags (but external and encrypted, as its new data
// are neither), id, type and name, its packed size becomes 0 and its time
// the file's modification time. A new entry: zeros, but for the names and
// that time. A new archive is
// version 0x0301.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/access.h"
#include "core/bytes.h"
#include "core/extract.h"
#include "core/format.h"
#include "core/memory.h"
#include "formats/update.h"

namespace {
constexpr uint32_t kHeaderSize = 32;
constexpr uint32_t kVersionAt = 4;
constexpr uint32_t kPlain = 0x0200;
constexpr uint32_t kEncrypted = 0x0300;
constexpr uint32_t kEncrypted1 = 0x0301;
constexpr uint32_t kEntrySize = 48;
constexpr uint32_t kOffsetAt = 16;
constexpr uint32_t kSizeAt = 20;
constexpr uint32_t kPackedAt = 24;
constexpr uint32_t kTimeAt = 28;
constexpr uint32_t kFlagsAt = 32;
constexpr uint32_t kTypeAt = 33;
constexpr uint32_t kTypeWidth = 3;
constexpr uint32_t kNameAt = 36;
constexpr uint32_t kNameWidth = 8;
constexpr uint32_t kShownWidth = kNameWidth + 1 + kTypeWidth;
constexpr uint8_t kExternal = 0x02;
constexpr uint8_t kEncryptedMember = 0x10;
constexpr uint32_t kEncryptedBytes = 256;
constexpr uint32_t kOtherToolsKey = 1;  // Layout::variant: the directory key 2 * dirOffset + 1

// The registry matches the magic; the version word is checked here.
bool KnownVersion(const ArchiverState& run) {
  uint8_t word[2];
  if (run.archiveSize < kVersionAt + 2 || !ReadFar(*run.archive, kVersionAt, word, 2)) return false;
  uint32_t version = ReadU16LE(word);
  return version == kPlain || version == kEncrypted || version == kEncrypted1;
}

uint32_t DirectoryKey(uint32_t version, uint32_t dirOffset, uint32_t variant) {
  uint32_t key = variant == kOtherToolsKey ? 2 * dirOffset + 1 : dirOffset + (version & 0xFF) * dirOffset;
  return key & 0xFFFF;
}

// Encrypts or decrypts `size` bytes that begin `at` bytes into the directory.
void Crypt(uint8_t* bytes, size_t size, uint32_t key, uint64_t at) {
  for (size_t i = 0; i < size; ++i) bytes[i] ^= uint8_t((key + at + i) >> 1);
}

// Whether the key leaves an entry of the encrypted directory whose data lie
// outside a file of `fileSize` bytes.
bool DataOutside(const uint8_t* block, uint32_t count, uint32_t key, uint64_t fileSize) {
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t at = uint64_t(i) * kEntrySize + kOffsetAt;
    uint8_t range[8];
    memcpy(range, block + at, sizeof range);
    Crypt(range, sizeof range, key, at);
    if (uint64_t(ReadU32LE(range)) + ReadU32LE(range + 4) > fileSize) return true;
  }
  return false;
}

// Loads the directory and decrypts it into a block of its own.
void ReadHeader(const ArchiverState& run, Layout* layout) {
  uint32_t version = ReadHeaderField(run, 2);
  ReadHeaderField(run, 2);
  uint32_t dirOffset = ReadHeaderField(run, 4);
  uint32_t count = ReadHeaderField(run, 4);
  layout->entrySize = kEntrySize;
  if (!PlaceDirectory(run, dirOffset, count, layout) || count == 0) return;
  uint8_t* block = static_cast<uint8_t*>(Allocate(layout->dirSize));
  if (!block) printf("Can't allocate %ul bytes\n", layout->dirSize);
  if (!block || !ReadFar(*run.archive, dirOffset, block, layout->dirSize)) {
    Release(block);
    layout->unreadable = true;
    return;
  }
  layout->loaded = block;
  if (version == kPlain) return;
  uint32_t key = DirectoryKey(version, dirOffset, 0);
  uint32_t other = DirectoryKey(version, dirOffset, kOtherToolsKey);
  if (version == kEncrypted && DataOutside(block, count, key, run.archiveSize) &&
      !DataOutside(block, count, other, run.archiveSize)) {
    key = other;
    layout->variant = kOtherToolsKey;
  }
  Crypt(block, layout->dirSize, key, 0);
}

// NAME.TYPE, NUL-terminated, into `shown` (kShownWidth + 1 bytes).
void ShownName(const uint8_t* entry, char* shown) {
  char type[kTypeWidth + 1];
  CopyNameField(shown, entry + kNameAt, kNameWidth);
  CopyNameField(type, entry + kTypeAt, kTypeWidth);
  size_t end = strlen(shown);
  if (*type) shown[end] = '.';
  if (*type) memcpy(shown + end + 1, type, sizeof type);
}

void Decode(const uint8_t* entry, Member* m) {
  char shown[kShownWidth + 1] = {};
  ShownName(entry, shown);
  NameMember(m, reinterpret_cast<const uint8_t*>(shown), kShownWidth);
  m->offset = ReadU32LE(entry + kOffsetAt);
  m->size = ReadU32LE(entry + kSizeAt);
  m->flags = entry[kFlagsAt];
}

void DecryptMember(uint8_t* bytes, size_t length, uint64_t at) {
  for (uint64_t i = at; i < at + length && i < kEncryptedBytes; ++i) bytes[i - at] ^= uint8_t(i >> 1);
}

// An external member's data are no part of the archive: it is passed over,
// a member not extracted (or tested) whole.
bool ExtractRffMember(const ArchiverState& run, Member& m) {
  if (m.flags & kExternal) return SkipMember(run, m, "External %s - skipped\n");
  return ExtractStored(run, m, m.flags & kEncryptedMember ? DecryptMember : nullptr);
}

// ---- writing

std::string Shown(const uint8_t* entry) {
  char shown[kShownWidth + 1];
  ShownName(entry, shown);
  return shown;
}

// NAME and TYPE of a name, split at its last dot; false when either is too long.
bool Fill(const std::string& name, uint8_t* entry) {
  size_t dot = name.rfind('.');
  std::string base = name.substr(0, dot), type = dot == std::string::npos ? "" : name.substr(dot + 1);
  if (base.size() > kNameWidth || type.size() > kTypeWidth) return false;
  base.copy(reinterpret_cast<char*>(entry + kNameAt), kNameWidth);
  type.copy(reinterpret_cast<char*>(entry + kTypeAt), kTypeWidth);
  return true;
}

constexpr EntryFields kFields = {kEntrySize, kOffsetAt, kSizeAt, NO_FIELD, kNameAt, kNameWidth, kShownWidth,
                                 nullptr,    false,     Shown,   Fill};
const char kNewHeader[kHeaderSize] = {'R', 'F', 'F', 0x1A, char(kEncrypted1 & 0xFF), char(kEncrypted1 >> 8)};

void EncryptDirectory(uint8_t* bytes, size_t size, uint32_t offset, const uint8_t* header, uint32_t variant) {
  uint32_t version = ReadU16LE(header + kVersionAt);
  if (version != kPlain) Crypt(bytes, size, DirectoryKey(version, offset, variant), 0);
}

uint32_t Seconds(int64_t time) { return time < 0 ? 0 : time > 0xFFFFFFFF ? 0xFFFFFFFFu : uint32_t(time); }

void Plan(const AddRequest&, const uint8_t* directory, uint32_t count, const std::vector<AddInput>& inputs,
          UpdatePlan* plan) {
  PlanNames({false, '/', false, true}, kFields, false, directory, count, inputs, plan);
  for (size_t j = 0; j < inputs.size(); ++j) {
    Put& put = plan->puts[j];
    if (put.refusal) continue;
    if (put.replaces >= 0) {
      const uint8_t* old = directory + uint64_t(put.replaces) * kEntrySize;
      put.entry.assign(old, old + kEntrySize);
      put.entry[kFlagsAt] &= uint8_t(~(kExternal | kEncryptedMember));
      WriteU32LE(&put.entry[kPackedAt], 0);
    }
    WriteU32LE(&put.entry[kTimeAt], Seconds(inputs[j].modified));
  }
}

// The directory behind the data, encrypted by its offset; the words at 8 and 12 commit.
const WriteRow kWriteRow = {
    COMMIT_HEADER_WORDS, TABLE_BEHIND_DATA, kHeaderSize, 0,                   // style, table, header
    {{8, 4, WORD_DIRECTORY_OFFSET}, {12, 4, WORD_ENTRY_COUNT}}, false,       // header words
    kFields,
    1, 0, 0, false, DATA_AS_IS, EncryptDirectory,  // alignment, room, limit, keeps room, coding, transform
    kNewHeader, {"rff", nullptr},
    "Can't allocate %ul bytes for %.8s - skiped\n", true, true,  // directory order kept; stored names
    Plan, nullptr,
};
}  // namespace

extern const Format kRff = {
    "RFF", {{}, TAG_RFF, {"RFF\x1A"}, 4, KnownVersion}, ReadHeader,  // name, detection, header fields
    Decode, nullptr, nullptr,                     // decoding (or a walk), offsets
    TABBED_HEADING, PrintTabbedRow,               // listing
    ExtractRffMember, false, false,               // extraction, walks the archive, "~" alias
    &kWriteRow,                                   // d, a and m
};
