// Writing archives: the row a writable format gives the engine, and the
// engine's three commit styles.
//
// A format vrex writes describes its layout in one WriteRow: where its table
// lives, the header words the engine writes, the entry's fields, how new data
// are stored, the room a new table gets, and its limits. The format's own
// code only decides names and places (plan). The engine does the rest alike
// for every format: it copies the files, builds the new directory and commits
// it by the row's style. Whatever the style, a run killed at any write or
// sync, or cut as by a power failure, leaves the archive listing and
// extracting exactly as before or exactly as after (the seek column may
// differ), or a recovery record (recovery.h) that the next writing run
// carries out while every other operation answers exit 8. A failure reported
// before the first write into live bytes leaves the archive as before, byte
// for byte (exit 7).
//
// 1. COMMIT_HEADER_WORDS: the directory lies behind the data and header words
//    locate it (PACK: offset and length; WADs: count and offset). New data and
//    the new directory go behind the file's end; the file is synced; one write
//    of the header words (they lie side by side) and a second sync commit.
//    Commit point: that sync. A failure before it writes the old words back
//    and cuts the file to its old length; a kill leaves bytes behind the end,
//    which read as before and count as dead space.
// 2. COMMIT_FRONT_TABLE: a table with explicit offsets at a fixed place in
//    front, and a count word (LOD, CSid, STK). New data go behind the end. A
//    run that only appends entries into the table's free room (the bytes
//    behind its last entry, below every member with data) writes them there,
//    syncs, and commits with the count word alone, synced. Any other run (a
//    replacement, an insertion that shifts entries, a table that needs room
//    members occupy) writes the new table through the recovery record: the
//    record holds the table and the count as they will be and is synced,
//    then they are written in place and synced, and the record is removed.
//    Commit point: the record on disk. Members lying where the new table goes
//    are first copied behind the end; their old bytes stay valid until then.
// 3. COMMIT_REWRITE: offsets implied by order (DMVL: the table, then the data
//    in entry order; HOG: a chain of entries, each followed by its data). The
//    archive is written whole as "<archive>.vrex-new", synced, the archive
//    closed, the new file renamed over it with the archive's permission bits,
//    the folder synced. Commit point: the rename. Before it the new file is
//    removed again and the archive is as before; an input that can't be read
//    whole, or changes while it is read, fails the run. A chain grows without
//    a rewrite: new records are appended under a recovery record that holds
//    the length before the run (synced before the first appended byte,
//    removed after the last sync; a recovery cuts the file back); the data of
//    a replacement of the same size are staged behind them, and once all is
//    synced that record is replaced by one that moves the staged data into
//    place and cuts the stage off (commit point: that replacement).
//
// After a commit in styles 1 and 2, dead space beyond a quarter of the file
// is reclaimed by the compaction deletion uses (compact.h), the directory
// keeping its order. Files are copied in chunks through one buffer: memory
// stays at the directory, the buffer and a few MiB, whatever the members'
// sizes.
#ifndef VREX_FORMATS_UPDATE_H
#define VREX_FORMATS_UPDATE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/state.h"

// One file named for storing.
struct AddInput {
  std::string path;          // as given, relative to the current folder
  uint64_t size = 0;
  int64_t modified = 0;           // its last modification (FileStat::modified)
  const char* refusal = nullptr;  // why it can't be stored, found while collecting
};

// The path as a member path: "/" between folders (on Windows "\" too), a
// leading "./" dropped; and its last component.
std::string RelativePath(const std::string& path);
std::string LastComponent(const std::string& path);

// What a format decides for one input.
struct Put {
  const char* refusal = nullptr;  // why it is not stored ("Ambiguous name"), or null
  int64_t replaces = -1;          // the directory entry it replaces, or -1 for a new one
  std::vector<uint8_t> entry;     // a new entry, or the replaced entry as it becomes (empty:
                                  // as it is); the engine fills in offset and sizes
  std::string shown;              // the member's name for the "Adding"/"Replacing" line
                                  // (empty: the name field of the new entry)
  std::string note;               // appended to that line
  int32_t group = -1;             // the group of new entries it belongs to (a new map or namespace)
};

