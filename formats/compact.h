// Member deletion and archive compaction for PACK, Doom WAD and WAD2/WAD3.
//
// CompactArchive packs the data of the remaining entries together behind the
// 12-byte header in offset order, writes the directory behind the data,
// cuts the file there and rewrites the two header words. It never loses or
// corrupts a remaining member: entries that share or overlap data keep
// pointing at their own bytes, and a failure detected before the first move
// leaves the archive unchanged. Returns 1 on success; on failure it has
// printed its message, sets state.compactFailed and returns 0.
#ifndef VREX_FORMATS_COMPACT_H
#define VREX_FORMATS_COMPACT_H

#include <cstdint>
#include <cstdio>

struct CompactFormat {
  uint32_t entrySize;
  uint32_t offsetAt;         // position of the data offset in an entry
  uint32_t sizeAt;           // position of the data size in an entry
  uint32_t nameAt;           // name shown in the allocation message
  const char* allocMessage;  // "Can't allocate %ul bytes for %.56s - skiped\n" and the like
  int countFirst;            // header: 1 = count at 4 and directory offset at 8 (WADs);
                             //         0 = directory offset at 4 and length at 8 (PACK)
  int keepDirectoryOrder;    // write the directory back unsorted (Doom WADs)
};

extern const CompactFormat COMPACT_PACK;
extern const CompactFormat COMPACT_DOOM_WAD;
extern const CompactFormat COMPACT_QUAKE_WAD;

int CompactArchive(uint8_t* directory, uint32_t count, const CompactFormat* format);

// Deletion marks for one handler walk: one zeroed flag per entry, set for
// each member the walk deletes. Returns 1 with *marks set (null for an empty
// directory); on an allocation failure it prints the message, reports the
// deletion as failed (the archive stays as it was) and returns 0.
int StartDeletion(uint32_t count, uint8_t** marks);

// Ends a deleting walk: removes the marked entries from the directory in one
// pass, keeping the order of the rest, releases the marks and compacts the
// archive. Returns what CompactArchive returns.
int FinishDeletion(uint8_t* directory, uint32_t count, uint8_t* marks, const CompactFormat* format);

// Finishes a deletion that was interrupted, when a recovery record
// ("<archive name>.vrex-recovery", see recovery.h) lies beside the archive.
// Returns 0 when there is none, 1 when one was found and the interrupted
// compaction was completed or had not begun (canWrite set; one line
// printed), and -1 when one was found but can't be completed now (message
// printed). Leaves the archive positioned at its first byte.
int RecoverInterruptedCompaction(FILE* archive, const char* archiveName, int canWrite);

#endif
