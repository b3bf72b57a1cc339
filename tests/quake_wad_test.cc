// WAD2 and WAD3 files end to end: listing columns, names that fill their
// field, extraction of the stored bytes, and deletion with compaction.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/support/bytes_builder.h"
#include "tests/support/e2e.h"

namespace {
// A crafted WAD2/WAD3: member data behind the header, the directory behind
// the data; Entry() adds a raw entry (any offset, sizes and flags).
class QuakeWad {
 public:
  explicit QuakeWad(const char* magic = "WAD2") : magic_(magic) {}
  QuakeWad& Member(const std::string& name, const std::string& data, uint32_t flags = 0x44) {
    return Entry(name, 12 + uint32_t(data_.size()), uint32_t(data.size()), uint32_t(data.size()), flags,
                 &data);
  }
  QuakeWad& Entry(const std::string& name, uint32_t offset, uint32_t size, uint32_t packed, uint32_t flags,
                  const std::string* data = nullptr) {
    entries_.push_back({name, offset, size, packed, flags});
    if (data) data_ += *data;
    return *this;
  }
  QuakeWad& Data(const std::string& bytes) {
    data_ += bytes;
    return *this;
  }
  uint32_t OffsetOf(size_t i) const { return entries_[i].offset; }
  std::string Bytes() const {
    ::Bytes out;
    out.Raw(magic_).U32(uint32_t(entries_.size())).U32(12 + uint32_t(data_.size())).Raw(data_);
    for (const auto& e : entries_) out.U32(e.offset).U32(e.size).U32(e.packed).U32(e.flags).Name(e.name, 16);
    return out.str();
  }

