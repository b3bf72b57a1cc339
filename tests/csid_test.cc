// CSid (BIN) archives end to end: listing, extraction and testing; the
// length byte of what a writes, -csid, and deletion.
#include <gtest/gtest.h>

#include <vector>

#include "core/bytes.h"
#include "tests/support/archive_members.h"
#include "tests/support/bytes_builder.h"
#include "tests/support/e2e.h"

namespace {
const std::string kHeading = "\nname\t\tsize\t\tseek\n" + std::string(36, '-') + "\n";
// Listing rows: the name padded to 12 columns, a tab, the size padded to 7,
// a tab, the offset as 8 hex digits.

// Crafted CSid archives: magic, count, 21-byte entries (length byte,
// name[12], size, offset), member bytes behind them.
class Csid {
 public:
  Csid& Member(const std::string& name, const std::string& data, uint8_t lengthByte = 0) {
    entries_.push_back({name, data, 0, uint32_t(data.size()), lengthByte, false});
    return *this;
  }
  Csid& Entry(const std::string& name, uint32_t offset, uint32_t size) {
    entries_.push_back({name, "", offset, size, 0, true});
    return *this;
  }
  std::string Bytes() const {
    uint32_t at = 6 + 21 * uint32_t(entries_.size());
    ::Bytes out;
    std::string data;
    out.Raw("CSid").U16(uint32_t(entries_.size()));
    for (const auto& e : entries_) {
      out.U8(e.lengthByte ? e.lengthByte : uint32_t(e.name.size())).Name(e.name, 12).U32(e.size);
      out.U32(e.raw ? e.offset : at);
      data += e.data;
      at += uint32_t(e.data.size());
    }
    return out.str() + data;
  }

