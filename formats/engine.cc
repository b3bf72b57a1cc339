// The pieces of the update engine every style uses: entries read by the
// row, header words and directory blocks as written, the run's lines, and
// copying through one buffer (with zlib coding where the row asks for it:
// the stream is kept only where it comes out smaller than the file).
#include "formats/engine.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "core/access.h"
#include "core/bytes.h"
#include "core/memory.h"

const char CHANGED_WHILE_READ[] = "Changed while read";
const char CANT_READ[] = "Can't read";

namespace {
constexpr int kZlibLevel = 6;

uint32_t ReadField(const uint8_t* entry, uint32_t at) { return at == NO_FIELD ? 0 : ReadU32LE(entry + at); }

void PutNumber(uint8_t* to, uint32_t width, uint64_t value) {
  if (width == 2) WriteU16LE(to, uint32_t(value));
  if (width == 4) WriteU32LE(to, uint32_t(value));
}

// Reads exactly what is left of the input into `to` (want bytes); a short
// read is a file that changed, or one that can't be read.
bool ReadSource(File& source, uint8_t* to, size_t want, const char** reason) {
  size_t got = source.Read(to, want);
  if (got == want) return true;
  *reason = source.Error() == END_OF_FILE_REASON ? CHANGED_WHILE_READ : CANT_READ;
  return false;
}

// The source must end where it was named to end.
bool SourceEnds(File& source, const char** reason) {
  uint8_t more;
  if (source.Read(&more, 1) != 0) {
    *reason = CHANGED_WHILE_READ;
    return false;
  }
  if (source.Error() == END_OF_FILE_REASON) return true;
  *reason = CANT_READ;
  return false;
}

bool WriteOut(Target* t, const uint8_t* data, size_t size) {
  if (t->file->Write(data, size) == size) return true;
  ReportAccessError("\twrite failed", t->file->Error());
  return false;
}

enum DeflateResult { DEFLATED, NOT_SMALLER, DEFLATE_SOURCE_FAILED, DEFLATE_TARGET_FAILED, NO_DEFLATE };

// One zlib stream of the source at the target's position, written only
// while it stays smaller than the source. The buffer's halves take the
// source's chunks and the stream's.
DeflateResult Deflate(File& source, uint64_t size, Target* t, const Buffer& buffer, uint64_t* stored,
                      const char** reason) {
  z_stream z = {};
  if (deflateInit(&z, kZlibLevel) != Z_OK) return NO_DEFLATE;
  size_t half = buffer.size / 2;
  uint8_t* in = buffer.data;
  uint8_t* out = buffer.data + half;
  uint64_t left = size, total = 0;
  DeflateResult result = DEFLATED;
  int flush = Z_NO_FLUSH;
  while (result == DEFLATED && flush != Z_FINISH) {
    size_t want = left < half ? size_t(left) : half;
    if (!ReadSource(source, in, want, reason)) {
      result = DEFLATE_SOURCE_FAILED;
      break;
    }
    left -= want;
    flush = left ? Z_NO_FLUSH : Z_FINISH;
    z.next_in = in;
    z.avail_in = uInt(want);
    do {
      z.next_out = out;
      z.avail_out = uInt(half);
      deflate(&z, flush);
      size_t produced = half - z.avail_out;
      if (total + produced >= size) {
        result = NOT_SMALLER;
        break;
      }
      if (!WriteOut(t, out, produced)) {
        result = DEFLATE_TARGET_FAILED;
        break;
      }
      total += produced;
    } while (z.avail_out == 0);
  }
  deflateEnd(&z);
  if (result == DEFLATED && !SourceEnds(source, reason)) result = DEFLATE_SOURCE_FAILED;
  *stored = total;
  return result;
}
}  // namespace

uint64_t AlignUp(uint64_t at, uint32_t align) { return align <= 1 ? at : (at + align - 1) / align * align; }

std::string WithSuffix(const char* name, const char* suffix) { return std::string(name) + suffix; }

uint32_t StoredBytes(const WriteRow& row, const uint8_t* entry) {
  uint32_t packed = ReadField(entry, row.entry.packedAt);
  return packed ? packed : ReadField(entry, row.entry.sizeAt);
}

std::vector<uint64_t> DataOffsets(const WriteRow& row, const uint8_t* directory, uint32_t count) {
  std::vector<uint64_t> offsets(count);
  bool chain = row.place == TABLE_CHAIN;
  uint64_t at = chain ? row.headerSize : row.tableAt + uint64_t(count) * row.entry.size;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* entry = EntryAt(row, directory, i);
    if (row.entry.offsetAt != NO_FIELD) {
      offsets[i] = ReadU32LE(entry + row.entry.offsetAt);
      continue;
    }
    if (chain) at += row.entry.size;
    offsets[i] = at;
    at += StoredBytes(row, entry);
  }
  return offsets;
}

