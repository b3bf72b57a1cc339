// Little-endian field access for archive records. Records are always decoded
// through these, never by casting bytes to structs.
#ifndef VREX_CORE_BYTES_H
#define VREX_CORE_BYTES_H

#include <cstdint>
#include <cstring>

inline uint32_t ReadU32LE(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline uint16_t ReadU16LE(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

inline uint64_t ReadU64LE(const uint8_t* p) { return uint64_t(ReadU32LE(p)) | uint64_t(ReadU32LE(p + 4)) << 32; }

inline void WriteU16LE(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}

inline void WriteU32LE(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

inline void WriteU64LE(uint8_t* p, uint64_t v) {
  WriteU32LE(p, uint32_t(v));
  WriteU32LE(p + 4, uint32_t(v >> 32));
}

// Copies a fixed-width name field into a buffer of width + 1 bytes: up to the
// first NUL or the whole field, zero-padded and always terminated.
inline void CopyNameField(char* copy, const uint8_t* field, unsigned width) {
  const void* nul = memchr(field, 0, width);
  size_t length = nul ? size_t(static_cast<const uint8_t*>(nul) - field) : width;
  memcpy(copy, field, length);
  memset(copy + length, 0, width + 1 - length);
}

#endif