// One entry of the new directory.
struct Slot {
  enum Kind { OLD, PUT, FIXED } kind;
  uint32_t index;  // the old entry, the put, or the fixed entry
};

struct UpdatePlan {
  std::vector<Put> puts;                      // one per input, in input order
  std::vector<Slot> order;                    // the new directory
  std::vector<std::vector<uint8_t>> fixed;    // new entries without data (markers)
  std::vector<int32_t> fixedGroup;            // a fixed entry stays only if a put of its group is stored
};

// Appends every old entry, then the new entries in input order.
void AppendInOrder(uint32_t count, UpdatePlan* plan);

struct AddRequest {
  const ArchiverState* run;
  bool withFolders;     // a and m: the member name is the path; af and mf: its last component
  uint32_t formatTag;   // of the archive, or of the one being made
  bool creating;
};

// ---- the row

constexpr uint32_t NO_FIELD = 0xFFFFFFFFu;

enum CommitStyle { COMMIT_HEADER_WORDS, COMMIT_FRONT_TABLE, COMMIT_REWRITE };

// Where the table lives: behind the data (style 1), at `tableAt` in front of
// the data, or nowhere: each entry right before its data (a chain).
enum TablePlace { TABLE_BEHIND_DATA, TABLE_IN_FRONT, TABLE_CHAIN };

// What a header word holds.
enum WordMeaning { WORD_DIRECTORY_OFFSET, WORD_DIRECTORY_BYTES, WORD_ENTRY_COUNT };

// A header word the engine writes: at `at`, `width` bytes (2 or 4; 0: none).
struct CommitWord {
  uint32_t at;
  uint32_t width;
  WordMeaning meaning;
};

// The fields of one entry. Offsets within the entry; NO_FIELD where the
// entry has none (no offset: offsets implied by order).
struct EntryFields {
  uint32_t size;        // bytes of the entry
  uint32_t offsetAt;
  uint32_t sizeAt;      // the member's size (as extracted)
  uint32_t packedAt;    // bytes stored when the data are coded; 0 there: stored as is
  uint32_t nameAt;
  uint32_t nameWidth;   // the name field as read (up to its first NUL)
  uint32_t longestName; // the longest new name, in bytes (the hidden prefix aside)
  const char* hiddenPrefix = nullptr;  // stored in front of every name, never shown nor compared
  bool spacePadded = false;            // trailing spaces of a stored name are padding
  // A name that spans fields of its own (null: the name field above): the
  // name as shown, and the writing of a new one into an entry of zeros,
  // false when it does not fit.
  std::string (*shownName)(const uint8_t* entry) = nullptr;
  bool (*fillName)(const std::string& name, uint8_t* entry) = nullptr;
};

// How member data go into the archive.
enum DataCoding {
  DATA_AS_IS,
  DATA_ZLIB_IF_SMALLER,  // one zlib stream (level 6) where it is smaller than the file
};

// A transform of the directory bytes as written at `offset` (for example an
// encryption keyed by it); `header` holds the archive's first bytes and
// `variant` what its header reader noted of it (Layout::variant; 0 for a new
// archive).
typedef void (*DirectoryTransform)(uint8_t* bytes, size_t size, uint32_t offset, const uint8_t* header,
                                   uint32_t variant);