// Offsets are 32-bit, so data reaching past 4 GiB can't be addressed either.
int DataInside(const WriteRow& row, const uint8_t* directory, uint32_t count, uint64_t fileSize) {
  std::vector<uint64_t> offsets = DataOffsets(row, directory, count);
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* entry = EntryAt(row, directory, i);
    uint32_t size = StoredBytes(row, entry);
    uint64_t end = offsets[i] + size;
    if (!size || (end <= fileSize && end <= 0xFFFFFFFFu)) continue;
    printf("\t--- read error --- %s: data beyond the end of the archive, archive left unchanged\n",
           StoredName(row.entry, entry).c_str());
    return 0;
  }
  return 1;
}

uint64_t LowestData(const WriteRow& row, const uint8_t* directory, uint32_t count, uint64_t none) {
  uint64_t lowest = none;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* entry = EntryAt(row, directory, i);
    if (StoredBytes(row, entry)) lowest = std::min<uint64_t>(lowest, ReadU32LE(entry + row.entry.offsetAt));
  }
  return lowest;
}

uint64_t FrontDataStart(const WriteRow& row, const uint8_t* directory, uint32_t count) {
  uint64_t tableEnd = row.tableAt + uint64_t(count) * row.entry.size;
  if (!row.keepsRoom) return tableEnd;
  uint64_t roomEnd = row.tableAt + uint64_t(row.newRoom) * row.entry.size;
  return std::max(tableEnd, std::min(LowestData(row, directory, count, roomEnd), roomEnd));
}

std::vector<uint8_t> HeaderWords(const WriteRow& row, uint64_t offset, uint64_t bytes, uint32_t count,
                                 uint32_t* at) {
  uint32_t from = UINT32_MAX, to = 0;
  for (const CommitWord& w : row.words) {
    if (!w.width) continue;
    from = std::min(from, w.at);
    to = std::max(to, w.at + w.width);
  }
  std::vector<uint8_t> out(from < to ? to - from : 0);
  for (const CommitWord& w : row.words) {
    if (!w.width) continue;
    uint64_t value = w.meaning == WORD_DIRECTORY_OFFSET ? offset : w.meaning == WORD_DIRECTORY_BYTES ? bytes : count;
    PutNumber(&out[w.at - from], w.width, value);
  }
  *at = from < to ? from : 0;
  return out;
}

std::vector<uint8_t> DirectoryBlock(const WriteRow& row, const std::vector<uint8_t>& entries, uint32_t count,
                                    uint64_t offset, const uint8_t* header, uint32_t variant) {
  std::vector<uint8_t> block(row.countLeadsDirectory ? 4 : 0);
  if (row.countLeadsDirectory) WriteU32LE(block.data(), count);
  block.insert(block.end(), entries.begin(), entries.end());
  if (row.transformDirectory) row.transformDirectory(block.data(), block.size(), uint32_t(offset), header, variant);
  return block;
}

void PlaceEntry(const WriteRow& row, uint8_t* entry, uint64_t at, uint32_t size, uint32_t packedSize) {
  if (row.entry.offsetAt != NO_FIELD) WriteU32LE(entry + row.entry.offsetAt, uint32_t(at));
  if (row.setSizes) return row.setSizes(entry, size, packedSize);
  WriteU32LE(entry + row.entry.sizeAt, size);
  if (row.entry.packedAt != NO_FIELD) WriteU32LE(entry + row.entry.packedAt, packedSize);
}

