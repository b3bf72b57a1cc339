// Carrying out a compaction so that a crash at any point loses nothing.
//
// CompactArchive (compact.cc) decides the new layout: the new directory, the
// header words, the new length and a list of moves, each a run of bytes that
// goes down to a lower offset, sorted by offset. RunCompactionJob writes the
// archive's new state from that plan. With protection on (the default), a
// recovery record beside the archive holds the plan and the progress of the
// moves, so that RecoverInterruptedCompaction can finish the job after a
// kill or a power cut.
//
// Recovery record "<archive>.vrex-recovery", all numbers u32 LE unless noted:
//
//   offset  size  field
//   0       8     magic "VREXREC1"
//   8       4     CRC-32 of the bytes from 12 to the end of the body
//   12      4     body length in bytes
//   16      12    the archive's first 12 bytes when the job began
//   28      8     new header words: the one at archive offset 4, then 8
//   36      4     new directory offset
//   40      4     new directory length in bytes
//   44      8     new archive length (u64)
//   52      8     archive length when the job began (u64)
//   60      4     number of moves
//   64      4     job kind: 0 a deletion, 1 the compaction that ends an update
//   68      12*m  moves: source offset, destination offset, length
//   ...           the new directory
//   body end, rounded up to 64:
//   +0      16    progress: move index, bytes of that move done, phase
//                 (0 moving, 1 moves done), CRC-32 of those 12 bytes
//   +64     16    journal head: move index, bytes done, length, CRC-32 of data
//   +80     ...   journal data: a copy of the chunk being moved, for moves
//                 whose destination lies closer below the source than
//                 MOVE_DIRECT_MIN bytes
//
// End marker written behind the archive's data once every move is durable,
// 16 bytes at max(length when the job began, new length): "VRXM", the body
// CRC, the low 32 bits of the length when the job began, "DONE". It tells a
// recovery that the moves are done even when the record's progress was lost.
#ifndef VREX_FORMATS_RECOVERY_H
#define VREX_FORMATS_RECOVERY_H

#include <cstdint>

class File;
class FileSystem;

enum : uint32_t {
  MOVE_CHUNK = 1u << 20,        // largest block moved with one read and one write
  MOVE_DIRECT_MIN = 64u << 10,  // smallest displacement moved without the journal
  MOVE_JOURNAL_CHUNK = 256u << 10,
  MOVE_RECORD_SIZE = 12,
};

enum : uint32_t { JOB_DELETION = 0, JOB_UPDATE = 1 };

// The record's name is the archive's name with this behind it.
extern const char RECOVERY_SUFFIX[];  // ".vrex-recovery"

struct CompactionJob {
  FileSystem* fs;
  uint32_t kind;         // JOB_DELETION or JOB_UPDATE, for the messages of a recovery
  File* archive;
  const char* archiveName;
  uint8_t oldHeader[12];
  uint8_t newWords[8];
  uint32_t dirOffset;
  uint32_t dirBytes;
  const uint8_t* directory;
  uint64_t newLength;
  uint64_t startLength;
  uint32_t moveCount;
  const uint8_t* moves;  // moveCount records of MOVE_RECORD_SIZE bytes
  uint8_t* buffer;       // MoveBufferSize bytes
  int protect;           // keep a recovery record while the archive changes
};

// Bytes of the move buffer a plan needs: its longest move, at most MOVE_CHUNK.
uint32_t MoveBufferSize(const uint8_t* moves, uint32_t moveCount);

// Writes the new state of the archive. Returns 1 when it is complete and
// durable (the record is gone again), 0 after a failure: a failure before
// the first change leaves the archive unchanged and no record; a later one
// leaves the record, so that the next "d" run finishes the job.
int RunCompactionJob(CompactionJob* job);

#endif
