// Member deletion and archive compaction for the formats that can be
// rewritten (PACK, Doom WAD, WAD2/WAD3).
//
// CompactArchive packs the data of the remaining entries together behind the
// header, writes the directory behind the data, cuts the file there and
// rewrites the two header words. It never loses or corrupts a remaining
// member: entries that share or overlap data keep pointing at their own
// bytes, a failure detected before the first move leaves the archive
// unchanged, and with run.protectUpdates a recovery record lets the next run
// finish a job that was killed (recovery.h). Returns 1 on success; on
// failure it has printed its message and returns 0.
#ifndef VREX_FORMATS_COMPACT_H
#define VREX_FORMATS_COMPACT_H

#include <cstdint>
#include <string>

#include "core/state.h"

// What compaction needs to know of a format: its entry layout and the two
// 32-bit header words at file offsets 4 and 8 that locate the directory.
struct DeleteRow {
  uint32_t entrySize;
  uint32_t offsetAt;   // position of the data offset in an entry
  uint32_t sizeAt;     // position of the data size in an entry
  uint32_t nameAt;     // the name shown in the allocation message
  uint32_t nameWidth;
  const char* allocMessage;  // "Can't allocate %ul bytes for %.56s - skiped\n" and the like
  bool countFirst;           // header: true = count at 4 and directory offset at 8 (WADs);
                             //         false = directory offset at 4 and length at 8 (PACK)
  bool keepDirectoryOrder;   // write the directory back unsorted (Doom WADs)
  bool showStoredName;       // "Deleting" lines show the stored name, not the name copy
  uint32_t headerSize;       // member data may start here
  // Null, or what a deletion takes besides the marked entries: it may mark
  // more, and returns the name of a kept member that the deletion would
  // rename, which leaves the archive as it is (empty: none).
  std::string (*settle)(const ArchiverState& run, const uint8_t* directory, uint32_t count, uint8_t* marks) = nullptr;
};

// keepOrder writes the directory back in its own order instead of sorted by
// data offset; jobKind (JOB_DELETION, JOB_UPDATE) names the job in the
// messages of a recovery; data that moves starts at a multiple of `align`.
int CompactArchive(const ArchiverState& run, uint8_t* directory, uint32_t count, const DeleteRow& row,
                   bool keepOrder, uint32_t jobKind, uint32_t align);

// Whether every entry's data lies inside a file of `fileSize` bytes; if not,
// prints that the archive is left unchanged, naming the first such entry.
int DataInside(const uint8_t* directory, uint32_t count, const DeleteRow& row, uint64_t fileSize);

// Removes the entries whose mark is set (and what the row's settle adds)
// from the directory in one pass, keeping the order of the rest, and
// compacts the archive. Returns what CompactArchive returns; 0 when settle
// named a member the deletion would rename (the archive left as it is).
int FinishDeletion(const ArchiverState& run, uint8_t* directory, uint32_t count, uint8_t* marks,
                   const DeleteRow& row);

// Finishes a rewrite that was interrupted, when a recovery record
// ("<archive name>.vrex-recovery", see recovery.h) lies beside the archive.
// Returns 0 when there is none, 1 when one was found and the interrupted job
// was completed or had not begun (canWrite set; one line printed), and -1
// when one was found but can't be completed now (message printed). Leaves
// the archive positioned at its first byte.
int RecoverInterruptedCompaction(FileSystem& fs, File& archive, const char* archiveName, int canWrite);

#endif