std::vector<uint8_t> NewDirectory(const WriteRow& row, const uint8_t* directory, uint32_t count,
                                  const UpdatePlan& plan, const Stored& stored, uint32_t* newCount) {
  const uint32_t entrySize = row.entry.size;
  std::vector<int64_t> replacedBy(count, -1);
  std::vector<bool> groupStored;
  for (size_t j = 0; j < plan.puts.size(); ++j) {
    if (stored.placedAt[j] == UINT64_MAX) continue;
    const Put& put = plan.puts[j];
    if (put.replaces >= 0) replacedBy[size_t(put.replaces)] = int64_t(j);
    if (put.group >= 0) {
      if (groupStored.size() <= size_t(put.group)) groupStored.resize(size_t(put.group) + 1);
      groupStored[size_t(put.group)] = true;
    }
  }
  std::vector<uint8_t> out;
  out.reserve(plan.order.size() * entrySize);
  *newCount = 0;
  for (const Slot& slot : plan.order) {
    size_t at = out.size();
    int64_t put = -1;
    if (slot.kind == Slot::OLD) {
      put = replacedBy[slot.index];
      const std::vector<uint8_t>* changed = put >= 0 ? &plan.puts[size_t(put)].entry : nullptr;
      if (changed && !changed->empty())
        out.insert(out.end(), changed->begin(), changed->end());
      else
        out.insert(out.end(), EntryAt(row, directory, slot.index), EntryAt(row, directory, slot.index + 1));
      bool moved = !stored.movedTo.empty() && stored.movedTo[slot.index] != UINT64_MAX;
      if (put < 0 && moved && row.entry.offsetAt != NO_FIELD)
        WriteU32LE(&out[at + row.entry.offsetAt], uint32_t(stored.movedTo[slot.index]));
    } else if (slot.kind == Slot::PUT) {
      put = slot.index;
      if (stored.placedAt[slot.index] == UINT64_MAX) continue;
      out.insert(out.end(), plan.puts[slot.index].entry.begin(), plan.puts[slot.index].entry.end());
    } else {
      int32_t group = plan.fixedGroup[slot.index];
      if (group >= 0 && (size_t(group) >= groupStored.size() || !groupStored[size_t(group)])) continue;
      out.insert(out.end(), plan.fixed[slot.index].begin(), plan.fixed[slot.index].end());
    }
    ++*newCount;
    if (put < 0) continue;
    size_t j = size_t(put);
    PlaceEntry(row, &out[at], stored.placedAt[j], stored.sizes[j], stored.packed[j]);
  }
  return out;
}

void PrintStored(const WriteRow& row, const Put& put) {
  std::string name = put.shown;
  if (name.empty() && !put.entry.empty()) {
    const char* field = reinterpret_cast<const char*>(put.entry.data() + row.entry.nameAt);
    name.assign(field, strnlen(field, row.entry.nameWidth));
  }
  printf("%s %s%s\n", put.replaces >= 0 ? "Replacing" : "Adding", name.c_str(), put.note.c_str());
}

void PrintRefused(const char* reason, const AddInput& input) { printf("%s %s - skipped\n", reason, input.path.c_str()); }

void PrintFailed(const ArchiverState& run) {
  printf("\t%s: the update failed - the archive is as it was\n", run.archiveName);
}

CopyResult CopyInput(FileSystem& fs, const AddInput& input, DataCoding coding, Target* t, const Buffer& buffer,
                     uint64_t* stored, bool* coded, const char** reason) {
  std::unique_ptr<File> source = fs.Open(input.path.c_str(), OPEN_READ, false);
  *reason = CANT_READ;
  *stored = 0;
  *coded = false;
  if (!source) return SOURCE_FAILED;
  // A seek costs system calls (the stream refills its buffer), so it is
  // made only after a failed copy left the position elsewhere.
  if (t->moved && !t->file->Seek(t->at)) {
    ReportAccessError("\tseek failed", t->file->Error());
    return TARGET_FAILED;
  }
  t->moved = true;
  if (coding == DATA_ZLIB_IF_SMALLER && input.size) {
    DeflateResult deflated = Deflate(*source, input.size, t, buffer, stored, reason);
    if (deflated == DEFLATE_SOURCE_FAILED) return SOURCE_FAILED;
    if (deflated == DEFLATE_TARGET_FAILED) return TARGET_FAILED;
    if (deflated == DEFLATED) {
      *coded = true;
      t->moved = false;
      return COPIED;
    }
    // Not smaller: the file as it is, over what was written of the stream.
    *stored = 0;
    if (!source->Seek(0)) return SOURCE_FAILED;
    if (!t->file->Seek(t->at)) {
      ReportAccessError("\tseek failed", t->file->Error());
      return TARGET_FAILED;
    }
  }
  uint64_t left = input.size;
  while (left) {
    size_t want = left < buffer.size ? size_t(left) : buffer.size;
    if (!ReadSource(*source, buffer.data, want, reason)) return SOURCE_FAILED;
    if (!WriteOut(t, buffer.data, want)) return TARGET_FAILED;
    left -= want;
  }
  if (!SourceEnds(*source, reason)) return SOURCE_FAILED;
  *stored = input.size;
  t->moved = false;
  return COPIED;
}

