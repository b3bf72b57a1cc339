// Carrying out a job on an archive so that a crash at any point loses nothing.
//
// A job is a list of moves (runs of bytes that go down to lower offsets,
// sorted by offset), then a list of final writes (bytes at given offsets),
// then the archive's new length. It covers every change the engine makes in
// place: a compaction (compact.cc: moves, then the directory and the header
// words), a front table's update (the table and the count), a chain's append
// (nothing but the length to cut back to) and a chain's replacement of the
// same size (moves from the stage into place, then the length).
//
// RunArchiveJob carries a job out. With protection on, a recovery record
// beside the archive holds the job and the progress of its moves, so that
// RecoverInterruptedJob finishes it after a kill or a power cut. A run that
// prepares bytes other programs can see first holds a record that undoes
// them (HoldArchiveJob), then replaces it by the job that commits them, or
// drops it.
//
// Recovery record "<archive>.vrex-recovery", version 2, numbers LE:
//
//   offset  size  field
//   0       8     magic "VREXREC2"
//   8       4     CRC-32 of the bytes from 12 to the end of the body
//   12      4     body length in bytes
//   16      4     job kind: 0 a deletion, 1 an update, 2 an update undone
//   20      8     archive length when the job began (u64)
//   28      8     new archive length (u64)
//   36      4     number of moves
//   40      4     number of final writes
//   44      4     check offset: the archive bytes there are never written by
//   48      4     check length (0 to 16)   the job, so they tell that the
//   52      16    the bytes                 record belongs to the archive
//   68      12*m  moves: source offset, destination offset, length (u32 each)
//   ...     12*w  final writes: archive offset (u64), length (u32)
//   ...           the bytes of the final writes, back to back in list order
//   body end, rounded up to 64:
//   +0      16    progress: move index, bytes of that move done, phase
//                 (0 moving, 1 moves done), CRC-32 of those 12 bytes
//   +64     16    journal head: move index, bytes done, length, CRC-32 of data
//   +80     ...   journal data: a copy of the chunk being moved, for moves
//                 whose destination lies closer below the source than
//                 MOVE_DIRECT_MIN bytes
//
// Version 1 ("VREXREC1", written by earlier vrex for PACK and WAD
// compactions) is still finished: 12 old header bytes at 16 (the first four
// are the check), the new words for offsets 4 and 8 at 28, directory offset
// at 36 and length at 40, new length at 44, start length at 52, moves count
// at 60, kind at 64, the moves from 68, then the directory; progress and
// journal as above.
//
// End marker written behind the archive's data once every move is durable
// (jobs with moves), 16 bytes at max(length when the job began, new length):
// "VRXM", the body CRC, the low 32 bits of the length when the job began,
// "DONE". It tells a recovery that the moves are done even when the record's
// progress was lost.
#ifndef VREX_FORMATS_RECOVERY_H
#define VREX_FORMATS_RECOVERY_H

#include <cstdint>
#include <vector>

class File;
class FileSystem;

enum : uint32_t {
  MOVE_CHUNK = 1u << 20,        // largest block moved with one read and one write
  MOVE_DIRECT_MIN = 64u << 10,  // smallest displacement moved without the journal
  MOVE_JOURNAL_CHUNK = 256u << 10,
  MOVE_RECORD_SIZE = 12,
};

// JOB_UNDONE: an update that was being prepared; finishing it cuts the
// archive back to its length before the run.
enum : uint32_t { JOB_DELETION = 0, JOB_UPDATE = 1, JOB_UNDONE = 2 };

// The record's name is the archive's name with this behind it.
extern const char RECOVERY_SUFFIX[];  // ".vrex-recovery"

// Bytes written at `at` when the moves are done.
struct FinalWrite {
  uint64_t at;
  const uint8_t* bytes;
  uint32_t length;
};

struct ArchiveJob {
  FileSystem* fs = nullptr;
  uint32_t kind = JOB_DELETION;  // for the messages of a recovery
  File* archive = nullptr;
  const char* archiveName = nullptr;
  uint64_t startLength = 0;
  uint64_t newLength = 0;
  uint32_t moveCount = 0;
  const uint8_t* moves = nullptr;  // moveCount records of MOVE_RECORD_SIZE bytes
  std::vector<FinalWrite> writes;
  uint8_t* buffer = nullptr;       // MoveBufferSize bytes
  int protect = 1;                 // keep a recovery record while the archive changes
};

// Bytes of the move buffer a plan needs: its longest move, at most MOVE_CHUNK.
uint32_t MoveBufferSize(const uint8_t* moves, uint32_t moveCount);

// Carries the job out. Returns 1 when it is complete and durable (the
// record is gone again); 0 after a failure before the first change: the
// archive is unchanged and no record was written (a held one stays as it
// was); -1 after a later failure, which leaves the record, so that the next
// writing run finishes the job. A record held for the archive is replaced by
// this job's, atomically.
int RunArchiveJob(ArchiveJob* job);

// Writes the record of the job and makes it durable, without carrying it
// out: from now on a recovery carries it out. Returns 0 after a failure
// (message printed, no record).
int HoldArchiveJob(const ArchiveJob& job);

// Removes the record held for the archive (its folder synced); 0 after a
// failure (message printed).
int DropHeldJob(FileSystem& fs, const char* archiveName);

// Finishes a job that was interrupted, when a recovery record lies beside
// the archive. Returns 0 when there is none, 1 when one was found and the
// interrupted job was completed, undone or had not begun (canWrite set; one
// line printed), and -1 when one was found but can't be completed now
// (message printed). Leaves the archive positioned at its first byte.
int RecoverInterruptedJob(FileSystem& fs, File& archive, const char* archiveName, int canWrite);

#endif
