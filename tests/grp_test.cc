// GRP files end to end: names padded with spaces or filling all 12 bytes,
// members behind the table in its order; new names upper-cased.
#include <gtest/gtest.h>

#include "tests/support/bytes_builder.h"
#include "tests/support/e2e.h"

namespace {
TEST(Grp, NamesArePaddedWithSpacesOrFillTheField) {
  TempDir dir;
  Bytes grp;
  grp.Raw("KenSilverman").U32(2).Raw("GAME.CON    ").U32(3).Raw("TWELVECHARS!").U32(2).Raw("con12");
  dir.Write("a.grp", grp.str());
  RunResult l = Vrex(dir.path(), {"l", "a.grp"});
  EXPECT_EQ(l.out, Banner() + "Searching  GRP (2 files)\n\nname\tsize\tseek\n" + std::string(40, '-') +
                       "\nGAME.CON\t3\t00000030\nTWELVECHARS!\t2\t00000033\n\n2 matches found\n");
  EXPECT_EQ(Vrex(dir.path(), {"e", "a.grp", "game.con"}).exitCode, 0);
  EXPECT_EQ(dir.Read("GAME.CON"), "con");

  // A replaced entry keeps its spelling and padding; new names are upper-cased.
  dir.Write("game.con", "CON!");
  dir.Write("new.art", "A");
  dir.Write("thirteen.char", "");
  RunResult a = Vrex(dir.path(), {"a", "a.grp", "game.con", "new.art", "thirteen.char"});
  EXPECT_EQ(a.out, Banner() + "Searching  GRP (2 files)\nReplacing GAME.CON\nAdding NEW.ART\n"
                              "Name too long thirteen.char - skipped\n\n2 files stored, 1 skipped\n");
  EXPECT_EQ(dir.Read("a.grp"), Bytes().Raw("KenSilverman").U32(3).Raw("GAME.CON    ").U32(4).Raw("TWELVECHARS!")
                                   .U32(2).Name("NEW.ART", 12).U32(1).Raw("CON!12A").str());
  // Trailing spaces are padding: a file name that ends in them is stored
  // without, so that the next run replaces what it stored.
  if (!TestingWindowsBinary()) {  // no such file names on Windows
    dir.Write("pad.art ", "P");
    for (const char* line : {"3 files)\nAdding PAD.ART\n", "4 files)\nReplacing PAD.ART\n"})
      EXPECT_EQ(Vrex(dir.path(), {"af", "a.grp", "pad.art "}).out,
                Banner() + "Searching  GRP (" + line + "\n1 files stored\n");
  }

  dir.Write("b.grp", "KenSilverfox" + std::string(4, '\0'));
  EXPECT_EQ(Vrex(dir.path(), {"l", "b.grp"}).out, Banner() + "Unknown format\n");
}
}  // namespace

namespace {
// Sizes that carry the running offset past 4 GiB never wrap it round to
// other bytes of the file.
TEST(Grp, AnOffsetPast4GiBLiesInNoFile) {
  TempDir dir;
  dir.Write("a.grp", Bytes().Raw("KenSilverman").U32(2).Name("HUGE", 12).U32(0xFFFFFFF0).Name("AFTER", 12).U32(2)
                         .Raw("ab").str());
  RunResult x = Vrex(dir.path(), {"x", "a.grp", "after"});
  EXPECT_EQ(x.exitCode, 4);
  EXPECT_EQ(x.out, Banner() + "Searching  GRP (2 files)\nExtracting AFTER\n\t--- read error ---\n\n1 matches found\n");
}
}  // namespace
