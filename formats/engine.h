// What the parts of the update engine share (update.cc, front_table.cc,
// rewrite.cc, compact.cc): a row's entries read the same way everywhere, the
// header words and the directory block as written, the lines a run prints,
// and data copied in chunks through one buffer.
#ifndef VREX_FORMATS_ENGINE_H
#define VREX_FORMATS_ENGINE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/file.h"
#include "formats/update.h"

// ---- entries

inline const uint8_t* EntryAt(const WriteRow& row, const uint8_t* directory, uint32_t i) {
  return directory + uint64_t(i) * row.entry.size;
}

// Bytes an entry's data occupy: its packed size where the row has one that
// is not 0, else its size.
uint32_t StoredBytes(const WriteRow& row, const uint8_t* entry);

// Where each entry's data begin: its offset field, or for offsets implied by
// order the place the order gives (64-bit, never wrapped).
std::vector<uint64_t> DataOffsets(const WriteRow& row, const uint8_t* directory, uint32_t count);

// Whether every entry's data lies inside a file of `fileSize` bytes (and
// below 4 GiB); if not, prints that the archive is left unchanged, naming
// the first such entry.
int DataInside(const WriteRow& row, const uint8_t* directory, uint32_t count, uint64_t fileSize);

// The lowest offset of an entry with data, or `none`.
uint64_t LowestData(const WriteRow& row, const uint8_t* directory, uint32_t count, uint64_t none);

// Where data packed in front-table style begin behind a table of `count`
// entries: right behind it, or, for a row that keeps its room, no lower than
// the first data, up to the room of newRoom entries.
uint64_t FrontDataStart(const WriteRow& row, const uint8_t* directory, uint32_t count);

// ---- what is written

// The header words for a directory at `offset` of `bytes` bytes and `count`
// entries, as one run of bytes beginning at *at (empty: the row has none).
std::vector<uint8_t> HeaderWords(const WriteRow& row, uint64_t offset, uint64_t bytes, uint32_t count,
                                 uint32_t* at);

// The directory block written at `offset`: the count first where it leads
// the block, the entries, transformed where the row says; `header` holds the
// archive's first bytes, `variant` the header reader's note of it.
std::vector<uint8_t> DirectoryBlock(const WriteRow& row, const std::vector<uint8_t>& entries, uint32_t count,
                                    uint64_t offset, const uint8_t* header, uint32_t variant);

// The archive's first bytes as the directory transform sees them.
constexpr uint32_t HEADER_PEEK = 32;

// Sets the offset and size fields of an entry for data stored at `at`.
void PlaceEntry(const WriteRow& row, uint8_t* entry, uint64_t at, uint32_t size, uint32_t packedSize);

// The new directory: the plan's order, with the new places and sizes of the
// stored puts (`placedAt` UINT64_MAX: not stored, dropped), old entries moved
// to `movedTo` (UINT64_MAX: staying), and no fixed entry of a group nothing
// was stored for. *newCount is the number of entries.
struct Stored {
  std::vector<uint64_t> placedAt;  // per put
  std::vector<uint32_t> sizes;
  std::vector<uint32_t> packed;    // 0: stored as is
  std::vector<uint64_t> movedTo;   // per old entry
};
std::vector<uint8_t> NewDirectory(const WriteRow& row, const uint8_t* directory, uint32_t count,
                                  const UpdatePlan& plan, const Stored& stored, uint32_t* newCount);

// ---- lines

void PrintStored(const WriteRow& row, const Put& put);
void PrintRefused(const char* reason, const AddInput& input);
void PrintFailed(const ArchiverState& run);  // "the update failed - the archive is as it was"

// ---- copying

extern const char CHANGED_WHILE_READ[];  // "Changed while read"
extern const char CANT_READ[];           // "Can't read"

// The copy buffer: one block, at least 16 bytes.
struct Buffer {
  uint8_t* data;
  size_t size;
};

// Where data are written next. The file's own position is kept at `at`, so
// copies are sequential writes; `moved` says it may be elsewhere.
struct Target {
  File* file;
  uint64_t at;
  bool moved;
};

enum CopyResult { COPIED, SOURCE_FAILED, TARGET_FAILED };

// Copies the input to the target's position, coded as the row says; the
// target's position is not advanced. A source that can't be opened or read,
// or that holds more or fewer bytes than when it was named, fails with
// *reason set. *stored is the number of bytes written, *coded whether they
// are a zlib stream.
CopyResult CopyInput(FileSystem& fs, const AddInput& input, DataCoding coding, Target* t, const Buffer& buffer,
                     uint64_t* stored, bool* coded, const char** reason);

// Copies `length` bytes of the archive at `from` to the target's position.
bool CopyWithin(File& archive, uint64_t from, uint64_t length, Target* t, const Buffer& buffer);

// Copies every input the plan stores, in input order, to the target's
// position, each padded to the row's alignment, printing each input's line;
// notes where each went in `stored` and what happened in `result`. Returns
// false when the target failed (reported).
bool CopyInputs(const ArchiverState& run, const WriteRow& row, const UpdatePlan& plan,
                const std::vector<AddInput>& inputs, Target* t, const Buffer& buffer, Stored* stored,
                UpdateResult* result);

// A copy buffer for data of up to `largest` bytes: at most 1 MiB, at least
// 16 bytes. Prints the failure; false when it can't be had.
bool MakeBuffer(uint64_t largest, Buffer* buffer);

// Writes zeros from the target's position up to the next multiple of `align`.
bool PadTo(Target* t, uint32_t align);

uint64_t AlignUp(uint64_t at, uint32_t align);

// ---- whole files

// Opens "<archive>.vrex-new" for writing whole (one left by a killed run is
// removed first); null after a failure (reported).
std::unique_ptr<File> OpenNewFile(FileSystem& fs, const std::string& name);

// The new file, synced, takes the archive's name: for a rewrite the archive
// is closed first and its permission bits go to the new file. The folder is
// synced behind the rename. Returns false, the new file removed, when it
// could not be put in place (reported).
bool PutNewFile(const ArchiverState& run, File& file, const std::string& name, bool replacing);

// ---- COMMIT_FRONT_TABLE (front_table.cc) and COMMIT_REWRITE (rewrite.cc)

UpdateResult CommitFrontTable(const ArchiverState& run, const WriteRow& row, const uint8_t* directory,
                              uint32_t count, const UpdatePlan& plan, const std::vector<AddInput>& inputs);

// Writes the archive anew from the plan (or, run.archive null, makes it), or
// grows a chain in place where the plan allows.
UpdateResult CommitRewrite(const ArchiverState& run, const WriteRow& row, const uint8_t* directory,
                           uint32_t count, const UpdatePlan& plan, const std::vector<AddInput>& inputs,
                           const char* magic);

// Deletion for COMMIT_REWRITE: the archive written anew without the marked
// entries. Returns 1 on success (the archive as it was when nothing needs
// to change).
int DeleteByRewrite(const ArchiverState& run, const WriteRow& row, const uint8_t* directory, uint32_t count,
                    const uint8_t* marks);

// Dead space: bytes of a file of `length` that are neither `live` bytes nor
// data of an entry at or above `base`.
uint64_t DeadSpace(const WriteRow& row, const uint8_t* directory, uint32_t count, uint64_t length, uint64_t base,
                   uint64_t live);

// The archive name with `suffix` behind it.
std::string WithSuffix(const char* name, const char* suffix);

#endif
