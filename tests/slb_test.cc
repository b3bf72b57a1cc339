// SLB archives end to end: a file named .slb is one when its header fits,
// else it is known by its first bytes; names are shown without their
// leading "\".
#include <gtest/gtest.h>

#include "tests/support/archive_members.h"
#include "tests/support/bytes_builder.h"
#include "tests/support/e2e.h"

namespace {
TEST(Slb, IsKnownByItsExtensionAndAHeaderThatFits) {
  const std::string slb = MakeArchive("a.slb", {{"data\\ships\\a.bin", "AAA"}, {"readme.txt", "r"}});
  const struct {
    const char* label;
    std::string bytes;
    int exitCode;
    std::string out;
  } cases[] = {
      {"fits", slb, 0,
       "Searching  SLB (2 files)\n\nname\tsize\tseek\n" + std::string(40, '-') +
           "\ndata\\ships\\a.bin\t3\t0000000C\nreadme.txt\t1\t0000000F\n\n2 matches found\n"},
      {"first word not 0", MakeArchive("a.sin", {{"x", "y"}}), 0, "Searching SPAK (1 files)\n"},
      {"a name without \\", Bytes().Raw(slb).PatchU32(16, 0x61746164).str(), 3, "Unknown format\n"},
      {"table past the end", Bytes().Raw(slb).PatchU32(8, 17).str(), 3, "Unknown format\n"},
      {"no entries", Bytes().U32(0).U32(0).U32(12).str(), 5, "\ta.slb: brocken archive\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    dir.Write("a.slb", c.bytes);
    RunResult l = Vrex(dir.path(), {"l", "a.slb"});
    EXPECT_EQ(l.exitCode, c.exitCode);
    EXPECT_EQ(l.out.substr(0, Banner().size() + c.out.size()), Banner() + c.out);
  }

  TempDir dir;
  dir.Write("a.slb", slb);
  RunResult x = Vrex(dir.path(), {"x", "a.slb", "DATA\\*"});
  EXPECT_EQ(x.out, Banner() + "Searching  SLB (2 files)\nExtracting DATA\\SHIPS\\A.BIN\n\n1 matches found\n");
  EXPECT_EQ(dir.Read("data/ships/a.bin"), "AAA");
  // An archive without entries takes new ones.
  dir.Write("e.slb", Bytes().U32(0).U32(0).U32(12).str());
  ASSERT_EQ(Vrex(dir.path(), {"a", "e.slb", "data"}).exitCode, 0);
  Members members;
  ASSERT_TRUE(ReadMembers("e.slb", dir.Read("e.slb"), &members));
  EXPECT_EQ(members, (Members{{"data\\ships\\a.bin", "AAA"}}));
}
}  // namespace