struct WriteRow {
  CommitStyle style;
  TablePlace place;
  uint32_t headerSize;       // member data and a directory behind them may start here
  uint32_t tableAt;          // TABLE_IN_FRONT: where the table begins
  CommitWord words[2];       // the header words the engine sets, side by side
  bool countLeadsDirectory;  // a u32 entry count begins the directory block
  EntryFields entry;
  uint32_t dataAlign;        // each member's data starts at a multiple of this (1: anywhere)
  uint32_t newRoom;          // entries the table of a new archive has room for
  uint32_t entryLimit;       // at most this many entries ("Archive full"; 0: no limit)
  bool keepsRoom;            // compaction keeps the table's room (up to newRoom entries)
  DataCoding coding;
  DirectoryTransform transformDirectory;  // or null
  const char* newHeader;     // headerSize bytes a new archive begins with (words aside)
  const char* extensions[2]; // a missing archive with one of these is made in this format
  // Deletion.
  const char* allocMessage;  // "Can't allocate %ul bytes for %.56s - skiped\n" and the like
  bool keepDirectoryOrder;   // write the directory back in its order, not sorted by offset
  bool showStoredName;       // "Deleting" lines show the stored name, not the name copy
  // The format's own decisions. plan decides each input that has no refusal
  // yet: it replaces an entry, adds one (and where), or is refused.
  void (*plan)(const AddRequest& request, const uint8_t* directory, uint32_t count,
               const std::vector<AddInput>& inputs, UpdatePlan* plan);
  // Sets the size fields of a stored entry (null: sizeAt, and packedAt when
  // the row has it); packedSize is 0 for data stored as they are.
  void (*setSizes)(uint8_t* entry, uint32_t size, uint32_t packedSize);
  // Null, or what a deletion takes besides the marked entries: it may mark
  // more, and returns the name of a kept member that the deletion would
  // rename, which leaves the archive as it is (empty: none).
  std::string (*settle)(const ArchiverState& run, const uint8_t* directory, uint32_t count,
                        uint8_t* marks) = nullptr;
};

// ---- names

// How a format names the members it stores, and compares names.
struct NameRule {
  bool folders;       // a and m store the path, af and mf its last component
                      // (false: every letter stores the last component)
  char separator;     // written between the folders of a stored path
  bool slashesAlike;  // "\" and "/" compare as one character
  bool upperCase;     // new names are upper-cased
};

// A name equal to a stored one replaces it; failing that, a single stored
// name equal with ASCII case ignored is replaced and keeps its spelling; two
// or more such names (or a name stored twice): "Ambiguous name". A new name
// longer than fields.longestName (or one fields.fillName refuses): "Name too
// long"; two files of one name, case ignored: "Duplicate name". A new entry
// holds the hidden prefix and the name (or what fillName writes), zeros
// around them; the order is AppendInOrder's. Where stored
// names are space-padded, a name's trailing spaces are dropped first.
void PlanNames(const NameRule& rule, const EntryFields& fields, bool withFolders, const uint8_t* directory,
               uint32_t count, const std::vector<AddInput>& inputs, UpdatePlan* plan);

// PlanNames for the formats with flat names: a and af alike store the
// file's last component, letter case as given.
void PlanFlatNames(const EntryFields& fields, const uint8_t* directory, uint32_t count,
                   const std::vector<AddInput>& inputs, UpdatePlan* plan);

// The name stored in an entry as shown: up to its first NUL, without the
// hidden prefix and the padding spaces (or fields.shownName's).
std::string StoredName(const EntryFields& fields, const uint8_t* entry);

// ---- the engine

struct UpdateResult {
  uint32_t stored = 0;
  uint32_t refused = 0;
  bool failed = false;               // the archive is as before (exit 7)
  bool recoveryPending = false;      // a recovery record stays: the next writing run finishes (exit 8)
  std::vector<size_t> storedInputs;  // committed, durable
};

// Updates the open archive (run.archive, its directory loaded), or with
// run.archive null makes the archive run.archiveName from row.newHeader,
// `magic` (when given) over its first four bytes. Prints one line per input
// and returns what happened.
UpdateResult RunUpdate(const ArchiverState& run, const WriteRow& row, const AddRequest& request,
                       const uint8_t* directory, uint32_t count, const std::vector<AddInput>& inputs,
                       const char* magic);

// A new archive, or a rewritten one, is written under its name with this behind it.
extern const char NEW_ARCHIVE_SUFFIX[];  // ".vrex-new"

// The offsets the formats can hold: readers take them as signed 32-bit.
constexpr uint64_t OFFSET_LIMIT = 0x80000000u;

#endif
