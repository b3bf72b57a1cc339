// The members of an archive as its directory states them, decoded here apart
// from vrex: PACK, Doom WAD, WAD2/WAD3, LOD (zlib members inflated), CSid,
// STK and SLB (told by the file name), HOG, DMVL, SPAK, GRP, RFF (the
// version's directory key, encrypted members decrypted) and GOB v1/v2; and
// archives of the formats with flat names and of GOB v2 made from members,
// the data right behind the table, and of SPAK, SLB, RFF (0x0301) and GOB
// v1, the table behind the data.
#ifndef VREX_TESTS_SUPPORT_ARCHIVE_MEMBERS_H
#define VREX_TESTS_SUPPORT_ARCHIVE_MEMBERS_H

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

// Name and bytes of each member, in directory order.
using Members = std::vector<std::pair<std::string, std::string>>;

namespace archive_members {
inline uint64_t Le(const std::string& s, uint64_t at, int width) {
  uint64_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = v << 8 | uint8_t(s[size_t(at) + size_t(i)]);
  return v;
}

inline std::string Name(const std::string& s, uint64_t at, size_t width) {
  std::string field = s.substr(size_t(at), width);
  return field.substr(0, strnlen(field.c_str(), width));
}

inline bool Inflate(const std::string& stream, uint64_t realSize, std::string* out) {
  out->assign(size_t(realSize), '\0');
  uLongf length = uLongf(realSize);
  if (uncompress(reinterpret_cast<Bytef*>(&(*out)[0]), &length, reinterpret_cast<const Bytef*>(stream.data()),
                 uLong(stream.size())) != Z_OK)
    return false;
  out->resize(length);
  return true;
}

inline bool EndsWith(const std::string& name, const std::string& tail) {
  if (name.size() < tail.size()) return false;
  for (size_t i = 0; i < tail.size(); ++i)
    if (tolower(uint8_t(name[name.size() - tail.size() + i])) != tail[i]) return false;
  return true;
}
}  // namespace archive_members

