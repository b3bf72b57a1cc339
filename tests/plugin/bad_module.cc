// A faulty module for the host's checks: its GetArcItem first writes a name
// that fills the whole name field (259 bytes and the terminator), then one
// byte between the size and name fields of the item record, or, for an
// archive whose name ends in ".over", the byte just behind the name field.
#include <cstdint>
#include <cstring>

#include "common/item_record.h"
#include "common/tags.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {
bool over = false;
int calls = 0;
}  // namespace

EXPORT int32_t IsArchive(const char*, const uint8_t*, int32_t) { return 1; }
EXPORT int32_t OpenArchive(const char* name, uint32_t* tag) {
  over = strstr(name, ".over") != nullptr;
  calls = 0;
  *tag = TAG_PACK;
  return 1;
}
EXPORT int32_t GetArcItem(uint8_t* item, int32_t) {
  if (calls++ == 0) {
    memset(item + ITEM_NAME_AT, 'n', ITEM_NAME_LIMIT - 1);
    item[ITEM_NAME_AT + ITEM_NAME_LIMIT - 1] = 0;
    return ITEM_READY;
  }
  item[over ? ITEM_NAME_AT + ITEM_NAME_LIMIT : ITEM_SIZE_AT + 8] = 0;  // byte 304, or 40
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
