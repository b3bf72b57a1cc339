// Member deletion and archive compaction.
//
// CompactArchive packs the data of the remaining entries together, sets the
// directory (behind the data for COMMIT_HEADER_WORDS, in place for
// COMMIT_FRONT_TABLE), cuts the file and rewrites the header words. It never
// loses or corrupts a remaining member: entries that share or overlap data
// keep pointing at their own bytes, a failure detected before the first move
// leaves the archive unchanged, and with run.protectUpdates a recovery record
// lets the next run finish a job that was killed (recovery.h). Returns 1 on
// success; on failure it has printed its message and returns 0.
#ifndef VREX_FORMATS_COMPACT_H
#define VREX_FORMATS_COMPACT_H

#include <cstdint>
#include <string>

#include "core/state.h"
#include "formats/update.h"

// keepOrder writes the directory back in its own order instead of sorted by
// data offset; jobKind (JOB_DELETION, JOB_UPDATE) names the job in the
// messages of a recovery; data that moves starts at a multiple of `align`.
// A front table that keeps its room keeps the data from `dataFrom` on (where
// they began before the run: FrontDataStart of the directory then).
int CompactArchive(const ArchiverState& run, uint8_t* directory, uint32_t count, const WriteRow& row,
                   bool keepOrder, uint32_t jobKind, uint32_t align, uint64_t dataFrom);

// Removes the entries whose mark is set (and what the row's settle adds)
// from the directory, keeping the order of the rest, and reclaims their
// space: by compaction, or for COMMIT_REWRITE by writing the archive anew.
// Returns 1 on success; 0 when settle named a member the deletion would
// rename (the archive left as it is).
int FinishDeletion(const ArchiverState& run, uint8_t* directory, uint32_t count, uint8_t* marks,
                   const WriteRow& row);

#endif
