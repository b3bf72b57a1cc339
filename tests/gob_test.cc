// GOB v1 and v2 end to end: listing, extraction with folders and names
// longer than 64 bytes; v1 written behind its end, v2 written anew with its
// directory at 12.
#include <gtest/gtest.h>

#include "tests/support/archive_members.h"
#include "tests/support/bytes_builder.h"
#include "tests/support/e2e.h"

namespace {
const std::string kHeading = "\nname\tsize\tseek\n" + std::string(40, '-') + "\n";
const std::string kLong = "3do\\mat\\" + std::string(119, 'm');  // 127 bytes and the terminator

TEST(Gob, BothVersionsListAndExtract) {
  TempDir dir;
  // v1: the directory at the end; v2: at 12, the data behind it.
  dir.Write("d.gob", Bytes().Raw("GOB\x0A").U32(12).Raw("levL").U32(1).U32(8).U32(4).Name("SECBASE.LEV", 13).str());
  const std::string goo = MakeArchive("j.goo", {{"a.bm", "bm"}, {kLong, "material"}});
  dir.Write("j.goo", goo);
  EXPECT_EQ(Vrex(dir.path(), {"l", "d.gob"}).out,
            Banner() + "Searching  GOB (1 files)\n" + kHeading + "SECBASE.LEV\t4\t00000008\n\n1 matches found\n");
  EXPECT_EQ(Vrex(dir.path(), {"l", "j.goo"}).out, Banner() + "Searching GOB2 (2 files)\n" + kHeading +
                                                     "a.bm\t2\t00000120\n" + kLong + "\t8\t00000122\n\n2 matches found\n");
  RunResult x = Vrex(dir.path(), {"x", "j.goo"});
  EXPECT_EQ(x.out, Banner() + "Searching GOB2 (2 files)\nExtracting a.bm\nExtracting " + kLong + "\n\n2 matches found\n");
  EXPECT_EQ(dir.Read("a.bm") + dir.Read("3do/mat/" + std::string(119, 'm')), "bmmaterial");
}

// v1: the old bytes stay but the word at 4, new data and directory go
// behind the end. v2: the file as its games write it, whatever the
// directory's place before; a stores the path with "\".
TEST(Gob, WritingKeepsEachVersionsLayout) {
  TempDir dir;
  const std::string gob = MakeArchive("a.gob", {{"a.txt", Pattern(200, 1)}});
  const uint32_t end = uint32_t(gob.size());
  dir.Write("a.gob", gob);
  Put(dir, "jk/b.txt", "bb");
  ASSERT_EQ(Vrex(dir.path(), {"a", "a.gob", "jk/b.txt"}).exitCode, 0);
  std::string after = dir.Read("a.gob");
  EXPECT_EQ(after.substr(8, end - 8), gob.substr(8));
  EXPECT_EQ(after.substr(end), "bb" + Bytes().U32(2).U32(8).U32(200).Name("a.txt", 13).U32(end).U32(2).Name("b.txt", 13).str());
  EXPECT_EQ(after.substr(4, 4), Bytes().U32(end + 2).str());

  dir.Write("a.goo", Bytes().Raw("GOB ").U32(20).U32(15).Raw("AAA").U32(1).U32(12).U32(3).Name("a.txt", 128).str());
  RunResult r = Vrex(dir.path(), {"a", "a.goo", "jk/b.txt"});
  EXPECT_EQ(r.out, Banner() + "Searching GOB2 (1 files)\nAdding jk\\b.txt\n\n1 files stored\n");
  EXPECT_EQ(dir.Read("a.goo"), MakeArchive("a.goo", {{"a.txt", "AAA"}, {"jk\\b.txt", "bb"}}));
  ASSERT_EQ(Vrex(dir.path(), {"af", "new.goo", "jk/b.txt"}).exitCode, 0);
  EXPECT_EQ(dir.Read("new.goo"), MakeArchive("new.goo", {{"b.txt", "bb"}}));
}
}  // namespace