 private:
  struct E {
    std::string name, data;
    uint32_t offset, size;
    uint8_t lengthByte;
    bool raw;
  };
  std::vector<E> entries_;
};

std::string Searching(int n) { return Banner() + "Searching CSid (" + std::to_string(n) + " files)\n"; }

std::map<std::string, std::string> With(std::map<std::string, std::string> tree, const std::string& archive,
                                        const std::string& bytes) {
  tree[archive] = bytes;
  return tree;
}

TEST(Csid, ListsAndExtractsFullWidthNamesWhateverTheLengthByteSays) {
  TempDir dir;
  std::string bin = Csid()
                        .Member("TwelveChars!", "0123", 3)
                        .Member("short.cel", "cel", 200)
                        .Member("nothing", "")
                        .Bytes();
  dir.Write("a.bin", bin);
  RunResult l = Vrex(dir.path(), {"l", "a.bin"});
  EXPECT_EQ(l.exitCode, 0);
  EXPECT_EQ(l.err, "");
  // Directory: 6 + 3 * 21 = 69 = 0x45.
  EXPECT_EQ(l.out, Searching(3) + kHeading +
                       "TwelveChars!\t4      \t00000045\n"
                       "short.cel   \t3      \t00000049\n"
                       "nothing     \t0      \t0000004C\n"
                       "\n3 matches found\n");
  RunResult e = Vrex(dir.path(), {"e", "a.bin"});
  EXPECT_EQ(e.out, Searching(3) + "Extracting TwelveChars!\nExtracting short.cel\nExtracting nothing\n"
                                  "\n3 matches found\n");
  EXPECT_EQ(dir.Tree(), With({{"TwelveChars!", "0123"}, {"short.cel", "cel"}, {"nothing", ""}}, "a.bin", bin));
}

TEST(Csid, PatternsListAndExtractUnderTheStoredNames) {
  TempDir dir;
  std::string bin = Csid().Member("Wall.cel", "w").Member("sub\\Floor.cel", "f").Member("x.pic", "p").Bytes();
  dir.Write("a.bin", bin);
  RunResult l = Vrex(dir.path(), {"l", "a.bin", "*.ce*"});
  EXPECT_EQ(l.out, Searching(3) + kHeading +
                       "Wall.cel    \t1      \t00000045\n"
                       "sub\\Floor.ce\t1      \t00000046\n"
                       "\n2 matches found\n");
  RunResult x = Vrex(dir.path(), {"x", "a.bin", "*.ce?"});
  EXPECT_EQ(x.out, Searching(3) + "Extracting WALL.CEL\nExtracting SUB\\FLOOR.CE\n\n2 matches found\n");
  EXPECT_EQ(dir.Tree(), With({{"Wall.cel", "w"}, {"sub/", ""}, {"sub/Floor.ce", "f"}}, "a.bin", bin));

  TempDir flat;
  flat.Write("a.bin", bin);
  RunResult e = Vrex(flat.path(), {"e", "a.bin", "sub\\*"});
  EXPECT_EQ(e.out, Searching(3) + "Extracting SUB\\FLOOR.CE\n\n1 matches found\n");
  EXPECT_EQ(flat.Tree(), With({{"Floor.ce", "f"}}, "a.bin", bin));
}

TEST(Csid, TestWritesNothingAndMembersPastTheEndAreReadErrors) {
  TempDir dir;
  std::string bin = Csid().Member("good", "abc").Entry("past", 0xFFFFFFFF, 2).Bytes();
  dir.Write("a.bin", bin);
  RunResult t = Vrex(dir.path(), {"t", "a.bin"});
  EXPECT_EQ(t.out, Searching(2) + "Testing good\nTesting past\n\t--- read error ---\n\n2 matches found\n");
  EXPECT_EQ(dir.Tree(), With({}, "a.bin", bin));
}

// -csid makes a CSid whatever the name, with room for 2,048 entries; the
// length byte of a new or replaced entry is its name's length.
TEST(Csid, CsidMakesANewArchiveAndTheLengthByteFollowsTheName) {
  TempDir dir;
  dir.Write("Wall.cel", "wall");
  dir.Write("f.pic", "pic");
  RunResult r = Vrex(dir.path(), {"a", "chasm.dat", "-CSID", "Wall.cel", "f.pic"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(r.out, Banner() + "Creating chasm.dat\nAdding Wall.cel\nAdding f.pic\n\n2 files stored\n");
  std::string bin = dir.Read("chasm.dat");
  EXPECT_EQ(bin.substr(0, 6), Bytes().Raw("CSid").U16(2).str());
  EXPECT_EQ(bin.substr(6, 21), Bytes().U8(8).Name("Wall.cel", 12).U32(4).U32(6 + 2048 * 21).str());
  EXPECT_EQ(bin.size(), 6u + 2048 * 21 + 7);

  dir.Write("b.bin", Csid().Member("WALL.CEL", "old", 200).Member("x", "x").Bytes());
  ASSERT_EQ(Vrex(dir.path(), {"af", "b.bin", "Wall.cel"}).exitCode, 0);
  Members members;
  ASSERT_TRUE(ReadMembers("b.bin", dir.Read("b.bin"), &members));
  EXPECT_EQ(members, (Members{{"WALL.CEL", "wall"}, {"x", "x"}}));
  EXPECT_EQ(dir.Read("b.bin")[6], char(8)) << "the stored name's length";
}

// d deletes and reclaims, the table keeping its order and its room.
TEST(Csid, DeleteReclaimsKeepingTheOrderAndTheRoom) {
  TempDir dir;
  dir.Write("a.bin", Csid().Member("z", "1").Member("b", "22").Member("a", "333").Bytes());
  RunResult r = Vrex(dir.path(), {"d", "a.bin", "b"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, Searching(3) + "Deleting b\n\n1 matches found\n");
  std::string bin = dir.Read("a.bin");
  EXPECT_EQ(bin, Bytes().Raw("CSid").U16(2).U8(1).Name("z", 12).U32(1).U32(69).U8(1).Name("a", 12).U32(3).U32(70)
                     .Fill(21).Raw("1333").str());
}
}  // namespace
