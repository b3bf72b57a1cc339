// What a format tells the archiver about itself, and what it hands the
// driver for each member.
//
// A format is one Format record in the registry (formats/registry.cc). It
// says how the format is recognised, reads the header fields that locate the
// directory, and decodes the directory into members, either one entry at a
// time (decode) or by a walk of its own (walk: Doom WAD folders, directory
// files). The driver does what every format does alike: it selects each
// member by the name list, prints the listing heading and the format's row,
// extracts or tests the member (through the format's own routine where it
// has one), marks members for deletion, and counts.
#ifndef VREX_CORE_FORMAT_H
#define VREX_CORE_FORMAT_H

#include <cstddef>
#include <cstdint>

#include "core/state.h"

constexpr uint32_t MEMBER_NAME_ROOM = 260;  // a decoded name of up to 260 characters

// One member as the driver sees it.
struct Member {
  char* name = nullptr;          // the name copy: selection upper-cases it, printed lines show it
  const char* stored = nullptr;  // the name as stored: rows that show it, and the file extraction writes
  uint32_t offset = 0;
  uint32_t size = 0;
  uint32_t packedSize = 0;  // the format's own numbers, for its row
  uint32_t flags = 0;
  uint32_t index = 0;       // the directory entry it came from
  uint32_t ownAt = 0;       // where the member's own name begins in `name`, behind its folders
  bool folder = false;      // a folder record: extraction makes its folders only
  char nameRoom[MEMBER_NAME_ROOM + 1];
  char storedRoom[MEMBER_NAME_ROOM + 1];
};

// Copies a fixed-width name field (up to its first NUL, at most `width`
// bytes, width <= MEMBER_NAME_ROOM) into the member's name and stored name.
void NameMember(Member* m, const uint8_t* field, uint32_t width);

// Reads a header field of 2 or 4 bytes from the archive's current position
// (ReadAt reports a failure); a field that can't be read whole counts as 0.
uint32_t ReadHeaderField(const ArchiverState& run, uint32_t width);

// The same, `at` bytes into the file.
uint32_t ReadHeaderFieldAt(const ArchiverState& run, uint64_t at, uint32_t width);

// The listing of formats whose rows are tab-separated, so that long names
// never run into the numbers: the heading, and a row of the stored name (as
// shown), the size and the data offset.
extern const char TABBED_HEADING[];  // "\nname\tsize\tseek\n", 40 "-"
void PrintTabbedRow(const Member& m);

// Where a format's directory lies, from its header fields.
struct Layout {
  uint32_t dirOffset = 0;  // 0: right behind the header fields read
  uint32_t dirSize = 0;    // bytes
  uint32_t entrySize = 1;
  uint8_t* loaded = nullptr;  // a directory the header reader built itself (Release() it)
  bool brokenTail = false;    // the loaded directory ends with one entry the file cuts short
  bool unreadable = false;    // the directory can't be read (reported): the run ends with exit 6
  uint32_t variant = 0;       // the format's note of how this archive is written (RFF: its directory
                              // key), kept when it is written again
};

// Places the directory of `count` entries of layout->entrySize bytes at `at`;
// where entries do not lie inside the archive (or below 4 GiB), reports it
// and marks the layout unreadable. Returns whether they lie inside.
bool PlaceDirectory(const ArchiverState& run, uint64_t at, uint64_t count, Layout* layout);

// The loaded directory a walk goes through.
struct Directory {
  const ArchiverState* run;
  const uint8_t* block;
  uint32_t count;
  uint32_t entrySize;
  const uint8_t* Entry(uint32_t i) const { return block + uint64_t(i) * entrySize; }
};

// Receives the members of a walk. Begin comes once, before the first member.
class MemberVisitor {
 public:
  virtual void Begin() = 0;
  virtual void Visit(Member& m) = 0;

 protected:
  ~MemberVisitor() = default;
};

enum WalkResult {
  WALK_DONE,     // every member visited
  WALK_BROKEN,   // the walk met a fault of the file and stopped (result: all bits set)
  WALK_ABORTED,  // the walk could not start (reported); nothing was visited
};

// How a file is recognised: by the extension of its name, or by its first
// bytes (magicLength 3 or 4). The format tag is `tag` where it is set, else
// what the magic leaves of the first four bytes (the byte behind a 3-byte
// magic dropped). Where `fits` is set, the file must also pass it: a file
// named with the extension that does not is recognised by its first bytes
// as any other file, one with the magic that does not is of no format.
// `fits` may read the archive anywhere; the position is set again behind it.
struct Detection {
  const char* extensions[2];
  uint32_t tag;
  const char* magics[2];
  uint32_t magicLength;
  bool (*fits)(const ArchiverState& run) = nullptr;
};

// Where the members of a format lie whose entries hold no file offsets.
// BACK_TO_BACK: in entry order, the first at dataStart(count), each `gap`
// bytes after the end of the one before it (modulo 2^32, or with `capped`
// 0xFFFFFFFF from the first offset past 4 GiB on). FROM_DATA_START: the
// entry's offset counts from dataStart(count); a sum past 4 GiB becomes
// 0xFFFFFFFF, which no member can start at.
struct OffsetRule {
  enum Kind { BACK_TO_BACK, FROM_DATA_START } kind;
  uint32_t (*dataStart)(uint32_t count);
  uint32_t gap;
  bool capped = false;
};

// A decode step: `length` bytes that begin `at` bytes into the member.
typedef void (*DecodeStep)(uint8_t* bytes, size_t length, uint64_t at);

struct WriteRow;  // formats/update.h

struct Format {
  const char* name;  // for messages and tests
  Detection detection;
  // Reads the header fields that follow the magic (or the file's start for
  // formats recognised by extension) and says where the directory lies.
  void (*readHeader)(const ArchiverState& run, Layout* layout);
  void (*decode)(const uint8_t* entry, Member* m);  // one entry, or:
  WalkResult (*walk)(const Directory& dir, MemberVisitor& visitor);
  const OffsetRule* offsets;  // null: entries hold file offsets
  const char* heading;                   // printed before the rows of a listing
  void (*printRow)(const Member& m);
  // Extracts or tests a member the format's own way (null: ExtractStored);
  // true when it was written (under t: read) whole.
  bool (*extract)(const ArchiverState& run, Member& m);
  bool walksArchive;   // no directory block: the walk reads the open archive (Dir)
  bool tildeAlias;     // a "\" in a member's own name may be written "~" in a pattern
  const WriteRow* writing;  // null: d deletes nothing, a and m answer "Not yet"
  // Turns each chunk of a member's stored bytes into the member's bytes, in
  // place, as ExtractStored reads them (null: the bytes are the member's).
  DecodeStep decodeStep = nullptr;
};

#endif
