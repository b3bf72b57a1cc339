// Doom WADs in tests: built from a short description of each entry, and the
// directory of any WAD decoded back into entries with their bytes.
#ifndef VREX_TESTS_SUPPORT_DOOM_WAD_IMAGE_H
#define VREX_TESTS_SUPPORT_DOOM_WAD_IMAGE_H

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/bytes_builder.h"

struct WadEntry {
  std::string name;
  uint32_t offset = 0, size = 0;
  std::string data;  // the bytes the entry points at ("<past the end>" if it can't)
};

inline uint32_t WadU32(const std::string& s, size_t at) {
  return uint32_t(uint8_t(s[at])) | uint32_t(uint8_t(s[at + 1])) << 8 | uint32_t(uint8_t(s[at + 2])) << 16 |
         uint32_t(uint8_t(s[at + 3])) << 24;
}

// The directory of a Doom WAD, in directory order.
inline std::vector<WadEntry> WadDirectory(const std::string& wad) {
  std::vector<WadEntry> out;
  if (wad.size() < 12) return out;
  uint32_t count = WadU32(wad, 4), at = WadU32(wad, 8);
  for (uint32_t i = 0; i < count && uint64_t(at) + 16 <= wad.size(); ++i, at += 16) {
    WadEntry e;
    e.offset = WadU32(wad, at);
    e.size = WadU32(wad, at + 4);
    e.name = wad.substr(at + 8, 8);
    e.name = e.name.substr(0, e.name.find('\0'));
    e.data = uint64_t(e.offset) + e.size <= wad.size() ? wad.substr(e.offset, e.size) : "<past the end>";
    out.push_back(e);
  }
  return out;
}

// A WAD from entry descriptions: "NAME:SIZE" is a lump of SIZE bytes (data
// Pattern(SIZE, its index + 1), behind the header in entry order; "NAME:0"
// points at the data end), "NAME" alone a marker of 0 bytes at offset 0.
inline std::string BuildWad(const std::string& magic, const std::vector<std::string>& entries) {
  std::string data;
  Bytes dir;
  for (size_t i = 0; i < entries.size(); ++i) {
    size_t colon = entries[i].rfind(':');
    if (colon == std::string::npos) {
      dir.U32(0).U32(0).Name(entries[i], 8);
      continue;
    }
    uint32_t size = uint32_t(std::stoul(entries[i].substr(colon + 1)));
    dir.U32(12 + uint32_t(data.size())).U32(size).Name(entries[i].substr(0, colon), 8);
    data += Pattern(size, uint32_t(i + 1));
  }
  Bytes out;
  out.Raw(magic).U32(uint32_t(entries.size())).U32(12 + uint32_t(data.size())).Raw(data).Raw(dir.str());
  return out.str();
}

#endif
