// A faulty module for the host's checks: its GetArcItem writes one byte
// between the size and name fields of the item record.
#include <cstdint>
#include <cstring>

#include "common/item_record.h"
#include "common/tags.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

EXPORT int32_t IsArchive(const char*, const uint8_t*, int32_t) { return 1; }
EXPORT int32_t OpenArchive(const char*, uint32_t* tag) {
  *tag = TAG_PACK;
  return 1;
}
EXPORT int32_t GetArcItem(uint8_t* item, int32_t) {
  item[ITEM_SIZE_AT + 8] = 0;  // byte 40, between size and name
  memcpy(item + ITEM_NAME_AT, "A", 2);
  return ITEM_READY;
}
EXPORT int32_t CloseArchive(int32_t) { return 1; }
EXPORT int32_t GetFormatName(uint32_t, char* name, char* extension) {
  strcpy(name, "Bad");
  strcpy(extension, "BAD");
  return 1;
}
EXPORT int32_t GetDefaultCommands(uint32_t, uint32_t index, char* command) {
  if (index >= 15) return 0;
  strcpy(command, "");
  return 1;
}