// False when the file is none of the formats above, or an entry's data do
// not lie inside it.
inline bool ReadMembers(const std::string& fileName, const std::string& file, Members* members) {
  using namespace archive_members;
  members->clear();
  const std::string magic = file.substr(0, 4);
  struct Layout {
    uint64_t table, count, entry, nameAt, width, offsetAt, sizeAt, packedAt;  // packedAt 0: none
  } l = {};
  bool implied = false, chain = false;
  size_t hidden = 0;  // bytes in front of every name (SLB: "\")
  if (EndsWith(fileName, ".stk") || EndsWith(fileName, ".itk")) {
    if (file.size() < 2) return false;
    l = {2, Le(file, 0, 2), 22, 0, 12, 17, 13, 0};
  } else if (EndsWith(fileName, ".slb") && file.size() >= 12) {
    l = {Le(file, 8, 4), Le(file, 4, 4), 72, 0, 64, 64, 68, 0};
    hidden = 1;
  } else if (magic == "SPAK" && file.size() >= 12) {
    l = {Le(file, 4, 4), Le(file, 8, 4) / 128, 128, 0, 120, 120, 124, 0};
  } else if (file.compare(0, 12, "KenSilverman") == 0 && file.size() >= 16) {
    l = {16, Le(file, 12, 4), 16, 0, 12, 0, 12, 0};
    implied = true;
  } else if (magic == "PACK" && file.size() >= 12) {
    l = {Le(file, 4, 4), Le(file, 8, 4) / 64, 64, 0, 56, 56, 60, 0};
  } else if ((magic == "PWAD" || magic == "IWAD") && file.size() >= 12) {
    l = {Le(file, 8, 4), Le(file, 4, 4), 16, 8, 8, 0, 4, 0};
  } else if ((magic == "WAD2" || magic == "WAD3") && file.size() >= 12) {
    l = {Le(file, 8, 4), Le(file, 4, 4), 32, 16, 16, 0, 4, 0};
  } else if (magic == std::string("LOD\0", 4) && file.size() >= 12) {
    l = {92, Le(file, 8, 4), 32, 0, 16, 16, 20, 28};
  } else if (magic == "CSid" && file.size() >= 6) {
    l = {6, Le(file, 4, 2), 21, 1, 12, 17, 13, 0};
  } else if (magic == "DMVL" && file.size() >= 8) {
    l = {8, Le(file, 4, 4), 17, 0, 12, 0, 13, 0};
    implied = true;
  } else if (file.compare(0, 3, "DHF") == 0) {
    chain = true;
  } else if ((magic == "GOB\x0A" && file.size() >= 8) || (magic == "GOB " && file.size() >= 12)) {
    uint64_t at = Le(file, magic == "GOB " ? 8 : 4, 4), entry = magic == "GOB " ? 136 : 21;
    if (at + 4 > file.size()) return false;
    l = {at + 4, Le(file, at, 4), entry, 8, entry - 8, 0, 4, 0};
  } else if (magic == "RFF\x1A" && file.size() >= 32) {
    uint64_t at = Le(file, 8, 4), n = Le(file, 12, 4), version = Le(file, 4, 2);
    if (at + n * 48 > file.size()) return false;
    std::string plain = file, bytes;
    for (uint64_t i = 0; version >> 8 == 3 && i < n * 48; ++i)
      plain[size_t(at + i)] ^= char((((at + (version & 0xFF) * at) & 0xFFFF) + i) >> 1);
    for (uint64_t e = at; e < at + n * 48; e += 48) {
      uint64_t offset = Le(plain, e + 16, 4), size = Le(plain, e + 20, 4);
      if (offset + size > file.size()) return false;
      std::string name = Name(plain, e + 36, 8), type = Name(plain, e + 33, 3);
      bytes = file.substr(size_t(offset), size_t(size));
      for (size_t i = 0; plain[size_t(e + 32)] & 0x10 && i < bytes.size() && i < 256; ++i) bytes[i] ^= char(i >> 1);
      members->push_back({type.empty() ? name : name + "." + type, bytes});
    }
    return true;
  } else {
    return false;
  }
  if (chain) {
    for (uint64_t at = 3; at < file.size();) {
      if (at + 17 > file.size()) return false;
      uint64_t size = Le(file, at + 13, 4);
      if (at + 17 + size > file.size()) return false;
      members->push_back({Name(file, at, 13), file.substr(size_t(at + 17), size_t(size))});
      at += 17 + size;
    }
    return true;
  }
  if (l.table + l.count * l.entry > file.size()) return false;
  uint64_t next = l.table + l.count * l.entry;
  for (uint64_t i = 0; i < l.count; ++i) {
    uint64_t at = l.table + i * l.entry;
    uint64_t size = Le(file, at + l.sizeAt, 4), packed = l.packedAt ? Le(file, at + l.packedAt, 4) : 0;
    uint64_t offset = implied ? next : Le(file, at + l.offsetAt, 4), stored = packed ? packed : size;
    next += stored;
    if (stored && offset + stored > file.size()) return false;
    std::string bytes = stored ? file.substr(size_t(offset), size_t(stored)) : "", real;
    if (packed && !Inflate(bytes, size, &real)) return false;
    if (packed) bytes = real;
    members->push_back({Name(file, at + l.nameAt, size_t(l.width)).substr(hidden), bytes});
  }
  return true;
}

