// The entry point end to end: usage, operation letters, format detection,
// header fields, the directory load and every exit code.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "tests/support/faults.h"
#include "tests/support/e2e.h"
#include "tests/support/pack_builder.h"

namespace {
const std::string kUsageBody =
    " <operation> <filename> [File1 File2 File3..... | @FileList]\n\nWhere operation is:\n\n"
    "\tl - List file(s)\n\te - Extract file(s)\n\tx - Extract file(s) with folders\n"
    "\td - Delete file(s) from archive\n\tt - Test file(s)\n"
    "\ta[f] - Add file(s) and folder(s) [file(s) only] to archive\n"
    "\tm[f] - Move file(s) and folder(s) [file(s) only] to archive\n";

std::string TwoMembers() { return Pack().Member("a.txt", "alpha").Member("b.txt", "beta").Bytes(); }

TEST(Usage, TooFewArgumentsOrUnknownLetterPrintUsage) {
  TempDir dir;
  dir.Write("a.pak", TwoMembers());
  for (auto args : std::vector<std::vector<std::string>>{
           {}, {"l"}, {"y", "a.pak"}, {"z", "a.pak"}, {"", "a.pak"}, {"x", "a.pak", "-o"}, {"a", "a.pak", "x", "-O"}}) {
    RunResult r = VrexInProcess(dir.path(), args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, Banner() + "Usage: vrex" + kUsageBody);
  }
}

TEST(Usage, ShowsTheProgramNameBehindItsPath) {
  if (TestingWindowsBinary()) GTEST_SKIP() << "covered by the Windows suite";
  TempDir dir;
  RunResult r = Vrex(dir.path(), {});
  EXPECT_EQ(r.exitCode, 1);
  const char* shown = strrchr(VREX_BINARY_PATH, '/');
  EXPECT_EQ(r.out, Banner() + "Usage: " + (shown ? shown + 1 : VREX_BINARY_PATH) + kUsageBody);
}

TEST(Usage, HelpAndVersionAloneExitWithZero) {
  TempDir dir;
  RunResult help = Vrex(dir.path(), {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out.substr(0, Banner().size() + 7), Banner() + "Usage: ");
  EXPECT_EQ(help.out.substr(help.out.size() - kUsageBody.size()), kUsageBody);
  RunResult version = Vrex(dir.path(), {"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, Banner());
}

// -o DIR: e and x extract below DIR, made with its parents, under every rule
// that keeps extraction inside the current folder; the other operations pass
// the option over with its value.
TEST(Operations, OutputFolder) {
  TempDir dir;
  dir.Write("a.pak", Pack().Member("maps/e1m1.bsp", "BSP").Member("../evil", "E").Bytes());
  dir.Write("x.txt", "x");
  RunResult x = Vrex(dir.path(), {"x", "a.pak", "-o", "out/sub"});
  EXPECT_EQ(x.exitCode, 4);
  EXPECT_EQ(x.out, Banner() + "Searching PACK (2 files)\nExtracting maps/e1m1.bsp\nExtracting ../evil\n"
                              "Unsafe path ../evil - skipped\n\n2 matches found\n");
  EXPECT_EQ(Vrex(dir.path(), {"e", "a.pak", "-o", "flat", "MAPS/*"}).exitCode, 0);
  EXPECT_EQ(Vrex(dir.path(), {"t", "a.pak", "-o", "unused", "maps/*"}).exitCode, 0);
  RunResult a = Vrex(dir.path(), {"a", "b.pak", "x.txt", "-o", "a.pak"});
  EXPECT_EQ(a.out, Banner() + "Creating b.pak\nAdding x.txt\n\n1 files stored\n");
  std::map<std::string, std::string> tree = dir.Tree();
  for (const char* kept : {"a.pak", "b.pak", "x.txt"}) tree.erase(kept);
  EXPECT_EQ(tree, (std::map<std::string, std::string>{{"out/", ""}, {"out/sub/", ""}, {"out/sub/maps/", ""},
                   {"out/sub/maps/e1m1.bsp", "BSP"}, {"flat/", ""}, {"flat/e1m1.bsp", "BSP"}}));
  RunResult blocked = Vrex(dir.path(), {"x", "a.pak", "-o", "x.txt/sub"});
  EXPECT_EQ(blocked.exitCode, 2);
  EXPECT_EQ(blocked.out, Banner() + "Searching PACK (2 files)\nCan't make folder x.txt/sub\n");
}

TEST(Operations, LetterCaseAndTrailingCharactersDoNotMatter) {
  TempDir dir;
  dir.Write("a.pak", TwoMembers());
  RunResult lower = Vrex(dir.path(), {"l", "a.pak"});
  RunResult word = Vrex(dir.path(), {"LIST", "a.pak"});
  EXPECT_EQ(lower.exitCode, 0);
  EXPECT_EQ(word.out, lower.out);
}

// c and r do nothing yet; nor do a and m on a format vrex can't write.
TEST(Operations, LettersNotYetDoneLeaveTheArchiveAlone) {
  TempDir dir;
  std::string pack = TwoMembers();
  std::string sounds = Bytes().Raw("DSND").U32(1).U32(1).Name("laser", 8).U32(5).U32(5).U32(0).Raw("LASER").str();
  dir.Write("a.pak", pack);
  dir.Write("a.s11", sounds);
  dir.Write("x.txt", "x");
  const struct {
    const char* letter;
    const char* archive;
    const char* searching;
  } cases[] = {
      {"c", "a.pak", "Searching PACK (2 files)\n"}, {"r", "a.pak", "Searching PACK (2 files)\n"},
      {"a", "a.s11", "Searching DSND (1 files)\n"}, {"af", "a.s11", "Searching DSND (1 files)\n"},
      {"m", "a.s11", "Searching DSND (1 files)\n"}, {"mf", "a.s11", "Searching DSND (1 files)\n"},
  };
  for (const auto& c : cases) {
    RunResult r = Vrex(dir.path(), {c.letter, c.archive, "x.txt"});
    EXPECT_EQ(r.exitCode, 0) << c.letter;
    EXPECT_EQ(r.out, Banner() + c.searching + "Not yet\n") << c.letter;
    EXPECT_EQ(dir.Read("a.pak"), pack);
    EXPECT_EQ(dir.Read("a.s11"), sounds);
    EXPECT_EQ(dir.Read("x.txt"), "x");
  }
}

TEST(Open, MissingArchiveExitsWithTwo) {
  TempDir dir;
  RunResult r = Vrex(dir.path(), {"l", "none.pak"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.out, Banner());
  EXPECT_EQ(r.err, "\topen failed: No such file or directory\n");
}

TEST(Open, DeleteOnAReadOnlyFileFailsAtTheOpen) {
  // Root may write read-only files, and so may Wine started by root.
  if (geteuid() == 0) GTEST_SKIP() << "root writes read-only files";
  TempDir dir;
  dir.Write("a.lod", "LOD\0");
  chmod(dir.Join("a.lod").c_str(), 0444);
  RunResult r = Vrex(dir.path(), {"d", "a.lod"});
  EXPECT_EQ(r.exitCode, 2);
}

TEST(Open, AnotherWriterKeepsDeletionOut) {
  if (TestingWindowsBinary()) GTEST_SKIP() << "the Windows suite checks the share mode";
  TempDir dir;
  dir.Write("a.pak", TwoMembers());
  std::unique_ptr<File> holder = SystemFileSystem().Open(dir.Join("a.pak").c_str(), OPEN_UPDATE, true);
  ASSERT_NE(holder, nullptr);
  RunResult d = Vrex(dir.path(), {"d", "a.pak", "a.txt"});
  RunResult l = Vrex(dir.path(), {"l", "a.pak"});
  holder->Close();
  EXPECT_EQ(d.exitCode, 2);
  EXPECT_EQ(d.err, "\topen failed: Resource temporarily unavailable\n");
  EXPECT_EQ(l.exitCode, 2);
}

TEST(Detection, UnknownAndShortFiles) {
  TempDir dir;
  dir.Write("junk.bin", "JUNKJUNKJUNK");
  dir.Write("short.bin", "PA");
  RunResult junk = Vrex(dir.path(), {"l", "junk.bin"});
  EXPECT_EQ(junk.exitCode, 3);
  EXPECT_EQ(junk.out, Banner() + "Unknown format\n");
  RunResult shortFile = Vrex(dir.path(), {"l", "short.bin"});
  EXPECT_EQ(shortFile.exitCode, 3);
  EXPECT_EQ(shortFile.out, Banner() + "Unknown format\n");
  EXPECT_EQ(shortFile.err, "\tread failed: unexpected end of file\n");
}

TEST(Detection, ExtensionStkWinsOverContent) {
  TempDir dir;
  // A PACK named .stk is read as STK: its first two bytes "PA" are the count.
  dir.Write("A.Stk", TwoMembers());
  RunResult r = Vrex(dir.path(), {"l", "A.Stk"});
  EXPECT_EQ(r.out.substr(0, Banner().size() + 26), Banner() + "Searching  STK (16720 file");
  EXPECT_EQ(r.exitCode, 6);  // 16720 entries of 22 bytes do not fit the file
  EXPECT_EQ(r.err, "\tread failed: unexpected end of file\n");
}

TEST(Detection, DirFilesSkipTheHeader) {
  TempDir dir;
  dir.Write("tree.DIR", "");
  RunResult r = Vrex(dir.path(), {"l", "tree.DIR"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out.find("Searching"), std::string::npos);
}

struct BrokenCase {
  const char* file;
  std::string bytes;
};

TEST(Detection, EmptyOrUnreadableHeadersAreBrokenArchives) {
  TempDir dir;
  const BrokenCase cases[] = {
      {"empty.wad", Bytes().Raw("IWAD").U32(0).U32(12).str()},
      {"empty.pak", Bytes().Raw("PACK").U32(12).U32(0).str()},
      {"cut.pak", Bytes().Raw("PACK").U32(12).U16(64).str()},  // size field cut short
      {"cut.lod", Bytes().Raw("LOD").U8(0).U32(7).str()},
      {"cut.mvl", Bytes().Raw("DMVL").U16(1).str()},
      {"cut.bin", Bytes().Raw("CSid").U8(1).str()},
      {"zero.stk", Bytes().U16(0).str()},
      {"w2.wad", Bytes().Raw("WAD2").U32(0).U32(0).str()},
  };
  for (const auto& c : cases) {
    dir.Write(c.file, c.bytes);
    RunResult r = Vrex(dir.path(), {"l", c.file});
    EXPECT_EQ(r.exitCode, 5) << c.file;
    EXPECT_EQ(r.out, Banner() + "\t" + c.file + ": brocken archive\n") << c.file;
  }
}

TEST(Directory, EntryCountIsTheSizeDividedByTheEntrySize) {
  TempDir dir;
  std::string bytes = TwoMembers();
  // dirLength 100 holds one whole entry; 40 holds none.
  dir.Write("one.pak", Bytes().Raw(bytes).PatchU32(8, 100).Raw(std::string(36, '\0')).str());
  RunResult one = Vrex(dir.path(), {"l", "one.pak"});
  EXPECT_EQ(one.exitCode, 0);
  EXPECT_NE(one.out.find("Searching PACK (1 files)\n"), std::string::npos);
  EXPECT_NE(one.out.find("\n1 matches found\n"), std::string::npos);

  dir.Write("none.pak", Bytes().Raw(bytes).PatchU32(8, 40).str());
  RunResult none = Vrex(dir.path(), {"l", "none.pak"});
  EXPECT_EQ(none.exitCode, 0);
  EXPECT_EQ(none.out, Banner() + "Searching PACK (0 files)\n\n(no matches found)\n");
}

TEST(Directory, ADirectoryPastTheEndIsNotLoaded) {
  TempDir dir;
  // A directory length of 4 GiB - 64 in a tiny file: refused before any allocation.
  dir.Write("huge.pak", Bytes().Raw("PACK").U32(12).U32(0xFFFFFFC0).str());
  RunResult r = Vrex(dir.path(), {"l", "huge.pak"});
  EXPECT_EQ(r.exitCode, 6);
  EXPECT_EQ(r.out, Banner() + "Searching PACK (67108863 files)\n");
  EXPECT_EQ(r.err, "\tread failed: unexpected end of file\n");
}

TEST(Directory, AFailedAllocationEndsTheRun) {
  TempDir dir;
  dir.Write("a.pak", TwoMembers());
  Faults faults = {};
  faults.failAllocAbove = 127;  // the 128-byte directory block
  RunResult r = VrexInProcess(dir.path(), {"l", "a.pak"}, &faults);
  EXPECT_EQ(r.exitCode, 6);
  EXPECT_EQ(r.out, Banner() + "Searching PACK (2 files)\nCan't allocate 128l bytes\n");
}

TEST(Directory, AZeroDirectoryOffsetReadsBehindTheHeader) {
  TempDir dir;
  Bytes b;
  b.Raw("PACK").U32(0).U32(64).Name("hdr.txt", 56).U32(76).U32(3).Raw("abc");
  dir.Write("z.pak", b.str());
  RunResult r = Vrex(dir.path(), {"e", "z.pak"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(dir.Read("hdr.txt"), "abc");
}

TEST(Names, ListFileMessagesComeAfterTheSearchingLine) {
  TempDir dir;
  dir.Write("a.pak", TwoMembers());
  RunResult r = Vrex(dir.path(), {"l", "a.pak", "@"});
  std::string expected = Banner() + "Searching PACK (2 files)\nCan't load list file  - ignored\n";
  EXPECT_EQ(r.out.substr(0, expected.size()), expected);
}
}  // namespace
