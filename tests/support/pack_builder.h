// Crafted PACK archives: members back to back behind the header, the
// directory behind them (or first), or raw entries for hostile layouts.
#ifndef VREX_TESTS_SUPPORT_PACK_BUILDER_H
#define VREX_TESTS_SUPPORT_PACK_BUILDER_H

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/bytes_builder.h"

class Pack {
 public:
  // A member whose data is appended to the data area.
  Pack& Member(const std::string& name, const std::string& data) {
    members_.push_back({name, data, 0, 0, false});
    return *this;
  }
  // An entry with explicit offset and size; no data is added for it.
  Pack& Entry(const std::string& name, uint32_t offset, uint32_t size) {
    members_.push_back({name, "", offset, size, true});
    return *this;
  }
  // Raw bytes appended to the data area (gaps, shared data).
  Pack& Gap(const std::string& bytes) {
    members_.push_back({"", bytes, 0, 0, false, true});
    return *this;
  }
  Pack& DirectoryFirst() { directoryFirst_ = true; return *this; }

  std::string Bytes() const {
    uint32_t count = 0;
    for (const auto& m : members_) count += m.gap ? 0 : 1;
    uint32_t dirLength = count * 64;
    uint32_t dataStart = directoryFirst_ ? 12 + dirLength : 12;
    std::string data;
    ::Bytes dir;
    for (const auto& m : members_) {
      uint32_t at = dataStart + uint32_t(data.size());
      data += m.data;
      if (m.gap) continue;
      dir.Name(m.name, 56).U32(m.raw ? m.offset : at).U32(m.raw ? m.size : uint32_t(m.data.size()));
    }
    uint32_t dirOffset = directoryFirst_ ? 12 : 12 + uint32_t(data.size());
    ::Bytes out;
    out.Raw("PACK").U32(dirOffset).U32(dirLength);
    if (directoryFirst_) out.Raw(dir.str()).Raw(data);
    else out.Raw(data).Raw(dir.str());
    return out.str();
  }

 private:
  struct M {
    std::string name, data;
    uint32_t offset, size;
    bool raw;
    bool gap = false;
  };
  std::vector<M> members_;
  bool directoryFirst_ = false;
};

// The members of a PACK as its directory states them, in directory order:
// name and bytes.
inline std::vector<std::pair<std::string, std::string>> PackMembers(const std::string& file) {
  auto u32 = [&](size_t at) {
    return uint32_t(uint8_t(file[at])) | uint32_t(uint8_t(file[at + 1])) << 8 |
           uint32_t(uint8_t(file[at + 2])) << 16 | uint32_t(uint8_t(file[at + 3])) << 24;
  };
  std::vector<std::pair<std::string, std::string>> out;
  uint32_t dirOffset = u32(4), count = u32(8) / 64;
  for (uint32_t i = 0; i < count; ++i) {
    size_t at = dirOffset + size_t(i) * 64;
    out.push_back({std::string(file.c_str() + at, strnlen(file.c_str() + at, 56)),
                   file.substr(u32(at + 56), u32(at + 60))});
  }
  return out;
}

#endif