// An archive of `members` in the format the file name's extension says:
// .lod (stored, types 0), .bin (CSid), .stk/.itk, .hog, .mvl (flags 0),
// .grp, .sin (SPAK), .slb, .rff (0x0301, names split at the last dot), .gob
// and .goo.
inline std::string MakeArchive(const std::string& fileName, const Members& members) {
  using archive_members::EndsWith;
  auto le = [](uint64_t v, int width) {
    std::string out;
    for (int i = 0; i < width; ++i) out += char(v >> (8 * i));
    return out;
  };
  auto field = [](const std::string& name, size_t width) {
    std::string out = name.substr(0, width);
    out.resize(width, '\0');
    return out;
  };
  std::string data, table;
  uint64_t n = members.size();
  if (EndsWith(fileName, ".sin") || EndsWith(fileName, ".slb")) {
    bool slb = EndsWith(fileName, ".slb");
    for (const auto& m : members) {
      table += field((slb ? "\\" : "") + m.first, slb ? 64 : 120) + le(12 + data.size(), 4) + le(m.second.size(), 4);
      data += m.second;
    }
    return (slb ? le(0, 4) + le(n, 4) + le(12 + data.size(), 4) : "SPAK" + le(12 + data.size(), 4) + le(table.size(), 4)) +
           data + table;
  }
  if (EndsWith(fileName, ".rff") || EndsWith(fileName, ".gob")) {
    bool rff = EndsWith(fileName, ".rff");
    uint64_t at = rff ? 32 : 8;
    for (const auto& m : members) {
      size_t dot = m.first.rfind('.');
      std::string type = dot == std::string::npos ? "" : m.first.substr(dot + 1);
      table += rff ? std::string(16, '\0') + le(at + data.size(), 4) + le(m.second.size(), 4) + std::string(9, '\0') +
                         field(type, 3) + field(m.first.substr(0, dot), 8) + le(0, 4)
                   : le(at + data.size(), 4) + le(m.second.size(), 4) + field(m.first, 13);
      data += m.second;
    }
    at += data.size();
    for (size_t i = 0; rff && i < table.size(); ++i) table[i] ^= char(((2 * at & 0xFFFF) + i) >> 1);
    if (rff) return "RFF\x1A" + le(0x0301, 2) + le(0, 2) + le(at, 4) + le(n, 4) + std::string(16, '\0') + data + table;
    return "GOB\x0A" + le(at, 4) + data + le(n, 4) + table;
  }
  if (EndsWith(fileName, ".hog")) {
    std::string out = "DHF";
    for (const auto& m : members) out += field(m.first, 13) + le(m.second.size(), 4) + m.second;
    return out;
  }
  std::string head = EndsWith(fileName, ".lod")   ? std::string("LOD\0", 4) + le(200, 4) + le(n, 4) + std::string(80, '\0')
                     : EndsWith(fileName, ".bin") ? "CSid" + le(n, 2)
                     : EndsWith(fileName, ".mvl") ? "DMVL" + le(n, 4)
                     : EndsWith(fileName, ".grp") ? "KenSilverman" + le(n, 4)
                     : EndsWith(fileName, ".goo") ? "GOB " + le(20, 4) + le(12, 4) + le(n, 4)
                                                  : le(n, 2);
  uint64_t entry = EndsWith(fileName, ".lod") ? 32 : EndsWith(fileName, ".bin") ? 21 : EndsWith(fileName, ".mvl") ? 17
                   : EndsWith(fileName, ".grp") ? 16 : EndsWith(fileName, ".goo") ? 136 : 22;
  uint64_t at = head.size() + n * entry;
  for (const auto& m : members) {
    uint64_t size = m.second.size();
    if (EndsWith(fileName, ".lod")) table += field(m.first, 16) + le(at, 4) + le(size, 4) + le(0, 4) + le(0, 4);
    else if (EndsWith(fileName, ".bin")) table += char(m.first.size()) + field(m.first, 12) + le(size, 4) + le(at, 4);
    else if (EndsWith(fileName, ".mvl")) table += field(m.first, 13) + le(size, 4);
    else if (EndsWith(fileName, ".grp")) table += field(m.first, 12) + le(size, 4);
    else if (EndsWith(fileName, ".goo")) table += le(at, 4) + le(size, 4) + field(m.first, 128);
    else table += field(m.first, 13) + le(size, 4) + le(at, 4) + '\0';
    data += m.second;
    at += size;
  }
  return head + table + data;
}

#endif
