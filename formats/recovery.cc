// Crash-safe execution of a compaction plan and recovery of an interrupted
// one. The layout of the recovery record is drawn in recovery.h.
//
// Order of a protected job:
//   1. the record (plan, new directory, progress 0) is written and synced,
//      and so is the folder that holds it; the archive is not touched before;
//   2. the moves run in offset order, chunk by chunk; after each chunk the
//      archive's bytes are handed to the system before the progress entry
//      is rewritten, so a killed run never leaves progress ahead of the data.
//      A chunk never overwrites its own source unless its data sits in the
//      journal first, so the chunk after the recorded progress can always be
//      redone;
//   3. the end marker is written behind the data and the archive synced; the
//      progress phase becomes "moves done" and the record is synced;
//   4. directory, length and header words are written and the archive synced;
//   5. the record is removed and its folder synced.
// A power cut that drops every write since the last sync finds either the
// archive untouched with progress 0, or the moves durable together with the
// end marker; a kill finds the progress of the last finished chunk.
#include "formats/recovery.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "core/access.h"
#include "core/bytes.h"
#include "core/file.h"
#include "core/memory.h"
#include "formats/compact.h"

const char RECOVERY_SUFFIX[] = ".vrex-recovery";

namespace {
const uint8_t kRecordMagic[8] = {'V', 'R', 'E', 'X', 'R', 'E', 'C', '1'};
constexpr uint32_t kCrcAt = 8;
constexpr uint32_t kBodyLengthAt = 12;
constexpr uint32_t kOldHeaderAt = 16;
constexpr uint32_t kNewWordsAt = 28;
constexpr uint32_t kDirOffsetAt = 36;
constexpr uint32_t kDirBytesAt = 40;
constexpr uint32_t kNewLengthAt = 44;
constexpr uint32_t kStartLengthAt = 52;
constexpr uint32_t kMoveCountAt = 60;
constexpr uint32_t kKindAt = 64;
constexpr uint32_t kFixedSize = 68;
constexpr uint32_t kProgressSize = 16;
constexpr uint32_t kJournalOffset = 64;  // from the progress entry
constexpr uint32_t kJournalHeadSize = 16;
constexpr uint32_t kMarkerSize = 16;

enum { PHASE_MOVING = 0, PHASE_MOVED = 1 };

const char* JobName(uint32_t kind) { return kind == JOB_UPDATE ? "update" : "deletion"; }

// The open record of a protected job.
struct Record {
  FileSystem* fs;
  std::unique_ptr<File> file;
  const char* name;
  uint64_t progressAt;
  uint32_t bodyCrc;
};

uint32_t Crc(uint32_t crc, const uint8_t* data, uint64_t size) {
  while (size) {
    uInt piece = size > 0x40000000u ? 0x40000000u : uInt(size);
    crc = uint32_t(crc32(crc, data, piece));
    data += piece;
    size -= piece;
  }
  return crc;
}

int SyncFolder(FileSystem& fs, const char* path) {
  if (fs.SyncFolder(path)) return 1;
  ReportAccessError("\twrite failed", fs.Error());
  return 0;
}

void CloseRecord(Record* record) {
  if (record && record->file) record->file->Close();
  if (record) record->file.reset();
}

uint64_t FileSize(File& file) {
  uint64_t size = 0;
  return file.Size(&size) ? size : 0;
}

char* RecordName(const char* archiveName) {
  size_t length = strlen(archiveName);
  char* name = static_cast<char*>(Allocate(length + sizeof RECOVERY_SUFFIX));
  if (!name) return nullptr;
  memcpy(name, archiveName, length);
  memcpy(name + length, RECOVERY_SUFFIX, sizeof RECOVERY_SUFFIX);
  return name;
}

uint64_t ProgressAt(uint64_t bodyLength) { return (bodyLength + 63) & ~uint64_t(63); }

uint64_t MarkerAt(const CompactionJob* job) {
  return job->startLength > job->newLength ? job->startLength : job->newLength;
}

void MakeMarker(const CompactionJob* job, uint32_t bodyCrc, uint8_t* marker) {
  memcpy(marker, "VRXM", 4);
  WriteU32LE(marker + 4, bodyCrc);
  WriteU32LE(marker + 8, uint32_t(job->startLength));
  memcpy(marker + 12, "DONE", 4);
}

void ReadMove(const CompactionJob* job, uint32_t index, uint32_t* source, uint32_t* target,
              uint32_t* length) {
  const uint8_t* m = job->moves + uint64_t(index) * MOVE_RECORD_SIZE;
  *source = ReadU32LE(m);
  *target = ReadU32LE(m + 4);
  *length = ReadU32LE(m + 8);
}

// Chunk size of a move. A chunk no longer than the displacement never
// overwrites its own source; a move that can't be cut into such chunks of a
// useful size goes through the journal.
uint32_t ChunkFor(uint32_t displacement, uint32_t length, int protect, int* journaled) {
  *journaled = 0;
  if (!protect || displacement >= MOVE_CHUNK) return MOVE_CHUNK;
  if (displacement >= MOVE_DIRECT_MIN || length <= displacement) return displacement;
  *journaled = 1;
  return MOVE_JOURNAL_CHUNK;
}

int WriteProgress(Record* record, uint32_t move, uint32_t done, uint32_t phase) {
  uint8_t entry[kProgressSize];
  WriteU32LE(entry, move);
  WriteU32LE(entry + 4, done);
  WriteU32LE(entry + 8, phase);
  WriteU32LE(entry + 12, Crc(0, entry, 12));
  return WriteFar(*record->file, record->progressAt, entry, sizeof entry) && FlushFile(*record->file);
}

int WriteJournal(Record* record, uint32_t move, uint32_t done, const uint8_t* data, uint32_t size) {
  uint8_t head[kJournalHeadSize];
  WriteU32LE(head, move);
  WriteU32LE(head + 4, done);
  WriteU32LE(head + 8, size);
  WriteU32LE(head + 12, Crc(0, data, size));
  uint64_t at = record->progressAt + kJournalOffset;
  return WriteFar(*record->file, at, head, sizeof head) &&
         WriteFar(*record->file, at + kJournalHeadSize, data, size) && FlushFile(*record->file);
}

// Writes the record of a job that has not touched the archive yet and makes
// it durable.
int CreateRecord(const CompactionJob* job, Record* record) {
  uint64_t movesBytes = uint64_t(job->moveCount) * MOVE_RECORD_SIZE;
  uint64_t bodyLength = kFixedSize + movesBytes + job->dirBytes;
  if (bodyLength > 0xFFFFFFFFu) return 0;
  uint8_t fixed[kFixedSize];
  memset(fixed, 0, sizeof fixed);
  memcpy(fixed, kRecordMagic, sizeof kRecordMagic);
  WriteU32LE(fixed + kBodyLengthAt, uint32_t(bodyLength));
  memcpy(fixed + kOldHeaderAt, job->oldHeader, 12);
  memcpy(fixed + kNewWordsAt, job->newWords, 8);
  WriteU32LE(fixed + kDirOffsetAt, job->dirOffset);
  WriteU32LE(fixed + kDirBytesAt, job->dirBytes);
  WriteU64LE(fixed + kNewLengthAt, job->newLength);
  WriteU64LE(fixed + kStartLengthAt, job->startLength);
  WriteU32LE(fixed + kMoveCountAt, job->moveCount);
  WriteU32LE(fixed + kKindAt, job->kind);
  uint32_t crc = Crc(0, fixed + kBodyLengthAt, kFixedSize - kBodyLengthAt);
  crc = Crc(crc, job->moves, movesBytes);
  crc = Crc(crc, job->directory, job->dirBytes);
  WriteU32LE(fixed + kCrcAt, crc);
  record->bodyCrc = crc;
  record->progressAt = ProgressAt(bodyLength);

  record->file = record->fs->Open(record->name, OPEN_CREATE, false);
  if (!record->file) {
    ReportAccessError("\topen failed", record->fs->Error());
    return 0;
  }
  return WriteFar(*record->file, 0, fixed, sizeof fixed) &&
         WriteFar(*record->file, kFixedSize, job->moves, size_t(movesBytes)) &&
         WriteFar(*record->file, kFixedSize + movesBytes, job->directory, job->dirBytes) &&
         WriteProgress(record, 0, 0, PHASE_MOVING) && SyncFile(*record->file) &&
         SyncFolder(*record->fs, record->name);
}

// Moves every chunk from move `move`, `done` bytes into it, to the end of the
// plan. Stops at the first failure.
int RunMoves(const CompactionJob* job, Record* record, uint32_t move, uint32_t done) {
  for (; move < job->moveCount; ++move, done = 0) {
    uint32_t source, target, length;
    ReadMove(job, move, &source, &target, &length);
    int journaled;
    uint32_t chunk = ChunkFor(source - target, length, record != nullptr, &journaled);
    while (done < length) {
      uint32_t size = length - done < chunk ? length - done : chunk;
      if (!ReadFar(*job->archive, uint64_t(source) + done, job->buffer, size)) return 0;
      if (journaled && !WriteJournal(record, move, done, job->buffer, size)) return 0;
      if (!WriteFar(*job->archive, uint64_t(target) + done, job->buffer, size)) return 0;
      done += size;
      if (record && !(FlushFile(*job->archive) && WriteProgress(record, move, done, PHASE_MOVING)))
        return 0;
    }
  }
  return 1;
}

// Everything behind the moves: end marker and "moves done" (unless already
// recorded), directory, length, header words, sync, and the record removed.
// Write failures of the directory, length and header don't stop the others.
int FinishJob(const CompactionJob* job, Record* record, int movesRecorded) {
  if (record && !movesRecorded) {
    uint8_t marker[kMarkerSize];
    MakeMarker(job, record->bodyCrc, marker);
    if (!(WriteFar(*job->archive, MarkerAt(job), marker, sizeof marker) && SyncFile(*job->archive) &&
          WriteProgress(record, job->moveCount, 0, PHASE_MOVED) && SyncFile(*record->file)))
      return 0;
  }
  File& archive = *job->archive;
  int complete = WriteFar(archive, job->dirOffset, job->directory, job->dirBytes);
  if (!archive.SetLength(job->newLength)) {
    ReportAccessError("\twrite failed", archive.Error());
    complete = 0;
  }
  complete &= WriteFar(archive, 4, job->newWords, 4);
  complete &= WriteFar(archive, 8, job->newWords + 4, 4);
  complete &= SyncFile(archive);
  if (!complete || !record) return complete;

  CloseRecord(record);
  if (!record->fs->Remove(record->name) || !record->fs->SyncFolder(record->name))
    ReportAccessError("\tremove failed", record->fs->Error());
  return 1;
}

int MarkerPresent(const CompactionJob* job, uint32_t bodyCrc) {
  uint64_t at = MarkerAt(job);
  if (FileSize(*job->archive) != at + kMarkerSize) return 0;
  uint8_t expected[kMarkerSize], found[kMarkerSize];
  MakeMarker(job, bodyCrc, expected);
  return ReadFar(*job->archive, at, found, sizeof found) && memcmp(expected, found, kMarkerSize) == 0;
}

// The chunk a killed run may have been writing when its data sits in the
// journal: write it from there (its source may be half overwritten).
int ReplayJournal(const CompactionJob* job, Record* record, uint32_t move, uint32_t* done) {
  if (move >= job->moveCount) return 1;
  uint32_t source, target, length;
  ReadMove(job, move, &source, &target, &length);
  int journaled;
  ChunkFor(source - target, length, 1, &journaled);
  uint64_t at = record->progressAt + kJournalOffset;
  uint8_t head[kJournalHeadSize];
  if (!journaled || FileSize(*record->file) < at + kJournalHeadSize) return 1;
  if (!ReadFar(*record->file, at, head, sizeof head)) return 0;
  uint32_t size = ReadU32LE(head + 8);
  if (ReadU32LE(head) != move || ReadU32LE(head + 4) != *done || size == 0 ||
      size > MOVE_JOURNAL_CHUNK || size > length - *done)
    return 1;
  if (FileSize(*record->file) < at + kJournalHeadSize + size) return 1;
  if (!ReadFar(*record->file, at + kJournalHeadSize, job->buffer, size)) return 0;
  if (Crc(0, job->buffer, size) != ReadU32LE(head + 12)) return 1;
  if (!WriteFar(*job->archive, uint64_t(target) + *done, job->buffer, size) || !FlushFile(*job->archive)) return 0;
  *done += size;
  return WriteProgress(record, move, *done, PHASE_MOVING);
}

enum RecordState { RECORD_UNSTARTED, RECORD_USABLE, RECORD_BROKEN };

// Reads and checks the record; on RECORD_USABLE `*body` holds its body.
RecordState LoadRecord(File& file, uint8_t** body, uint32_t* bodyLength) {
  uint64_t recordLength = FileSize(file);
  uint8_t fixed[kFixedSize];
  if (recordLength < kFixedSize || !ReadFar(file, 0, fixed, kFixedSize)) return RECORD_UNSTARTED;
  if (memcmp(fixed, kRecordMagic, sizeof kRecordMagic) != 0) return RECORD_UNSTARTED;
  uint32_t length = ReadU32LE(fixed + kBodyLengthAt);
  if (length < kFixedSize || length > recordLength) return RECORD_UNSTARTED;
  uint8_t* block = static_cast<uint8_t*>(Allocate(length));
  if (!block) return RECORD_BROKEN;
  if (!ReadFar(file, 0, block, length) ||
      Crc(0, block + kBodyLengthAt, length - kBodyLengthAt) != ReadU32LE(block + kCrcAt)) {
    Release(block);
    return RECORD_UNSTARTED;  // the record was never synced: the archive is untouched
  }
  uint64_t moves = ReadU32LE(block + kMoveCountAt);
  if (kFixedSize + moves * MOVE_RECORD_SIZE + ReadU32LE(block + kDirBytesAt) != length) {
    Release(block);
    return RECORD_BROKEN;
  }
  *body = block;
  *bodyLength = length;
  return RECORD_USABLE;
}

// Finishes the job of a usable record. Returns 1 when the archive is complete.
int ResumeJob(FileSystem& fs, File& archive, const char* archiveName, Record* record, const uint8_t* body,
              uint32_t bodyLength) {
  CompactionJob job;
  memset(&job, 0, sizeof job);
  job.fs = &fs;
  job.archive = &archive;
  job.archiveName = archiveName;
  memcpy(job.oldHeader, body + kOldHeaderAt, 12);
  memcpy(job.newWords, body + kNewWordsAt, 8);
  job.dirOffset = ReadU32LE(body + kDirOffsetAt);
  job.dirBytes = ReadU32LE(body + kDirBytesAt);
  job.newLength = ReadU64LE(body + kNewLengthAt);
  job.startLength = ReadU64LE(body + kStartLengthAt);
  job.moveCount = ReadU32LE(body + kMoveCountAt);
  job.kind = ReadU32LE(body + kKindAt);
  job.moves = body + kFixedSize;
  job.directory = job.moves + uint64_t(job.moveCount) * MOVE_RECORD_SIZE;
  job.protect = 1;
  record->bodyCrc = ReadU32LE(body + kCrcAt);
  record->progressAt = ProgressAt(bodyLength);

  // The record must belong to this archive.
  uint8_t magic[4];
  if (!ReadFar(archive, 0, magic, 4) || memcmp(magic, job.oldHeader, 4) != 0) return 0;

  uint32_t move = 0, done = 0, phase = PHASE_MOVING;
  uint8_t progress[kProgressSize];
  bool progressWritten = FileSize(*record->file) >= record->progressAt + kProgressSize;
  if (progressWritten) {
    if (!ReadFar(*record->file, record->progressAt, progress, kProgressSize)) return 0;
    if (Crc(0, progress, 12) != ReadU32LE(progress + 12)) return 0;
    move = ReadU32LE(progress);
    done = ReadU32LE(progress + 4);
    phase = ReadU32LE(progress + 8);
  }
  int movesDone = phase == PHASE_MOVED || MarkerPresent(&job, record->bodyCrc);
  if (!movesDone) {
    if (FileSize(archive) != job.startLength || move > job.moveCount) return 0;
    // Progress at the end of a move is progress at the start of the next:
    // the journal names the chunk by the move it belongs to.
    for (; move < job.moveCount; ++move, done = 0) {
      uint32_t source, target, length;
      ReadMove(&job, move, &source, &target, &length);
      if (done > length) return 0;
      if (done < length) break;
    }
  }

  // Whatever the stopped run handed to the system becomes durable first. A
  // run stopped before its first progress entry gets one now, before the
  // journal behind it could be written over the empty place.
  if (!progressWritten && !WriteProgress(record, 0, 0, PHASE_MOVING)) return 0;
  if (!SyncFile(archive) || !SyncFile(*record->file)) return 0;

  uint32_t bufferSize = MoveBufferSize(job.moves, job.moveCount);
  if (bufferSize && !movesDone) {
    job.buffer = static_cast<uint8_t*>(Allocate(bufferSize));
    if (!job.buffer) {
      printf("Can't allocate %ul bytes\n", bufferSize);
      return 0;
    }
  }
  int finished = movesDone || (ReplayJournal(&job, record, move, &done) &&
                               RunMoves(&job, record, move, done));
  Release(job.buffer);
  return finished && FinishJob(&job, record, phase == PHASE_MOVED);
}

int Recover(FileSystem& fs, File& archive, const char* archiveName, const char* recordName) {
  Record record = {&fs, nullptr, recordName, 0, 0};
  record.file = fs.Open(recordName, OPEN_UPDATE, false);
  if (!record.file) {
    ReportAccessError("\topen failed", fs.Error());
    return 0;
  }
  uint8_t* body = nullptr;
  uint32_t bodyLength = 0;
  RecordState loaded = LoadRecord(*record.file, &body, &bodyLength);
  if (loaded == RECORD_UNSTARTED) {
    CloseRecord(&record);
    if (!fs.Remove(recordName) || !fs.SyncFolder(recordName)) {
      ReportAccessError("\tremove failed", fs.Error());
      return 0;
    }
    printf("Discarded the recovery record of %s: the interrupted %s had not begun\n", archiveName,
           JobName(JOB_DELETION));
    return 1;
  }
  int finished = loaded == RECORD_USABLE && ResumeJob(fs, archive, archiveName, &record, body, bodyLength);
  if (finished) printf("Finished the interrupted %s in %s\n", JobName(ReadU32LE(body + kKindAt)), archiveName);
  Release(body);
  CloseRecord(&record);
  return finished;
}

// The kind of job a record on disk holds, as far as it can be read.
uint32_t RecordedKind(FileSystem& fs, const char* recordName) {
  std::unique_ptr<File> file = fs.Open(recordName, OPEN_READ, false);
  uint8_t fixed[kFixedSize];
  if (!file || file->Read(fixed, kFixedSize) != kFixedSize) return JOB_DELETION;
  if (memcmp(fixed, kRecordMagic, sizeof kRecordMagic) != 0) return JOB_DELETION;
  return ReadU32LE(fixed + kKindAt);
}
}  // namespace

