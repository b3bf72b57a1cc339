// Builds archive bytes in tests: little-endian fields and fixed-width names.
#ifndef VREX_TESTS_SUPPORT_BYTES_BUILDER_H
#define VREX_TESTS_SUPPORT_BYTES_BUILDER_H

#include <cstdint>
#include <string>

class Bytes {
 public:
  Bytes& U8(uint32_t v) { data_.push_back(char(v & 0xFF)); return *this; }
  Bytes& U16(uint32_t v) { return U8(v).U8(v >> 8); }
  Bytes& U32(uint32_t v) { return U16(v).U16(v >> 16); }
  Bytes& Raw(const std::string& s) { data_ += s; return *this; }
  // A name field of `width` bytes: the text, then NUL padding (cut to width).
  Bytes& Name(const std::string& s, size_t width) {
    std::string field = s.substr(0, width);
    field.resize(width, '\0');
    data_ += field;
    return *this;
  }
  Bytes& Fill(size_t n, char c = '\0') { data_.append(n, c); return *this; }
  // Overwrites a little-endian u32 at a position already written.
  Bytes& PatchU32(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) data_[at + i] = char((v >> (8 * i)) & 0xFF);
    return *this;
  }
  size_t size() const { return data_.size(); }
  const std::string& str() const { return data_; }

 private:
  std::string data_;
};

// Deterministic member contents: `n` bytes derived from `seed`.
std::string Pattern(size_t n, uint32_t seed);

#endif
