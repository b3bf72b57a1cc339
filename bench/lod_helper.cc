// Benchmark helper for LOD archives.
//
//   lod_helper make PACKED.lod STORED.lod COUNT SIZE
//       writes COUNT members of SIZE bytes of word-like text (compressible,
//       not trivial) twice: as zlib streams, and stored (packedSize 0)
//   lod_helper inflate ARCHIVE.lod
//       the baseline: reads each member's stream and inflates it with plain
//       zlib inflate into a file of the member's name in the current folder
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
constexpr uint32_t kHeaderSize = 92;
constexpr uint32_t kEntrySize = 32;

uint32_t U32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
void PutU32(std::string* s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s->push_back(char(v >> (8 * i)));
}

uint64_t rng = 0x9E3779B97F4A7C15ull;
uint32_t Next() {
  rng ^= rng << 13;
  rng ^= rng >> 7;
  rng ^= rng << 17;
  return uint32_t(rng >> 11);
}

std::string Text(size_t size, const std::vector<std::string>& words) {
  std::string out;
  out.reserve(size + 16);
  while (out.size() < size) {
    uint32_t r = Next();
    // Skewed choice: short common words dominate, as in real text.
    size_t w = (r % 4 == 0) ? r % words.size() : r % 64;
    out += words[w];
    out += (r >> 24) % 13 == 0 ? '\n' : ' ';
    if ((r >> 20) % 50 == 0) out += std::to_string(r % 100000);
  }
  out.resize(size);
  return out;
}

int Make(const char* packedPath, const char* storedPath, uint32_t count, uint32_t size) {
  std::vector<std::string> words;
  for (int i = 0; i < 4096; ++i) {
    std::string w;
    for (uint32_t n = 2 + Next() % 9; n; --n) w += char('a' + Next() % 26);
    words.push_back(w);
  }
  std::string packedDir, storedDir, packedData, storedData;
  uint32_t dataAt = kHeaderSize + kEntrySize * count;
  std::vector<uint8_t> stream(compressBound(size));
  uLongf largest = 0;
  for (uint32_t i = 0; i < count; ++i) {
    std::string member = Text(size, words);
    uLongf length = stream.size();
    if (compress2(stream.data(), &length, reinterpret_cast<const Bytef*>(member.data()), size, 6) != Z_OK)
      return 1;
    if (length > largest) largest = length;
    char name[16] = {0};
    snprintf(name, sizeof name, "M%05u.TXT", i);
    packedDir.append(name, 16);
    PutU32(&packedDir, dataAt + uint32_t(packedData.size()));
    PutU32(&packedDir, size);
    PutU32(&packedDir, 0);
    PutU32(&packedDir, uint32_t(length));
    packedData.append(reinterpret_cast<const char*>(stream.data()), length);
    storedDir.append(name, 16);
    PutU32(&storedDir, dataAt + uint32_t(storedData.size()));
    PutU32(&storedDir, size);
    PutU32(&storedDir, 0);
    PutU32(&storedDir, 0);
    storedData += member;
  }
  std::string header("LOD\0", 4);
  PutU32(&header, 200);
  PutU32(&header, count);
  header.resize(kHeaderSize, '\0');
  for (int k = 0; k < 2; ++k) {
    FILE* f = fopen(k ? storedPath : packedPath, "wb");
    if (!f) return 1;
    const std::string& dir = k ? storedDir : packedDir;
    const std::string& data = k ? storedData : packedData;
    fwrite(header.data(), 1, header.size(), f);
    fwrite(dir.data(), 1, dir.size(), f);
    fwrite(data.data(), 1, data.size(), f);
    if (fclose(f) != 0) return 1;
  }
  printf("%u members, %zu bytes packed, %zu bytes inflated, largest stream %lu\n", count, packedData.size(),
         storedData.size(), static_cast<unsigned long>(largest));
  return 0;
}

int Inflate(const char* path) {
  FILE* f = fopen(path, "rb");
  if (!f) return 1;
  uint8_t header[kHeaderSize];
  if (fread(header, 1, kHeaderSize, f) != kHeaderSize) return 1;
  uint32_t count = U32(header + 8);
  std::vector<uint8_t> dir(size_t(count) * kEntrySize);
  if (fread(dir.data(), 1, dir.size(), f) != dir.size()) return 1;
  std::vector<uint8_t> in, out(1 << 16);
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* e = &dir[size_t(i) * kEntrySize];
    char name[17] = {0};
    memcpy(name, e, 16);
    uint32_t packed = U32(e + 28);
    in.resize(packed);
    if (fseek(f, long(U32(e + 16)), SEEK_SET) != 0 || fread(in.data(), 1, packed, f) != packed) return 1;
    FILE* o = fopen(name, "wb");
    if (!o) return 1;
    z_stream z;
    memset(&z, 0, sizeof z);
    if (inflateInit(&z) != Z_OK) return 1;
    z.next_in = in.data();
    z.avail_in = packed;
    int rc;
    do {
      z.next_out = out.data();
      z.avail_out = uInt(out.size());
      rc = inflate(&z, Z_NO_FLUSH);
      if (rc != Z_OK && rc != Z_STREAM_END) return 1;
      fwrite(out.data(), 1, out.size() - z.avail_out, o);
    } while (rc != Z_STREAM_END);
    inflateEnd(&z);
    if (fclose(o) != 0) return 1;
  }
  fclose(f);
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && !strcmp(argv[1], "make"))
    return Make(argv[2], argv[3], uint32_t(atoi(argv[4])), uint32_t(atoi(argv[5])));
  if (argc == 3 && !strcmp(argv[1], "inflate")) return Inflate(argv[2]);
  fprintf(stderr, "usage: lod_helper make PACKED STORED COUNT SIZE | inflate ARCHIVE\n");
  return 2;
}
