// The VREX module: six exports a file manager's archive plug-in calls to
// browse game archives, and the one module-wide PluginState they share.
//
// The host calls IsArchive, OpenArchive, GetArcItem until it returns other
// than ITEM_READY, then CloseArchive; GetFormatName and GetDefaultCommands at
// any time. One archive is open at a time; calls must not overlap. The
// module allocates nothing and prints nothing; results are its only report.
#ifndef VREX_PLUGIN_VREX_MODULE_H
#define VREX_PLUGIN_VREX_MODULE_H

#include <cstdint>

#include "common/item_record.h"
#include "common/tags.h"
#include "plugin/win32_file.h"

#ifdef _WIN32
#define VREX_EXPORT extern "C"  // names and ordinals come from vrex.def
#define VREX_CALL __stdcall
#else
#define VREX_EXPORT extern "C" __attribute__((visibility("default")))
#define VREX_CALL
#endif

constexpr uint32_t FOLDER_PREFIX_SIZE = 20;  // 19 characters and the terminator
constexpr uint32_t RECORD_BUFFER_SIZE = 136;  // the largest record, GOB v2's
constexpr uint32_t LAST_POSITION = 0xFFFFFFFE;  // positions saturate here; all ones is a failed seek

struct PluginState {
  uint32_t formatTag;      // tag of the file last tested or opened
  HANDLE archiveHandle;    // the open archive, or null when none is open
  uint32_t fileSize;       // low 32 bits of the archive's size, taken at open
  uint32_t recordSize;     // bytes GetArcItem reads per directory record
  uint32_t position;       // file offset of the next directory record
  uint32_t itemCount;      // records the header states (not used for "DHF")
  uint32_t itemIndex;      // records consumed so far
  int32_t groupCountdown;  // Doom WAD folder state
  char folderPrefix[FOLDER_PREFIX_SIZE];
  uint32_t directoryAt;    // RFF: file offset of the directory
  uint32_t directoryKey;   // RFF: the key of an encrypted directory
  uint32_t encrypted;      // RFF: 1 when the directory is encrypted
};

extern PluginState plugin;

inline uint32_t GetU32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline uint32_t GetU16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }

// Decrypts `count` bytes of an RFF directory, the first being byte `index`
// of the directory: byte i is XORed with ((key + i) >> 1) & 0xFF.
inline void DecryptDirectory(uint8_t* bytes, uint32_t count, uint32_t key, uint32_t index) {
  for (uint32_t i = 0; i < count; ++i) bytes[i] ^= uint8_t((key + index + i) >> 1);
}

// Sets the archive's file position to `at` from the start; returns the new
// position, or INVALID_SET_FILE_POINTER.
inline DWORD SeekArchive(uint32_t at) {
  LONG high = 0;  // with the high half the position counts as unsigned
  return SetFilePointer(plugin.archiveHandle, LONG(at), &high, FILE_BEGIN);
}

// The position `step` bytes after `at`, saturated at LAST_POSITION.
inline uint32_t PositionAfter(uint32_t at, uint64_t step) {
  uint64_t next = uint64_t(at) + step;
  return next > LAST_POSITION ? LAST_POSITION : uint32_t(next);
}

inline void PutU32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

VREX_EXPORT int32_t VREX_CALL IsArchive(const char* fileName, const uint8_t* header, int32_t headerSize);
VREX_EXPORT int32_t VREX_CALL OpenArchive(const char* fileName, uint32_t* tagOut);
VREX_EXPORT int32_t VREX_CALL GetArcItem(uint8_t* item, int32_t unused);
VREX_EXPORT int32_t VREX_CALL CloseArchive(int32_t unused);
VREX_EXPORT int32_t VREX_CALL GetFormatName(uint32_t tag, char* formatName, char* defaultExtension);
VREX_EXPORT int32_t VREX_CALL GetDefaultCommands(uint32_t tag, uint32_t index, char* command);

#endif
