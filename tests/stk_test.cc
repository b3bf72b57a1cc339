// STK/ITK archives end to end: detection by extension, listing, extraction
// and testing; what a writes (flags, room, members the table grows over)
// and deletion.
#include <gtest/gtest.h>

#include <vector>

#include "tests/support/archive_members.h"
#include "tests/support/bytes_builder.h"
#include "tests/support/e2e.h"
#include "tests/support/pack_builder.h"

namespace {
const std::string kHeading = "\nname\t\tsize\tseek\tflags\n" + std::string(37, '-') + "\n";
// Listing rows: the name padded to 12 columns, a tab, the size padded to 7,
// a tab, the offset as 8 hex digits, a space, the flags byte as 2 hex digits.

// Crafted STK archives: count, 22-byte entries, member bytes behind them.
class Stk {
 public:
  Stk& Member(const std::string& name, const std::string& data, uint8_t flags = 0) {
    entries_.push_back({name, data, 0, uint32_t(data.size()), flags, false});
    return *this;
  }
  Stk& Entry(const std::string& name, uint32_t offset, uint32_t size) {
    entries_.push_back({name, "", offset, size, 0, true});
    return *this;
  }
  std::string Bytes() const {
    uint32_t at = 2 + 22 * uint32_t(entries_.size());
    ::Bytes dir;
    std::string data;
    dir.U16(uint32_t(entries_.size()));
    for (const auto& e : entries_) {
      dir.Name(e.name, 13).U32(e.size).U32(e.raw ? e.offset : at).U8(e.flags);
      data += e.data;
      at += uint32_t(e.data.size());
    }
    return dir.str() + data;
  }