 private:
  struct E {
    std::string name;
    uint32_t offset, size, packed, flags;
  };
  std::string magic_;
  std::string data_;
  std::vector<E> entries_;
};

uint32_t U32At(const std::string& s, size_t at) {
  return uint32_t(uint8_t(s[at])) | uint32_t(uint8_t(s[at + 1])) << 8 |
         uint32_t(uint8_t(s[at + 2])) << 16 | uint32_t(uint8_t(s[at + 3])) << 24;
}

struct Parsed {
  std::string name;
  uint32_t offset, size, packed, flags;
  std::string data;
};

std::vector<Parsed> Parse(const std::string& wad) {
  std::vector<Parsed> out;
  uint32_t count = U32At(wad, 4), at = U32At(wad, 8);
  for (uint32_t i = 0; i < count && uint64_t(at) + 32 <= wad.size(); ++i, at += 32) {
    std::string name = wad.substr(at + 16, 16);
    name = name.substr(0, name.find('\0'));
    uint32_t offset = U32At(wad, at), size = U32At(wad, at + 4);
    std::string data = uint64_t(offset) + size <= wad.size() ? wad.substr(offset, size) : "<past the end>";
    out.push_back({name, offset, size, U32At(wad, at + 8), U32At(wad, at + 12), data});
  }
  return out;
}

// Name, sizes, flags and a digest of the data of each entry.
std::vector<std::string> Summary(const std::vector<Parsed>& entries) {
  std::vector<std::string> out;
  for (const auto& e : entries)
    out.push_back(e.name + " " + std::to_string(e.size) + " " + std::to_string(e.packed) + " " +
                  std::to_string(e.flags) + " " + std::to_string(std::hash<std::string>()(e.data)));
  return out;
}

const std::string kHeading = "\nname\t\t\tsize\tpacked\tflags\t\tseek\n" + std::string(64, '-') + "\n";

// Listing rows: the name padded to 17 columns, a tab, the size padded to 7,
// a tab, the packed size padded to 7, a tab, the flags word as 8 hex digits,
// a tab, the offset as 8 hex digits.

std::string Searching(const std::string& magic, int count) {
  return Banner() + "Searching " + magic + " (" + std::to_string(count) + " files)\n";
}

std::string Found(int n) { return n ? "\n" + std::to_string(n) + " matches found\n" : "\n(no matches found)\n"; }

class QuakeWadBoth : public ::testing::TestWithParam<const char*> {};

TEST_P(QuakeWadBoth, ListsEveryColumn) {
  TempDir dir;
  QuakeWad w(GetParam());
  std::string blue = Pattern(100, 1);
  w.Entry("{blue", 12, 100, 50, 0x44, &blue);  // flags bytes 44 00 00 00
  w.Member("ABCDEFGHIJKLMNOP", Pattern(30, 2), 0x01020344);               // 16 characters, no NUL
  w.Member("empty", "", 0);
  dir.Write("a.wad", w.Bytes());

  RunResult r = Vrex(dir.path(), {"l", "a.wad"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, Searching(GetParam(), 3) + kHeading +
                       "{blue            \t100    \t50     \t00000044\t0000000C\n"
                       "ABCDEFGHIJKLMNOP \t30     \t30     \t01020344\t00000070\n"
                       "empty            \t0      \t0      \t00000000\t0000008E\n" +
                       Found(3));
  EXPECT_NE(r.out.find("{blue            \t100    \t50     \t00000044\t0000000C\n"), std::string::npos);

  // With a pattern the listing shows the upper-cased name.
  r = Vrex(dir.path(), {"l", "a.wad", "{B*", "abcdefghijklmnop"});
  EXPECT_EQ(r.out, Searching(GetParam(), 3) + kHeading +
                       "{BLUE            \t100    \t50     \t00000044\t0000000C\n"
                       "ABCDEFGHIJKLMNOP \t30     \t30     \t01020344\t00000070\n" +
                       Found(2));
}

TEST_P(QuakeWadBoth, ExtractsSizeBytesWhateverThePackedSize) {
  TempDir dir;
  QuakeWad w(GetParam());
  std::string data = Pattern(300, 3);
  w.Entry("conchars", 12, 300, 5, 0x0044, &data);
  w.Member("ABCDEFGHIJKLMNOP", Pattern(40, 4));
  w.Member("empty", "");
  const std::string wad = w.Bytes();
  dir.Write("a.wad", wad);

  RunResult r = Vrex(dir.path(), {"x", "a.wad"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, Searching(GetParam(), 3) +
                       "Extracting conchars\nExtracting ABCDEFGHIJKLMNOP\nExtracting empty\n" + Found(3));
  EXPECT_EQ(dir.Tree(), (std::map<std::string, std::string>{
                            {"a.wad", wad}, {"conchars", data}, {"ABCDEFGHIJKLMNOP", Pattern(40, 4)}, {"empty", ""}}));

  TempDir upper;
  upper.Write("a.wad", wad);
  r = Vrex(upper.path(), {"e", "a.wad", "con*"});
  EXPECT_EQ(r.out, Searching(GetParam(), 3) + "Extracting CONCHARS\n" + Found(1));
  EXPECT_EQ(upper.Read("conchars"), data);

  TempDir test;
  test.Write("a.wad", wad);
  r = Vrex(test.path(), {"t", "a.wad"});
  EXPECT_EQ(r.out, Searching(GetParam(), 3) + "Testing conchars\nTesting ABCDEFGHIJKLMNOP\nTesting empty\n" +
                       Found(3));
  EXPECT_EQ(test.Tree().size(), 1u);
}

TEST_P(QuakeWadBoth, DeletingSortsTheDirectoryByOffsetAndKeepsEveryByte) {
  TempDir dir;
  // Directory order differs from data order; a gap lies between members.
  QuakeWad w(GetParam());
  std::string a = Pattern(200, 5), b = Pattern(300, 6), c = Pattern(150, 7);
  w.Data(a).Data("gap-gap").Data(b).Data(c);
  w.Entry("third", 12 + 200 + 7 + 300, 150, 99, 0x43, nullptr);
  w.Entry("{first", 12, 200, 200, 0x40, nullptr);
  w.Entry("second", 12 + 200 + 7, 300, 1, 0x44, nullptr);
  const std::string wad = w.Bytes();
  dir.Write("a.wad", wad);

  RunResult r = Vrex(dir.path(), {"d", "a.wad", "{FIRST"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, Searching(GetParam(), 3) + "Deleting {FIRST\n" + Found(1));
  std::string after = dir.Read("a.wad");
  auto before = Parse(wad);
  EXPECT_EQ(Summary(Parse(after)), Summary({before[2], before[0]}));
  EXPECT_EQ(after.size(), 12u + 300 + 150 + 2 * 32);
  EXPECT_EQ(after.substr(0, 4), GetParam());
  EXPECT_EQ(Parse(after)[0].offset, 12u);

  // Deleting nothing leaves the archive as it is, gap and order included.
  TempDir none;
  none.Write("a.wad", wad);
  r = Vrex(none.path(), {"d", "a.wad", "nothing"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, Searching(GetParam(), 3) + Found(0));
  EXPECT_EQ(none.Read("a.wad"), wad);

  // Deleting everything leaves a 12-byte header of an empty directory.
  TempDir all;
  all.Write("a.wad", wad);
  r = Vrex(all.path(), {"d", "a.wad"});
  EXPECT_EQ(r.out, Searching(GetParam(), 3) + "Deleting third\nDeleting {first\nDeleting second\n" + Found(3));
  after = all.Read("a.wad");
  ASSERT_EQ(after.size(), 12u);
  EXPECT_EQ(after.substr(0, 4), GetParam());
  EXPECT_EQ(U32At(after, 4), 0u);
}

TEST_P(QuakeWadBoth, DeletingKeepsEntriesThatShareData) {
  TempDir dir;
  QuakeWad w(GetParam());
  w.Member("one", Pattern(200, 8)).Member("two", Pattern(250, 9));
  w.Entry("alias", w.OffsetOf(1), 250, 250, 0x44).Entry("inner", w.OffsetOf(1) + 10, 100, 100, 0x44);
  const std::string wad = w.Bytes();
  dir.Write("a.wad", wad);
  RunResult r = Vrex(dir.path(), {"d", "a.wad", "one", "two"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, Searching(GetParam(), 4) + "Deleting ONE\nDeleting TWO\n" + Found(2));
  std::string after = dir.Read("a.wad");
  auto before = Parse(wad);
  EXPECT_EQ(Summary(Parse(after)), Summary({before[2], before[3]}));
  EXPECT_EQ(after.size(), 12u + 250 + 2 * 32);

  r = Vrex(dir.path(), {"x", "a.wad"});
  EXPECT_EQ(dir.Read("alias"), Pattern(250, 9));
  EXPECT_EQ(dir.Read("inner"), Pattern(250, 9).substr(10, 100));
}

INSTANTIATE_TEST_SUITE_P(Magic, QuakeWadBoth, ::testing::Values("WAD2", "WAD3"));
}  // namespace
