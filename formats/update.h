// Adding and replacing members: the update engine.
//
// An update never writes over bytes that the directory on disk still points
// to. New data and the new directory go behind the current end of the file
// (its length, not the directory's position); the archive is synced; then
// one small write of the two header words points it at the new directory,
// and a second sync commits the run. A run that fails before the commit
// cuts the file back to its old length, so the archive is as before byte for
// byte; a run that is killed leaves at most bytes behind the old end, which
// the next update counts as dead space. When dead space exceeds a quarter of
// the file after the commit, the run reclaims it with the compaction that
// deletion uses (same recovery record), keeping the directory in its order.
//
// A new archive is written whole under a temporary name beside it
// ("<archive>.vrex-new"), synced, and renamed into place; the folder is
// synced after the rename.
//
// Files are copied in chunks through one buffer; memory stays at the
// directory and the buffer. A file that can't be read, or that changes while
// it is read, is reported and its member is not committed.
#ifndef VREX_FORMATS_UPDATE_H
#define VREX_FORMATS_UPDATE_H

#include <cstdint>
#include <string>
#include <vector>

#include "core/state.h"
#include "formats/compact.h"

class File;

// One file named for storing.
struct AddInput {
  std::string path;          // as given, relative to the current folder
  uint64_t size = 0;
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
  std::vector<uint8_t> entry;     // a new entry (the engine fills in offset and size)
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

// What the engine needs to know of a format it can write.
struct AddRow {
  const DeleteRow* layout;  // entry layout and header words
  uint32_t dataAlign;       // each member's data starts at a multiple of this (1: anywhere)
  const char* extension;    // a missing archive with this extension is made in this format (or null)
  // Decides each input that has no refusal yet: replaces an entry, adds
  // one (and where), or refuses it.
  void (*plan)(const AddRequest& request, const uint8_t* directory, uint32_t count,
               const std::vector<AddInput>& inputs, UpdatePlan* plan);
  // Sets the size fields of a stored entry for new data of `size` bytes.
  void (*setSize)(uint8_t* entry, uint32_t size);
};

struct UpdateResult {
  uint32_t stored = 0;
  uint32_t refused = 0;
  bool failed = false;               // the archive is as before (exit 7)
  bool recoveryPending = false;      // committed, but the compaction behind it was interrupted
  std::vector<size_t> storedInputs;  // committed, durable
};

// Updates the open archive (run.archive, its directory loaded), or with
// run.archive null makes the archive run.archiveName with magic `magic`.
// Prints one line per input and returns what happened.
UpdateResult RunUpdate(const ArchiverState& run, const AddRow& row, const AddRequest& request,
                       const uint8_t* directory, uint32_t count, const std::vector<AddInput>& inputs,
                       const char* magic);

// A new archive is written under its name with this behind it.
extern const char NEW_ARCHIVE_SUFFIX[];  // ".vrex-new"

// The offsets the formats can hold: readers take them as signed 32-bit.
constexpr uint64_t OFFSET_LIMIT = 0x80000000u;

#endif
