// Blood RFF archives end to end: every version and both 0x0300 keys,
// encrypted and external members, versions that are no RFF; what a
// replacement keeps, and the key a rewritten directory is encrypted with.
#include <gtest/gtest.h>
#include <utime.h>

#include "tests/support/e2e.h"
#include "tests/support/rff_builder.h"

namespace {
std::string Searching(int n) { return Banner() + "Searching  RFF (" + std::to_string(n) + " files)\n"; }

uint32_t U32(const std::string& s, size_t at) {
  return uint32_t(uint8_t(s[at])) | uint32_t(uint8_t(s[at + 1])) << 8 | uint32_t(uint8_t(s[at + 2])) << 16 |
         uint32_t(uint8_t(s[at + 3])) << 24;
}

// The first 256 bytes of an encrypted member are XORed with (i >> 1).
std::string Crypted(std::string bytes) {
  for (size_t i = 0; i < bytes.size() && i < 256; ++i) bytes[i] ^= char(i >> 1);
  return bytes;
}

const std::string kSecret = Pattern(300, 5);
const std::string kData = "tiles!" + Crypted(kSecret);
const uint32_t kDirAt = 32 + 6 + 300;

TEST(Rff, EachVersionAndKeyListsAndExtracts) {
  const std::vector<RffEntry> entries = {
      {"TILES000", "ART", 32, 6, 0x01}, {"SECRET", "TXT", 38, 300, 0x10}, {"LOOSE", "", 0, 9, 0x02}};
  const std::pair<uint32_t, int64_t> versions[] = {{0x0200, -1}, {0x0300, -1}, {0x0301, -1}, {0x0300, 2 * kDirAt + 1}};
  for (const auto& v : versions) {
    SCOPED_TRACE(std::to_string(v.first) + " key " + std::to_string(v.second));
    TempDir dir;
    const std::string rff = RffBytes(v.first, kData, entries, v.second);
    dir.Write("a.rff", rff);
    RunResult l = Vrex(dir.path(), {"l", "a.rff"});
    EXPECT_EQ(l.out, Searching(3) + "\nname\tsize\tseek\n" + std::string(40, '-') +
                         "\nTILES000.ART\t6\t00000020\nSECRET.TXT\t300\t00000026\nLOOSE\t9\t00000000\n\n3 matches found\n");
    RunResult x = Vrex(dir.path(), {"x", "a.rff"});
    EXPECT_EQ(x.exitCode, 4) << "an external member is not extracted";
    EXPECT_EQ(x.out, Searching(3) + "Extracting TILES000.ART\nExtracting SECRET.TXT\nExtracting LOOSE\n"
                                    "External LOOSE - skipped\n\n3 matches found\n");
    EXPECT_EQ(dir.Tree(), (std::map<std::string, std::string>{
                              {"a.rff", rff}, {"TILES000.ART", "tiles!"}, {"SECRET.TXT", kSecret}}));
  }
}

// Unknown versions are no archives: neither read nor written (nor is a GOB
// v2 of another version than 20).
TEST(Rff, OtherVersionsAreUnknownFormats) {
  for (const std::string& bytes : {RffBytes(0x0201, "", {{"A", "", 0, 0, 0}}), std::string("RFF\x1A"),
                                   Bytes().Raw("GOB ").U32(19).U32(12).U32(0).str()}) {
    TempDir dir;
    dir.Write("a", bytes);
    dir.Write("f", "f");
    for (const char* letter : {"l", "a"}) {
      RunResult r = Vrex(dir.path(), {letter, "a", "f"});
      EXPECT_EQ(r.exitCode, 3);
      EXPECT_EQ(r.out, Banner() + "Unknown format\n");
    }
    EXPECT_EQ(dir.Read("a"), bytes);
  }
}

// A replaced entry keeps flags but encrypted and external, type, name and
// id, and takes the file's time; a new one is upper-cased, its type at most
// three letters. The directory of this 0x0300 file, encrypted with the other
// tools' key, keeps that key at its new offset; a new archive is version
// 0x0301.
TEST(Rff, ReplacingKeepsTheEntryAndTheArchivesKey) {
  TempDir dir;
  dir.Write("a.rff", RffBytes(0x0300, kData, {{"SECRET", "TXT", 38, 300, 0x11, 7}, {"LOOSE", "", 0, 9, 0x06, 8}},
                              2 * kDirAt + 1));
  const std::pair<const char*, std::string> files[] = {
      {"secret.txt", "plain"}, {"loose", "was loose"}, {"n.dat", "n"}, {"n.text", "4-letter type"}};
  for (const auto& f : files) {
    dir.Write(f.first, f.second);
    struct utimbuf times = {1000000000, 1234567890};
    ASSERT_EQ(utime(dir.Join(f.first).c_str(), &times), 0);
  }
  RunResult r = Vrex(dir.path(), {"a", "a.rff", "secret.txt", "loose", "n.dat", "n.text"});
  EXPECT_EQ(r.out, Searching(2) + "Replacing SECRET.TXT\nReplacing LOOSE\nAdding N.DAT\nName too long n.text - skipped\n"
                                  "\n3 files stored, 1 skipped\n");
  std::string file = dir.Read("a.rff");
  uint32_t at = U32(file, 8), key = (2 * at + 1) & 0xFFFF;
  ASSERT_EQ(U32(file, 12), 3u);
  std::string entries = file.substr(at);
  for (size_t i = 0; i < entries.size(); ++i) entries[i] ^= char((key + i) >> 1);
  const std::string kept[] = {std::string("\x01TXTSECRET\0\0\x07", 13), std::string("\x04\0\0\0LOOSE\0\0\0\x08", 13),
                              std::string("\0DATN\0\0\0\0\0\0\0\0", 13)};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(entries.substr(48 * i + 32, 13), kept[i]) << "flags, type, name, id of entry " << i;
    EXPECT_EQ(U32(entries, 48 * i + 28), 1234567890u) << "time of entry " << i;
  }
  EXPECT_EQ(Vrex(dir.path(), {"x", "a.rff", "-o", "out"}).exitCode, 0);
  EXPECT_EQ(dir.Read("out/SECRET.TXT") + dir.Read("out/LOOSE") + dir.Read("out/N.DAT"), "plainwas loosen");

  ASSERT_EQ(Vrex(dir.path(), {"a", "new.rff", "n.dat"}).exitCode, 0);
  EXPECT_EQ(dir.Read("new.rff").substr(0, 6), "RFF\x1A\x01\x03");
}
}  // namespace
