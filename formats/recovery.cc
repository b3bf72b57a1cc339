// Crash-safe execution of a job and recovery of an interrupted one. The
// layout of the recovery record is drawn in recovery.h.
//
// Order of a protected job:
//   1. the record (the job, progress 0) is written and synced, and so is the
//      folder that holds it; a record held for the archive is replaced: the
//      new one is written as "<record>.vrex-new", synced, renamed over it and
//      the folder synced. The archive is not touched before;
//   2. the moves run in offset order, chunk by chunk; after each chunk the
//      archive's bytes are handed to the system before the progress entry
//      is rewritten, so a killed run never leaves progress ahead of the data.
//      A chunk never overwrites its own source unless its data sits in the
//      journal first, so the chunk after the recorded progress can always be
//      redone;
//   3. with moves, the end marker is written behind the data and the archive
//      synced; the progress phase becomes "moves done" and the record is
//      synced;
//   4. the final writes and the new length are written, the archive synced;
//   5. the record is removed and its folder synced.
// A power cut that drops every write since the last sync finds either the
// archive untouched with progress 0, or the moves durable together with the
// end marker; a kill finds the progress of the last finished chunk. The
// final writes are redone whole by a recovery.
#include "formats/recovery.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "core/access.h"
#include "core/bytes.h"
#include "core/file.h"
#include "core/memory.h"
#include "formats/update.h"

const char RECOVERY_SUFFIX[] = ".vrex-recovery";

