// SPAK archives end to end: names longer than other formats hold, listed
// and extracted whole.
#include <gtest/gtest.h>

#include "tests/support/archive_members.h"
#include "tests/support/e2e.h"

namespace {
TEST(Spak, ListsAndExtractsNamesThatFillTheField) {
  TempDir dir;
  const std::string full = "maps/" + std::string(115, 'n');  // 120 bytes, no NUL
  dir.Write("a.sin", MakeArchive("a.sin", {{full, "full"}, {"b.txt", "bb"}}));
  RunResult l = Vrex(dir.path(), {"l", "a.sin"});
  EXPECT_EQ(l.exitCode, 0);
  EXPECT_EQ(l.out, Banner() + "Searching SPAK (2 files)\n\nname\tsize\tseek\n" + std::string(40, '-') + "\n" + full +
                       "\t4\t0000000C\nb.txt\t2\t00000010\n\n2 matches found\n");
  RunResult x = Vrex(dir.path(), {"x", "a.sin", "MAPS/N*"});
  EXPECT_EQ(x.exitCode, 0);
  EXPECT_EQ(dir.Read(full), "full");
  RunResult e = Vrex(dir.path(), {"e", "a.sin"});
  EXPECT_EQ(e.exitCode, 0);
  EXPECT_EQ(dir.Read(std::string(115, 'n')), "full");
}
}  // namespace
