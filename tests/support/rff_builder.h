// Crafted RFF files: the 32-byte header, the data, then the directory of
// 48-byte entries, encrypted for versions 0x03xx with `key` when it is not
// negative, else with the version's own, dirOffset + (version & 0xFF) *
// dirOffset.
#ifndef VREX_TESTS_SUPPORT_RFF_BUILDER_H
#define VREX_TESTS_SUPPORT_RFF_BUILDER_H

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/bytes_builder.h"

struct RffEntry {
  std::string name, type;
  uint32_t offset, size;
  uint8_t flags;
  uint32_t id = 0;
};

inline std::string RffBytes(uint32_t version, const std::string& data, const std::vector<RffEntry>& entries,
                            int64_t key = -1) {
  uint32_t dirOffset = 32 + uint32_t(data.size());
  Bytes dir;
  for (const RffEntry& e : entries)
    dir.Fill(16).U32(e.offset).U32(e.size).U32(0).U32(0).U8(e.flags).Name(e.type, 3).Name(e.name, 8).U32(e.id);
  std::string d = dir.str();
  uint32_t k = key >= 0 ? uint32_t(key) : (dirOffset + (version & 0xFF) * dirOffset) & 0xFFFF;
  for (size_t i = 0; version >> 8 == 3 && i < d.size(); ++i) d[i] = char(d[i] ^ ((k + i) >> 1));
  Bytes out;
  out.Raw("RFF\x1A").U16(version).U16(0).U32(dirOffset).U32(uint32_t(entries.size())).Fill(16);
  return out.Raw(data).Raw(d).str();
}

#endif
