// A faulty module for the host's checks: its GetArcItem writes one byte
// between the size and name fields of the item record.
#include <cstdint>
#include <cstring>

#define EXPORT extern "C" __attribute__((visibility("default")))

EXPORT int32_t IsArchive(const char*, const uint8_t*, int32_t) { return 1; }
EXPORT int32_t OpenArchive(const char*, uint32_t* tag) {
  *tag = 0x4B434150;
  return 1;
}
EXPORT int32_t GetArcItem(uint8_t* item, int32_t) {
  item[40] = 0;
  memcpy(item + 44, "A", 2);
  return 1;
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