namespace {
const uint8_t kMagicV1[8] = {'V', 'R', 'E', 'X', 'R', 'E', 'C', '1'};
const uint8_t kMagicV2[8] = {'V', 'R', 'E', 'X', 'R', 'E', 'C', '2'};
constexpr uint32_t kMagicSize = 8;
constexpr uint32_t kCrcAt = 8;
constexpr uint32_t kBodyLengthAt = 12;
constexpr uint32_t kFixedSize = 68;  // of both versions

// Version 2.
constexpr uint32_t kKindAt = 16;
constexpr uint32_t kStartLengthAt = 20;
constexpr uint32_t kNewLengthAt = 28;
constexpr uint32_t kMoveCountAt = 36;
constexpr uint32_t kWriteCountAt = 40;
constexpr uint32_t kCheckAtAt = 44;
constexpr uint32_t kCheckLengthAt = 48;
constexpr uint32_t kCheckBytesAt = 52;
constexpr uint32_t kWriteRecordSize = 12;
constexpr uint32_t kCheckLimit = 16;

// Version 1.
constexpr uint32_t kV1OldHeaderAt = 16;
constexpr uint32_t kV1NewWordsAt = 28;
constexpr uint32_t kV1DirOffsetAt = 36;
constexpr uint32_t kV1DirBytesAt = 40;
constexpr uint32_t kV1NewLengthAt = 44;
constexpr uint32_t kV1StartLengthAt = 52;
constexpr uint32_t kV1MoveCountAt = 60;
constexpr uint32_t kV1KindAt = 64;
constexpr uint32_t kV1MagicSize = 4;  // the archive's magic, its check

constexpr uint32_t kProgressSize = 16;
constexpr uint32_t kJournalOffset = 64;  // from the progress entry
constexpr uint32_t kJournalHeadSize = 16;
constexpr uint32_t kMarkerSize = 16;

enum { PHASE_MOVING = 0, PHASE_MOVED = 1 };

const char* JobName(uint32_t kind) { return kind == JOB_DELETION ? "deletion" : "update"; }

// Archive bytes the job never writes: the record belongs to the archive
// that holds them.
struct Check {
  uint32_t at = 0;
  uint32_t length = 0;
  uint8_t bytes[kCheckLimit] = {};
};

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

std::string RecordName(const char* archiveName) { return std::string(archiveName) + RECOVERY_SUFFIX; }

uint64_t ProgressAt(uint64_t bodyLength) { return (bodyLength + 63) & ~uint64_t(63); }

uint64_t MarkerAt(const ArchiveJob* job) { return std::max(job->startLength, job->newLength); }

void MakeMarker(const ArchiveJob* job, uint32_t bodyCrc, uint8_t* marker) {
  memcpy(marker, "VRXM", 4);
  WriteU32LE(marker + 4, bodyCrc);
  WriteU32LE(marker + 8, uint32_t(job->startLength));
  memcpy(marker + 12, "DONE", 4);
}

void ReadMove(const ArchiveJob* job, uint32_t index, uint32_t* source, uint32_t* target, uint32_t* length) {
  const uint8_t* m = job->moves + uint64_t(index) * MOVE_RECORD_SIZE;
  *source = ReadU32LE(m);
  *target = ReadU32LE(m + 4);
  *length = ReadU32LE(m + 8);
}

// The first archive bytes below both lengths that neither a move nor a final
// write touches, up to kCheckLimit of them (none when the job writes all).
Check ChooseCheck(const ArchiveJob& job) {
  std::vector<std::pair<uint64_t, uint64_t>> written;
  for (uint32_t i = 0; i < job.moveCount; ++i) {
    uint32_t source, target, length;
    ReadMove(&job, i, &source, &target, &length);
    written.push_back({target, uint64_t(target) + length});
  }
  for (const FinalWrite& w : job.writes) written.push_back({w.at, w.at + w.length});
  std::sort(written.begin(), written.end());
  uint64_t at = 0, end = std::min(job.startLength, job.newLength);
  for (const auto& range : written) {
    if (range.first > at) {
      end = std::min(end, range.first);
      break;
    }
    at = std::max(at, range.second);
  }
  Check check;
  if (at < end && at <= 0xFFFFFFFFu) {
    check.at = uint32_t(at);
    check.length = uint32_t(std::min<uint64_t>(kCheckLimit, end - at));
  }
  return check;
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

// Writes the version 2 record of a job that has not touched the archive
// yet under `name` and makes it durable (the folder too).
int CreateRecord(const ArchiveJob* job, const Check& check, Record* record, const char* name) {
  uint64_t movesBytes = uint64_t(job->moveCount) * MOVE_RECORD_SIZE;
  std::vector<uint8_t> lists(size_t(job->writes.size()) * kWriteRecordSize);
  uint64_t bodyLength = kFixedSize + movesBytes + lists.size();
  for (size_t i = 0; i < job->writes.size(); ++i) {
    WriteU64LE(&lists[i * kWriteRecordSize], job->writes[i].at);
    WriteU32LE(&lists[i * kWriteRecordSize + 8], job->writes[i].length);
    bodyLength += job->writes[i].length;
  }
  if (bodyLength > 0xFFFFFFFFu) return 0;
  uint8_t fixed[kFixedSize] = {};
  memcpy(fixed, kMagicV2, kMagicSize);
  WriteU32LE(fixed + kBodyLengthAt, uint32_t(bodyLength));
  WriteU32LE(fixed + kKindAt, job->kind);
  WriteU64LE(fixed + kStartLengthAt, job->startLength);
  WriteU64LE(fixed + kNewLengthAt, job->newLength);
  WriteU32LE(fixed + kMoveCountAt, job->moveCount);
  WriteU32LE(fixed + kWriteCountAt, uint32_t(job->writes.size()));
  WriteU32LE(fixed + kCheckAtAt, check.at);
  WriteU32LE(fixed + kCheckLengthAt, check.length);
  memcpy(fixed + kCheckBytesAt, check.bytes, kCheckLimit);
  uint32_t crc = Crc(0, fixed + kBodyLengthAt, kFixedSize - kBodyLengthAt);
  crc = Crc(crc, job->moves, movesBytes);
  crc = Crc(crc, lists.data(), lists.size());
  for (const FinalWrite& w : job->writes) crc = Crc(crc, w.bytes, w.length);
  WriteU32LE(fixed + kCrcAt, crc);
  record->bodyCrc = crc;
  record->progressAt = ProgressAt(bodyLength);

  record->file = record->fs->Open(name, OPEN_CREATE, false);
  if (!record->file) {
    ReportAccessError("\topen failed", record->fs->Error());
    return 0;
  }
  File& file = *record->file;
  if (!WriteFar(file, 0, fixed, sizeof fixed) || !WriteFar(file, kFixedSize, job->moves, size_t(movesBytes)) ||
      !WriteFar(file, kFixedSize + movesBytes, lists.data(), lists.size()))
    return 0;
  uint64_t at = kFixedSize + movesBytes + lists.size();
  for (const FinalWrite& w : job->writes) {
    if (!WriteFar(file, at, w.bytes, w.length)) return 0;
    at += w.length;
  }
  return WriteProgress(record, 0, 0, PHASE_MOVING) && SyncFile(file) && SyncFolder(*record->fs, name);
}

// Moves every chunk from move `move`, `done` bytes into it, to the end of the
// plan. Stops at the first failure.
int RunMoves(const ArchiveJob* job, Record* record, uint32_t move, uint32_t done) {
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

// Everything behind the moves: end marker and "moves done" (for a job with
// moves, unless already recorded), the final writes, the length, sync, and
// the record removed. Write failures of the final writes and the length
// don't stop the others.
int FinishJob(const ArchiveJob* job, Record* record, int movesRecorded) {
  if (record && job->moveCount && !movesRecorded) {
    uint8_t marker[kMarkerSize];
    MakeMarker(job, record->bodyCrc, marker);
    if (!(WriteFar(*job->archive, MarkerAt(job), marker, sizeof marker) && SyncFile(*job->archive) &&
          WriteProgress(record, job->moveCount, 0, PHASE_MOVED) && SyncFile(*record->file)))
      return 0;
  }
  File& archive = *job->archive;
  int complete = 1;
  for (const FinalWrite& w : job->writes) complete &= WriteFar(archive, w.at, w.bytes, w.length);
  if (!archive.SetLength(job->newLength)) {
    ReportAccessError("\twrite failed", archive.Error());
    complete = 0;
  }
  complete &= SyncFile(archive);
  if (!complete || !record) return complete;

  CloseRecord(record);
  if (!record->fs->Remove(record->name) || !record->fs->SyncFolder(record->name))
    ReportAccessError("\tremove failed", record->fs->Error());
  return 1;
}

int MarkerPresent(const ArchiveJob* job, uint32_t bodyCrc) {
  uint64_t at = MarkerAt(job);
  if (FileSize(*job->archive) != at + kMarkerSize) return 0;
  uint8_t expected[kMarkerSize], found[kMarkerSize];
  MakeMarker(job, bodyCrc, expected);
  return ReadFar(*job->archive, at, found, sizeof found) && memcmp(expected, found, kMarkerSize) == 0;
}

// The chunk a killed run may have been writing when its data sits in the
// journal: write it from there (its source may be half overwritten).
int ReplayJournal(const ArchiveJob* job, Record* record, uint32_t move, uint32_t* done) {
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

// Reads and checks the record of either version; on RECORD_USABLE `*body`
// holds its body.
RecordState LoadRecord(File& file, uint8_t** body, uint32_t* bodyLength) {
  uint64_t recordLength = FileSize(file);
  uint8_t fixed[kFixedSize];
  if (recordLength < kFixedSize || !ReadFar(file, 0, fixed, kFixedSize)) return RECORD_UNSTARTED;
  bool v1 = memcmp(fixed, kMagicV1, kMagicSize) == 0;
  if (!v1 && memcmp(fixed, kMagicV2, kMagicSize) != 0) return RECORD_UNSTARTED;
  uint32_t length = ReadU32LE(fixed + kBodyLengthAt);
  if (length < kFixedSize || length > recordLength) return RECORD_UNSTARTED;
  uint8_t* block = static_cast<uint8_t*>(Allocate(length));
  if (!block) return RECORD_BROKEN;
  if (!ReadFar(file, 0, block, length) ||
      Crc(0, block + kBodyLengthAt, length - kBodyLengthAt) != ReadU32LE(block + kCrcAt)) {
    Release(block);
    return RECORD_UNSTARTED;  // the record was never synced: the archive is untouched
  }
  *body = block;
  *bodyLength = length;
  return RECORD_USABLE;
}

// The job a checked body holds; false when its parts don't add up.
bool ParseJob(const uint8_t* body, uint32_t length, ArchiveJob* job, Check* check) {
  if (memcmp(body, kMagicV1, kMagicSize) == 0) {
    job->kind = ReadU32LE(body + kV1KindAt);
    job->startLength = ReadU64LE(body + kV1StartLengthAt);
    job->newLength = ReadU64LE(body + kV1NewLengthAt);
    job->moveCount = ReadU32LE(body + kV1MoveCountAt);
    job->moves = body + kFixedSize;
    uint64_t dirBytes = ReadU32LE(body + kV1DirBytesAt);
    if (kFixedSize + uint64_t(job->moveCount) * MOVE_RECORD_SIZE + dirBytes != length) return false;
    const uint8_t* directory = job->moves + uint64_t(job->moveCount) * MOVE_RECORD_SIZE;
    job->writes = {{ReadU32LE(body + kV1DirOffsetAt), directory, uint32_t(dirBytes)},
                   {4, body + kV1NewWordsAt, 4},
                   {8, body + kV1NewWordsAt + 4, 4}};
    check->at = 0;
    check->length = kV1MagicSize;
    memcpy(check->bytes, body + kV1OldHeaderAt, kV1MagicSize);
    return true;
  }
  job->kind = ReadU32LE(body + kKindAt);
  job->startLength = ReadU64LE(body + kStartLengthAt);
  job->newLength = ReadU64LE(body + kNewLengthAt);
  job->moveCount = ReadU32LE(body + kMoveCountAt);
  uint64_t writeCount = ReadU32LE(body + kWriteCountAt);
  check->at = ReadU32LE(body + kCheckAtAt);
  check->length = ReadU32LE(body + kCheckLengthAt);
  if (check->length > kCheckLimit) return false;
  memcpy(check->bytes, body + kCheckBytesAt, kCheckLimit);
  uint64_t at = kFixedSize + uint64_t(job->moveCount) * MOVE_RECORD_SIZE;
  uint64_t data = at + writeCount * kWriteRecordSize;
  if (data > length) return false;
  job->moves = body + kFixedSize;
  for (uint64_t i = 0; i < writeCount; ++i, at += kWriteRecordSize) {
    uint32_t size = ReadU32LE(body + at + 8);
    if (data + size > length) return false;
    job->writes.push_back({ReadU64LE(body + at), body + data, size});
    data += size;
  }
  return data == length;
}

// Whether the archive holds the bytes the job never writes.
bool Belongs(File& archive, const Check& check) {
  uint8_t found[kCheckLimit];
  if (check.length == 0) return true;
  return ReadFar(archive, check.at, found, check.length) && memcmp(found, check.bytes, check.length) == 0;
}

// Finishes the job of a usable record. Returns 1 when the archive is complete.
int ResumeJob(FileSystem& fs, File& archive, const char* archiveName, Record* record, const uint8_t* body,
              uint32_t bodyLength) {
  ArchiveJob job;
  Check check;
  job.fs = &fs;
  job.archive = &archive;
  job.archiveName = archiveName;
  if (!ParseJob(body, bodyLength, &job, &check) || !Belongs(archive, check)) return 0;
  record->bodyCrc = ReadU32LE(body + kCrcAt);
  record->progressAt = ProgressAt(bodyLength);

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
  int movesDone = job.moveCount == 0 || phase == PHASE_MOVED || MarkerPresent(&job, record->bodyCrc);
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

// The kind of job a record's first bytes name (a deletion when they can't).
uint32_t KindOf(const uint8_t* fixed) {
  if (memcmp(fixed, kMagicV1, kMagicSize) == 0) return ReadU32LE(fixed + kV1KindAt);
  if (memcmp(fixed, kMagicV2, kMagicSize) == 0) return ReadU32LE(fixed + kKindAt);
  return JOB_DELETION;
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
  uint32_t kind = finished ? KindOf(body) : JOB_DELETION;
  if (finished && kind == JOB_UNDONE)
    printf("Cut back %s: the interrupted update had not been committed\n", archiveName);
  else if (finished)
    printf("Finished the interrupted %s in %s\n", JobName(kind), archiveName);
  Release(body);
  CloseRecord(&record);
  return finished;
}

// The kind of job a record on disk holds, as far as it can be read.
uint32_t RecordedKind(FileSystem& fs, const char* recordName) {
  std::unique_ptr<File> file = fs.Open(recordName, OPEN_READ, false);
  uint8_t fixed[kFixedSize];
  if (!file || file->Read(fixed, kFixedSize) != kFixedSize) return JOB_DELETION;
  return KindOf(fixed);
}

// The record of a job, written under the record's name, or replacing a held
// one there.
int PutRecord(const ArchiveJob* job, Record* record) {
  Check check = ChooseCheck(*job);
  if (check.length && !ReadFar(*job->archive, check.at, check.bytes, check.length)) return 0;
  if (!record->fs->Exists(record->name)) return CreateRecord(job, check, record, record->name);
  std::string staged = std::string(record->name) + NEW_ARCHIVE_SUFFIX;
  record->fs->Remove(staged.c_str());  // left by a run that was killed
  if (!CreateRecord(job, check, record, staged.c_str())) {
    CloseRecord(record);
    record->fs->Remove(staged.c_str());
    return 0;
  }
  // Windows renames no file that is open: the record is opened again.
  CloseRecord(record);
  if (!record->fs->Rename(staged.c_str(), record->name)) {
    ReportAccessError("\trename failed", record->fs->Error());
    record->fs->Remove(staged.c_str());
    return 0;
  }
  record->file = record->fs->Open(record->name, OPEN_UPDATE, false);
  if (!record->file) ReportAccessError("\topen failed", record->fs->Error());
  return record->file && SyncFolder(*record->fs, record->name);
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

int RunArchiveJob(ArchiveJob* job) {
  if (!job->protect) return RunMoves(job, nullptr, 0, 0) && FinishJob(job, nullptr, 0) ? 1 : -1;
  std::string name = RecordName(job->archiveName);
  Record record = {job->fs, nullptr, name.c_str(), 0, 0};
  bool held = job->fs->Exists(name.c_str());
  if (!PutRecord(job, &record)) {
    CloseRecord(&record);
    if (!held) job->fs->Remove(name.c_str());
    printf("Can't create %s - archive left unchanged\n", name.c_str());
    return 0;
  }
  int complete = RunMoves(job, &record, 0, 0) && FinishJob(job, &record, 0);
  CloseRecord(&record);
  return complete ? 1 : -1;
}

int HoldArchiveJob(const ArchiveJob& job) {
  std::string name = RecordName(job.archiveName);
  Record record = {job.fs, nullptr, name.c_str(), 0, 0};
  int held = PutRecord(&job, &record);
  CloseRecord(&record);
  if (held) return 1;
  job.fs->Remove(name.c_str());
  printf("Can't create %s - archive left unchanged\n", name.c_str());
  return 0;
}

int DropHeldJob(FileSystem& fs, const char* archiveName) {
  std::string name = RecordName(archiveName);
  if (fs.Remove(name.c_str()) && fs.SyncFolder(name.c_str())) return 1;
  ReportAccessError("\tremove failed", fs.Error());
  return 0;
}

int RecoverInterruptedJob(FileSystem& fs, File& archive, const char* archiveName, int canWrite) {
  std::string recordName = RecordName(archiveName);
  int result = 0;
  if (fs.Exists(recordName.c_str())) {
    const char* job = JobName(RecordedKind(fs, recordName.c_str()));
    if (!canWrite) {
      printf("\t%s: an interrupted %s is not finished - repeat the interrupted command to complete it\n",
             archiveName, job);
      result = -1;
    } else if (Recover(fs, archive, archiveName, recordName.c_str())) {
      fs.Remove((recordName + NEW_ARCHIVE_SUFFIX).c_str());  // a record being replaced when the run stopped
      result = 1;
    } else {
      printf("\t%s: the interrupted %s could not be finished\n", archiveName, job);
      result = -1;
    }
  }
  archive.Seek(0);
  return result;
}
