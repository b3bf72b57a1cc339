// PACK archives end to end: listing, extraction with and without folders,
// testing, hostile sizes and names, adding to a header cut short.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/faults.h"
#include "tests/support/e2e.h"
#include "tests/support/pack_builder.h"

namespace {
const std::string kRule72(72, '-');
const std::string kHeading = "\nname\t\t\t\t\t\t\tsize\tseek\n" + kRule72 + "\n";
// Listing rows: the name padded to 56 columns, the size padded to 7, a tab,
// the offset as 8 hex digits.

TEST(Pack, ListsEveryMemberWithSizeAndOffset) {
  TempDir dir;
  dir.Write("a.pak", Pack().Member("maps/e1m1.bsp", "0123456789").Member("Readme.txt", "").Bytes());
  RunResult r = Vrex(dir.path(), {"l", "a.pak"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, Banner() + "Searching PACK (2 files)\n" + kHeading +
                       "maps/e1m1.bsp                                           10     \t0000000C\n"
                       "Readme.txt                                              0      \t00000016\n"
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

namespace {
TEST(Pack, PatternsFoldCaseAndExtractedFilesKeepTheStoredLetters) {
  TempDir dir;
  dir.Write("a.pak", Pack().Member("maps/e1m1.bsp", "BSP").Member("sound/x.wav", "W").Bytes());
  RunResult list = Vrex(dir.path(), {"l", "a.pak", "MAPS/*"});
  EXPECT_EQ(list.out, Banner() + "Searching PACK (2 files)\n" + kHeading +
                          "maps/e1m1.bsp                                           3      \t0000000C\n"
                          "\n1 matches found\n");
  RunResult x = Vrex(dir.path(), {"x", "a.pak", "*"});
  EXPECT_EQ(x.out, Banner() + "Searching PACK (2 files)\nExtracting MAPS/E1M1.BSP\nExtracting SOUND/X.WAV\n"
                              "\n2 matches found\n");
  EXPECT_EQ(dir.Tree(), (std::map<std::string, std::string>{{"a.pak", dir.Read("a.pak")}, {"maps/", ""},
                         {"maps/e1m1.bsp", "BSP"}, {"sound/", ""}, {"sound/x.wav", "W"}}));
  RunResult none = Vrex(dir.path(), {"t", "a.pak", "*.txt"});
  EXPECT_EQ(none.out, Banner() + "Searching PACK (2 files)\n\n(no matches found)\n");
}

TEST(Pack, FlatExtractionWritesTheLastComponent) {
  TempDir dir;
  dir.Write("a.pak", Pack().Member("maps/e1m1.bsp", "BSP").Bytes());
  RunResult r = Vrex(dir.path(), {"e", "a.pak"});
  EXPECT_EQ(r.out, Banner() + "Searching PACK (1 files)\nExtracting maps/e1m1.bsp\n\n1 matches found\n");
  EXPECT_EQ(dir.Tree(), (std::map<std::string, std::string>{
                            {"a.pak", dir.Read("a.pak")}, {"e1m1.bsp", "BSP"}}));
}

TEST(Pack, TestingReadsEverythingAndWritesNothing) {
  TempDir dir;
  std::string bytes = Pack().Member("maps/e1m1.bsp", "BSP").Member("past.end", "").Bytes();
  // The second entry claims 1000 bytes at offset 13: past the end of the file.
  Bytes b;
  b.Raw(bytes).PatchU32(bytes.size() - 8, 13).PatchU32(bytes.size() - 4, 1000);
  dir.Write("a.pak", b.str());
  RunResult r = Vrex(dir.path(), {"t", "a.pak"});
  EXPECT_EQ(r.exitCode, 4);
  EXPECT_EQ(r.out, Banner() + "Searching PACK (2 files)\nTesting maps/e1m1.bsp\nTesting past.end\n"
                              "\t--- read error ---\n\n2 matches found\n");
  EXPECT_EQ(dir.Tree().size(), 1u);
}

// A member that can't be read whole leaves no file of its own, and a file
// of its name as it was.
TEST(Pack, AMemberPastTheEndLeavesNoFileAndAnExistingOneAsItWas) {
  TempDir dir;
  // 4 GiB - 1 bytes claimed at offset 12: nothing is allocated for it.
  const std::string pack = Pack().Entry("huge.bin", 12, 0xFFFFFFFF).Bytes();
  dir.Write("a.pak", pack);
  for (bool existing : {false, true}) {
    if (existing) dir.Write("huge.bin", "21 bytes of old data.");
    RunResult r = Vrex(dir.path(), {"x", "a.pak"});
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_EQ(r.out, Banner() + "Searching PACK (1 files)\nExtracting huge.bin\n\t--- read error ---\n"
                                "\n1 matches found\n");
    EXPECT_EQ(dir.Read("huge.bin"), existing ? "21 bytes of old data." : "<missing huge.bin>");
    EXPECT_EQ(dir.Tree().size(), existing ? 2u : 1u);  // no temporary file beside it
  }
}

TEST(Pack, ZeroSizeMembersBecomeEmptyFilesSilently) {
  TempDir dir;
  dir.Write("a.pak", Pack().Member("empty.txt", "").Bytes());
  RunResult r = Vrex(dir.path(), {"x", "a.pak"});
  EXPECT_EQ(r.out, Banner() + "Searching PACK (1 files)\nExtracting empty.txt\n\n1 matches found\n");
  EXPECT_TRUE(dir.Exists("empty.txt"));
  EXPECT_EQ(dir.Read("empty.txt"), "");
}

TEST(Pack, NamesThatFillTheWholeFieldAreKeptWhole) {
  TempDir dir;
  std::string name = "dir/" + std::string(52, 'n');  // 56 characters, no NUL
  dir.Write("a.pak", Pack().Member(name, "full").Bytes());
  RunResult list = Vrex(dir.path(), {"l", "a.pak", "*" + std::string(52, 'N')});
  EXPECT_EQ(list.out, Banner() + "Searching PACK (1 files)\n" + kHeading + name + "4      \t0000000C\n"
                                 "\n1 matches found\n");
  Vrex(dir.path(), {"x", "a.pak"});
  EXPECT_EQ(dir.Read(name), "full");
}

TEST(Pack, UnsafeNamesAreRefused) {
  TempDir dir;
  dir.Write("a.pak", Pack()
                         .Member("../evil", "1")
                         .Member("/abs", "2")
                         .Member("C:x", "3")
                         .Member("a/../../b", "4")
                         .Member("ok/..x", "5")
                         .Member("back\\..\\up", "6")
                         .Bytes());
  RunResult x = Vrex(dir.path(), {"x", "a.pak"});
  EXPECT_EQ(x.exitCode, 4);
  EXPECT_EQ(x.out, Banner() + "Searching PACK (6 files)\n"
                              "Extracting ../evil\nUnsafe path ../evil - skipped\n"
                              "Extracting /abs\nUnsafe path /abs - skipped\n"
                              "Extracting C:x\nUnsafe path C:x - skipped\n"
                              "Extracting a/../../b\nUnsafe path a/../../b - skipped\n"
                              "Extracting ok/..x\n"
                              "Extracting back\\..\\up\nUnsafe path back\\..\\up - skipped\n"
                              "\n6 matches found\n");
  std::map<std::string, std::string> tree = dir.Tree();
  tree.erase("a.pak");
  EXPECT_EQ(tree, (std::map<std::string, std::string>{{"ok/", ""}, {"ok/..x", "5"}}));

  // Flat extraction only writes the last component: "../evil" lands as "evil".
  TempDir flat;
  flat.Write("a.pak", dir.Read("a.pak"));
  RunResult e = Vrex(flat.path(), {"e", "a.pak"});
  EXPECT_NE(e.out.find("Extracting C:x\nUnsafe path C:x - skipped\n"), std::string::npos);
  EXPECT_EQ(flat.Read("evil"), "1");
  EXPECT_EQ(flat.Read("abs"), "2");
  EXPECT_EQ(flat.Read("b"), "4");
}

TEST(Pack, AFolderThatExistsAsAFileOrAFolderInThePlaceOfTheFileSkipsTheMember) {
  TempDir dir;
  dir.Write("maps", "a file");
  ASSERT_EQ(mkdir(dir.Join("e1m1.bsp").c_str(), 0755), 0);
  dir.Write("a.pak", Pack().Member("maps/e1m1.bsp", "BSP").Bytes());
  RunResult r = Vrex(dir.path(), {"x", "a.pak"});
  EXPECT_EQ(r.exitCode, 4);
  EXPECT_EQ(r.out, Banner() + "Searching PACK (1 files)\nExtracting maps/e1m1.bsp\n"
                              "Can't open maps/e1m1.bsp - skiped\n\n1 matches found\n");
  r = Vrex(dir.path(), {"e", "a.pak"});
  EXPECT_EQ(r.exitCode, 4);
  EXPECT_EQ(r.out, Banner() + "Searching PACK (1 files)\nExtracting maps/e1m1.bsp\n"
                              "Can't open e1m1.bsp - skiped\n\n1 matches found\n");
  EXPECT_EQ(dir.Read("maps"), "a file");
  EXPECT_TRUE(dir.IsDir("e1m1.bsp"));
}

TEST(Pack, AReadOnlyFileIsLeftAsItIs) {
  if (geteuid() == 0 && !TestingWindowsBinary()) GTEST_SKIP() << "root writes read-only files";
  TempDir dir;
  dir.Write("a.pak", Pack().Member("ro.txt", "new").Bytes());
  dir.Write("ro.txt", "old");
  ASSERT_EQ(chmod(dir.Join("ro.txt").c_str(), 0444), 0);
  RunResult r = Vrex(dir.path(), {"e", "a.pak"});
  EXPECT_EQ(r.exitCode, 4);
  EXPECT_EQ(r.out, Banner() + "Searching PACK (1 files)\nExtracting ro.txt\nCan't open ro.txt - skiped\n\n1 matches found\n");
  EXPECT_EQ(dir.Read("ro.txt"), "old");
}

// An existing file is replaced once the member is written whole; a link is
// replaced itself, never written through to the file it points to.
TEST(Pack, ExistingFilesAndLinksAreReplaced) {
  TempDir dir;
  dir.Write("a.txt", "old and longer");
  dir.Write("outside", "not to be touched");
  ASSERT_EQ(symlink("outside", dir.Join("b.txt").c_str()), 0);
  const std::string pack = Pack().Member("a.txt", "new").Member("b.txt", "bee").Bytes();
  dir.Write("a.pak", pack);
  RunResult r = Vrex(dir.path(), {"e", "a.pak"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(dir.Tree(), (std::map<std::string, std::string>{
                            {"a.pak", pack}, {"a.txt", "new"}, {"b.txt", "bee"}, {"outside", "not to be touched"}}));
}

TEST(Pack, FailuresOfOneMemberAreReportedAndSkipped) {
  TempDir dir;
  std::string big(5000, '1');
  dir.Write("a.pak", Pack().Member("one", big).Member("two", "22").Bytes());
  Faults faults = {};
  faults.failAllocAbove = 4096;  // only the 5000-byte member can't get its buffer
  RunResult alloc = VrexInProcess(dir.path(), {"e", "a.pak"}, &faults);
  EXPECT_EQ(alloc.exitCode, 4);
  EXPECT_EQ(alloc.out, Banner() + "Searching PACK (2 files)\nExtracting one\n"
                                  "Can't allocate 5000l bytes for one - skiped\nExtracting two\n"
                                  "\n2 matches found\n");
  EXPECT_FALSE(dir.Exists("one"));
  EXPECT_EQ(dir.Read("two"), "22");

  faults = {};
  faults.failWrite = 1;
  RunResult write = VrexInProcess(dir.path(), {"e", "a.pak", "one"}, &faults);
  EXPECT_EQ(write.out, Banner() + "Searching PACK (2 files)\nExtracting ONE\n\t--- write error ---\n"
                                  "\n1 matches found\n");

  faults = {};
  faults.failRead = 5;  // magic, two header words, directory, then the member
  RunResult read = VrexInProcess(dir.path(), {"x", "a.pak", "two"}, &faults);
  EXPECT_EQ(read.out, Banner() + "Searching PACK (2 files)\nExtracting TWO\n\t--- read error ---\n"
                                 "\n1 matches found\n");
  // "one" failed as a new file, "two" over the file the first run wrote.
  EXPECT_EQ(dir.Tree(), (std::map<std::string, std::string>{{"a.pak", dir.Read("a.pak")}, {"two", "22"}}));
}

TEST(Pack, ListsAfterClosingTheArchive) {
  TempDir dir;
  dir.Write("a.pak", Pack().Member("a", "1").Bytes());
  Faults faults = {};
  faults.failRead = 5;  // a read after the directory would fail
  RunResult r = VrexInProcess(dir.path(), {"l", "a.pak"}, &faults);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "");
}

// A PACK cut off inside its 12-byte header reads as an archive with no
// member. Adding to it must put the data behind the header, where the
// header words written at the commit can't cover it.
TEST(Pack, AddingToAHeaderCutShortKeepsTheDataBehindTheHeader) {
  const std::string data = Pattern(100, 1);
  for (const std::string& file : {std::string("PACK"), std::string("PACK\0\0\0\0", 8),
                                  std::string("PACK\x10\0\0\0\0", 9)}) {
    SCOPED_TRACE(file.size());
    TempDir dir;
    dir.Write("a.pak", file);
    dir.Write("x.bin", data);
    RunResult r = Vrex(dir.path(), {"a", "a.pak", "x.bin"});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(dir.Read("a.pak"), Pack().Member("x.bin", data).Bytes());
  }
}

// An entry whose data runs past the end of the file would read the data
// that adding puts there: the run changes nothing, as deletion does. An
// empty entry anywhere is no obstacle.
TEST(Pack, AddingRefusesAnArchiveWithDataBeyondItsEnd) {
  const std::string ok = Pattern(100, 1), data = Pattern(100, 2);
  const uint32_t end = 12 + 100 + 2 * 64;  // the file's length
  struct Case {
    uint32_t offset, size;
    int exitCode;
  };
  for (const Case& c : {Case{end + 4, 50, 7}, Case{end - 10, 11, 7}, Case{end + 4, 0, 0}}) {
    SCOPED_TRACE(std::to_string(c.offset) + "+" + std::to_string(c.size));
    TempDir dir;
    const std::string file = Pack().Member("ok", ok).Entry("broken", c.offset, c.size).Bytes();
    ASSERT_EQ(file.size(), end);
    dir.Write("a.pak", file);
    dir.Write("x.bin", data);
    RunResult r = Vrex(dir.path(), {"a", "a.pak", "x.bin"});
    EXPECT_EQ(r.exitCode, c.exitCode) << r.out;
    if (c.exitCode == 7) {
      EXPECT_EQ(dir.Read("a.pak"), file);
      EXPECT_NE(r.out.find("\t--- read error --- broken: data beyond the end of the archive, archive left unchanged\n"),
                std::string::npos) << r.out;
    }
  }
}
}  // namespace

namespace {
// A member named like the archive is never written over it (the archive
// would be emptied while it is read); the members after it still come out.
TEST(Pack, AMemberIsNeverWrittenOverTheArchive) {
  TempDir dir;
  std::string bytes = Pack().Member("a.pak", "not the archive").Member("after.txt", "after").Bytes();
  dir.Write("a.pak", bytes);
  for (const char* letter : {"x", "e"}) {
    RunResult r = Vrex(dir.path(), {letter, "a.pak"});
    EXPECT_EQ(r.exitCode, 4) << letter;
    EXPECT_EQ(r.out, Banner() + "Searching PACK (2 files)\nExtracting a.pak\nThe archive itself a.pak - skipped\n"
                                "Extracting after.txt\n\n2 matches found\n")
        << letter;
    EXPECT_EQ(dir.Read("a.pak"), bytes) << letter;
    EXPECT_EQ(dir.Read("after.txt"), "after") << letter;
  }
}
}  // namespace
