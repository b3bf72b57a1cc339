// PACK archives end to end: listing, extraction with and without folders,
// testing, hostile sizes and names.
#include <gtest/gtest.h>

#include "tests/support/e2e.h"
#include "tests/support/pack_builder.h"

namespace {
const std::string kRule72(72, '-');
const std::string kHeading = "\nname\t\t\t\t\t\t\tsize\tseek\n" + kRule72 + "\n";

std::string Line(const std::string& name, int size, const char* hexOffset) {
  char buf[128];
  snprintf(buf, sizeof buf, "%-56.56s%-7d\t%s\n", name.c_str(), size, hexOffset);
  return buf;
}

TEST(Pack, ListsEveryMemberWithSizeAndOffset) {
  TempDir dir;
  dir.Write("a.pak", Pack().Member("maps/e1m1.bsp", "0123456789").Member("Readme.txt", "").Bytes());
  RunResult r = Vrex(dir.path(), {"l", "a.pak"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, Banner() + "Searching PACK (2 files)\n" + kHeading +
                       Line("maps/e1m1.bsp", 10, "0000000C") + Line("Readme.txt", 0, "00000016") +
                       "\n2 matches found\n");
}

TEST(Pack, ExtractWithFoldersKeepsPathsAndStoredCase) {
  TempDir dir;
  dir.Write("a.pak", Pack().Member("maps/e1m1.bsp", "BSP").Member("Readme.txt", "hi").Bytes());
  RunResult r = Vrex(dir.path(), {"x", "a.pak"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, Banner() + "Searching PACK (2 files)\nExtracting maps/e1m1.bsp\nExtracting Readme.txt\n"
                              "\n2 matches found\n");
  EXPECT_EQ(dir.Read("maps/e1m1.bsp"), "BSP");
  EXPECT_EQ(dir.Read("Readme.txt"), "hi");
}
}  // namespace
