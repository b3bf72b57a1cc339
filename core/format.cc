#include "core/format.h"

#include <cstdio>

#include "core/access.h"
#include "core/bytes.h"

void NameMember(Member* m, const uint8_t* field, uint32_t width) {
  CopyNameField(m->nameRoom, field, width);
  memcpy(m->storedRoom, m->nameRoom, width + 1);
  m->name = m->nameRoom;
  m->stored = m->storedRoom;
}

uint32_t ReadHeaderField(const ArchiverState& run, uint32_t width) {
  uint8_t bytes[4] = {0, 0, 0, 0};
  if (!ReadAt(bytes, 0, width, *run.archive)) return 0;
  return ReadU32LE(bytes);
}

uint32_t ReadHeaderFieldAt(const ArchiverState& run, uint64_t at, uint32_t width) {
  uint8_t bytes[4] = {0, 0, 0, 0};
  if (!ReadFar(*run.archive, at, bytes, width)) return 0;
  return ReadU32LE(bytes);
}

const char TABBED_HEADING[] = "\nname\tsize\tseek\n----------------------------------------\n";

void PrintTabbedRow(const Member& m) { printf("%s\t%d\t%08X\n", m.stored, int32_t(m.size), m.offset); }

bool PlaceDirectory(const ArchiverState& run, uint64_t at, uint64_t count, Layout* layout) {
  uint64_t bytes = count * layout->entrySize;  // count < 2^32, entrySize < 2^16: no overflow
  uint64_t end = at + bytes;
  layout->dirOffset = uint32_t(at);
  layout->dirSize = bytes > 0xFFFFFFFFu ? 0xFFFFFFFFu / layout->entrySize * layout->entrySize : uint32_t(bytes);
  if (bytes == 0 || (end <= run.archiveSize && end <= 0xFFFFFFFFu)) return true;
  ReportAccessError("\tread failed", END_OF_FILE_REASON);
  layout->unreadable = true;
  return false;
}