bool CopyWithin(File& archive, uint64_t from, uint64_t length, Target* t, const Buffer& buffer) {
  bool same = &archive == t->file;
  if (!same && t->moved && !t->file->Seek(t->at)) {
    ReportAccessError("\tseek failed", t->file->Error());
    return false;
  }
  t->moved = same;
  for (uint64_t done = 0; done < length;) {
    size_t want = length - done < buffer.size ? size_t(length - done) : buffer.size;
    if (!ReadFar(archive, from + done, buffer.data, want)) return false;
    bool written = same ? WriteFar(*t->file, t->at + done, buffer.data, want) : WriteOut(t, buffer.data, want);
    if (!written) return false;
    done += want;
  }
  return true;
}

bool PadTo(Target* t, uint32_t align) {
  static const uint8_t kZeros[16] = {};
  uint64_t to = AlignUp(t->at, align);
  if (to == t->at) return true;
  if (to - t->at > sizeof kZeros || !WriteFar(*t->file, t->at, kZeros, size_t(to - t->at))) return false;
  t->at = to;
  return true;
}

bool CopyInputs(const ArchiverState& run, const WriteRow& row, const UpdatePlan& plan,
                const std::vector<AddInput>& inputs, Target* t, const Buffer& buffer, Stored* stored,
                UpdateResult* result) {
  for (size_t i = 0; i < inputs.size(); ++i) {
    const Put& put = plan.puts[i];
    if (put.refusal) {
      PrintRefused(put.refusal, inputs[i]);
      ++result->refused;
      continue;
    }
    const char* reason = nullptr;
    uint64_t bytes = 0;
    bool coded = false;
    CopyResult copied = CopyInput(*run.fs, inputs[i], row.coding, t, buffer, &bytes, &coded, &reason);
    if (copied == TARGET_FAILED) return false;
    if (copied == SOURCE_FAILED) {
      PrintRefused(reason, inputs[i]);
      ++result->refused;
      continue;
    }
    stored->placedAt[i] = t->at;
    stored->sizes[i] = uint32_t(inputs[i].size);
    stored->packed[i] = coded ? uint32_t(bytes) : 0;
    t->at += bytes;
    if (!PadTo(t, row.dataAlign)) return false;
    PrintStored(row, put);
    result->storedInputs.push_back(i);
  }
  return true;
}

bool MakeBuffer(uint64_t largest, Buffer* buffer) {
  constexpr uint64_t kCopyChunk = 1u << 20;
  buffer->size = size_t(std::min<uint64_t>(std::max<uint64_t>(largest, 16), kCopyChunk));
  buffer->data = static_cast<uint8_t*>(Allocate(buffer->size));
  if (buffer->data) return true;
  printf("Can't allocate %ul bytes\n", unsigned(buffer->size));
  return false;
}

std::unique_ptr<File> OpenNewFile(FileSystem& fs, const std::string& name) {
  fs.Remove(name.c_str());  // left by a run that was killed
  std::unique_ptr<File> file = fs.Open(name.c_str(), OPEN_CREATE_NEW, true);
  if (!file) ReportAccessError("\topen failed", fs.Error());
  return file;
}

bool PutNewFile(const ArchiverState& run, File& file, const std::string& name, bool replacing) {
  FileSystem& fs = *run.fs;
  bool ready = SyncFile(file) && file.Close();
  if (ready && replacing) {
    run.archive->Close();
    if (!fs.KeepPermissions(run.archiveName, name.c_str())) {
      ReportAccessError("\twrite failed", fs.Error());
      ready = false;
    }
  }
  if (ready && !fs.Rename(name.c_str(), run.archiveName)) {
    ReportAccessError("\trename failed", fs.Error());
    ready = false;
  }
  if (!ready) {
    file.Close();
    fs.Remove(name.c_str());
    return false;
  }
  if (fs.SyncFolder(run.archiveName)) return true;
  ReportAccessError("\twrite failed", fs.Error());
  if (replacing) return true;   // the archive is the new one, not known to be durable
  fs.Remove(run.archiveName);  // not known to be durable: not there at all
  return false;
}

uint64_t DeadSpace(const WriteRow& row, const uint8_t* directory, uint32_t count, uint64_t length, uint64_t base,
                   uint64_t live) {
  std::vector<uint64_t> offsets = DataOffsets(row, directory, count);
  std::vector<std::pair<uint64_t, uint64_t>> ranges;
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t size = StoredBytes(row, EntryAt(row, directory, i));
    if (size && offsets[i] + size > base) ranges.push_back({std::max(offsets[i], base), offsets[i] + size});
  }
  std::sort(ranges.begin(), ranges.end());
  uint64_t reach = 0;
  for (const auto& r : ranges) {
    uint64_t from = std::max(r.first, reach);
    if (r.second > from) live += r.second - from;
    reach = std::max(reach, r.second);
  }
  return length > live ? length - live : 0;
}