 private:
  struct E {
    std::string name, data;
    uint32_t offset, size;
    uint8_t flags;
    bool raw;
  };
  std::vector<E> entries_;
};

std::string Searching(int n) { return Banner() + "Searching  STK (" + std::to_string(n) + " files)\n"; }

std::map<std::string, std::string> With(std::map<std::string, std::string> tree, const std::string& archive,
                                        const std::string& bytes) {
  tree[archive] = bytes;
  return tree;
}

TEST(Stk, ListsFullWidthNamesAndHighFlagsBytes) {
  TempDir dir;
  // Byte 12 of a name field is never part of the name.
  std::string stk = Stk().Member("TwelveChars!X", "0123", 0x80).Member("a.snd", "", 0xFF).Member("b", "x", 7).Bytes();
  dir.Write("game.stk", stk);
  RunResult r = Vrex(dir.path(), {"l", "game.stk"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, Searching(3) + kHeading +
                       "TwelveChars!\t4      \t00000044 80\n"
                       "a.snd       \t0      \t00000048 FF\n"
                       "b           \t1      \t00000048 07\n"
                       "\n3 matches found\n");

  RunResult e = Vrex(dir.path(), {"e", "game.stk"});
  EXPECT_EQ(e.out, Searching(3) + "Extracting TwelveChars!\nExtracting a.snd\nExtracting b\n\n3 matches found\n");
  EXPECT_EQ(dir.Tree(), With({{"TwelveChars!", "0123"}, {"a.snd", ""}, {"b", "x"}}, "game.stk", stk));
}

TEST(Stk, ExtensionInAnyCaseDecidesOverContent) {
  TempDir dir;
  std::string stk = Stk().Member("m", "data").Bytes();
  for (const char* name : {"a.STK", "b.Itk", "c.itk", "d.sTk"}) {
    dir.Write(name, stk);
    RunResult r = Vrex(dir.path(), {"l", name});
    EXPECT_EQ(r.out, Searching(1) + kHeading + "m           \t4      \t00000018 00\n" + "\n1 matches found\n") << name;
  }
  // The same bytes under another name are not recognised.
  dir.Write("e.bin", stk);
  EXPECT_EQ(Vrex(dir.path(), {"l", "e.bin"}).exitCode, 3);

  // A PACK named .stk is read as STK: "PA" is its count of 0x4150 entries,
  // whose directory lies far past the end of the file.
  TempDir pack;
  pack.Write("p.stk", Pack().Member("x", "y").Bytes());
  RunResult p = Vrex(pack.path(), {"l", "p.stk"});
  EXPECT_EQ(p.exitCode, 6);
  EXPECT_EQ(p.out, Searching(0x4150));
  EXPECT_EQ(p.err, "\tread failed: unexpected end of file\n");
}

TEST(Stk, PatternsListAndExtractUnderTheStoredNames) {
  TempDir dir;
  std::string stk = Stk().Member("Intro.snd", "snd").Member("sub\\Map.dat", "map").Member("other", "o").Bytes();
  dir.Write("a.stk", stk);
  RunResult l = Vrex(dir.path(), {"l", "a.stk", "*.SND", "sub\\*"});
  EXPECT_EQ(l.out, Searching(3) + kHeading +
                       "Intro.snd   \t3      \t00000044 00\n"
                       "sub\\Map.dat \t3      \t00000047 00\n"
                       "\n2 matches found\n");

  RunResult x = Vrex(dir.path(), {"x", "a.stk", "*.SND", "sub\\*"});
  EXPECT_EQ(x.out, Searching(3) + "Extracting INTRO.SND\nExtracting SUB\\MAP.DAT\n\n2 matches found\n");
  EXPECT_EQ(dir.Tree(), With({{"Intro.snd", "snd"}, {"sub/", ""}, {"sub/Map.dat", "map"}}, "a.stk", stk));

  TempDir flat;
  flat.Write("a.stk", stk);
  RunResult e = Vrex(flat.path(), {"e", "a.stk", "sub\\*"});
  EXPECT_EQ(e.out, Searching(3) + "Extracting SUB\\MAP.DAT\n\n1 matches found\n");
  EXPECT_EQ(flat.Tree(), With({{"Map.dat", "map"}}, "a.stk", stk));
}

TEST(Stk, TestWritesNothingAndMembersPastTheEndAreReadErrors) {
  TempDir dir;
  std::string stk = Stk().Member("good", "abc").Member("empty", "").Entry("past", 60, 1000).Bytes();
  dir.Write("a.stk", stk);
  RunResult t = Vrex(dir.path(), {"t", "a.stk"});
  EXPECT_EQ(t.out, Searching(3) + "Testing good\nTesting empty\nTesting past\n\t--- read error ---\n"
                                  "\n3 matches found\n");
  EXPECT_EQ(dir.Tree(), With({}, "a.stk", stk));

  RunResult x = Vrex(dir.path(), {"x", "a.stk"});
  EXPECT_EQ(x.out, Searching(3) + "Extracting good\nExtracting empty\nExtracting past\n\t--- read error ---\n"
                                  "\n3 matches found\n");
  EXPECT_EQ(dir.Tree(), With({{"good", "abc"}, {"empty", ""}}, "a.stk", stk));
}

// .itk makes an STK too, with room for 256 entries; new and replaced
// entries get flags 0; a table that grows over member data first moves the
// members behind the end.
TEST(Stk, AddMakesRoomAndClearsTheFlags) {
  TempDir dir;
  dir.Write("f", "data");
  ASSERT_EQ(Vrex(dir.path(), {"a", "new.itk", "f"}).exitCode, 0);
  EXPECT_EQ(dir.Read("new.itk"), Bytes().U16(1).Name("f", 13).U32(4).U32(2 + 256 * 22).U8(0).Fill(255 * 22).Raw("data").str());

  dir.Write("a.stk", Stk().Member("first", "1111", 0x80).Member("second", "22", 0x07).Bytes());
  dir.Write("second", "new");
  dir.Write("third", "3");
  RunResult r = Vrex(dir.path(), {"a", "a.stk", "second", "third"});
  EXPECT_EQ(r.out, Searching(2) + "Replacing second\nAdding third\n\n2 files stored\n");
  std::string stk = dir.Read("a.stk");
  Members members;
  ASSERT_TRUE(ReadMembers("a.stk", stk, &members));
  EXPECT_EQ(members, (Members{{"first", "1111"}, {"second", "new"}, {"third", "3"}}));
  EXPECT_EQ(stk[2 + 21], char(0x80));
  EXPECT_EQ(stk[2 + 22 + 21], char(0));
  EXPECT_EQ(stk[2 + 44 + 21], char(0));
}

// d deletes and reclaims, the data right behind the shorter table.
TEST(Stk, DeleteReclaimsKeepingTheOrder) {
  TempDir dir;
  dir.Write("a.itk", Stk().Member("z", "1").Member("b", "22").Member("a", "333", 5).Bytes());
  RunResult r = Vrex(dir.path(), {"d", "a.itk", "B"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, Searching(3) + "Deleting b\n\n1 matches found\n");
  EXPECT_EQ(dir.Read("a.itk"), Stk().Member("z", "1").Member("a", "333", 5).Bytes());
}
}  // namespace
