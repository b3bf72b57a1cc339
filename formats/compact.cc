// Placeholder: compaction lands with deletion.
#include "formats/compact.h"

#include "cli/state.h"

int CompactArchive(uint8_t*, uint32_t, const CompactFormat*) {
  state.compactFailed = 1;
  return 0;
}

uint32_t RemoveEntries(uint8_t*, uint32_t count, uint32_t, const uint8_t*) { return count; }