uint32_t MoveBufferSize(const uint8_t* moves, uint32_t moveCount) {
  uint32_t longest = 0;
  for (uint32_t i = 0; i < moveCount; ++i) {
    uint32_t length = ReadU32LE(moves + uint64_t(i) * MOVE_RECORD_SIZE + 8);
    if (length > longest) longest = length;
  }
  return longest < MOVE_CHUNK ? longest : MOVE_CHUNK;
}

int RunCompactionJob(CompactionJob* job) {
  if (!job->protect) {
    return RunMoves(job, nullptr, 0, 0) && FinishJob(job, nullptr, 0);
  }
  char* recordName = RecordName(job->archiveName);
  if (!recordName) {
    printf("Can't allocate %ul bytes\n", unsigned(strlen(job->archiveName) + sizeof RECOVERY_SUFFIX));
    return 0;
  }
  Record record = {job->fs, nullptr, recordName, 0, 0};
  if (!CreateRecord(job, &record)) {
    CloseRecord(&record);
    job->fs->Remove(recordName);
    printf("Can't create %s - archive left unchanged\n", recordName);
    Release(recordName);
    return 0;
  }
  int complete = RunMoves(job, &record, 0, 0) && FinishJob(job, &record, 0);
  CloseRecord(&record);
  Release(recordName);
  return complete;
}

int RecoverInterruptedCompaction(FileSystem& fs, File& archive, const char* archiveName, int canWrite) {
  char* recordName = RecordName(archiveName);
  if (!recordName) {
    printf("Can't allocate %ul bytes\n", unsigned(strlen(archiveName) + sizeof RECOVERY_SUFFIX));
    return -1;
  }
  int result = 0;
  if (fs.Exists(recordName)) {
    const char* job = JobName(RecordedKind(fs, recordName));
    if (!canWrite) {
      printf("\t%s: an interrupted %s is not finished - repeat the interrupted command to complete it\n",
             archiveName, job);
      result = -1;
    } else if (Recover(fs, archive, archiveName, recordName)) {
      result = 1;
    } else {
      printf("\t%s: the interrupted %s could not be finished\n", archiveName, job);
      result = -1;
    }
  }
  Release(recordName);
  archive.Seek(0);
  return result;
}
