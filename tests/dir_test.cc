// Directory files end to end: the record walk, listing, extraction of files
// and folders, and files that nest too deep, loop or share sub-folders.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/bytes_builder.h"
#include "tests/support/e2e.h"

namespace {
constexpr uint32_t kFolder = 0xCDCDCD01;
constexpr uint32_t kEnd = 0xCDCDCDFF;
constexpr uint32_t kRecord = 44;

const std::string kHeading =
    "\nname                                                 size     seek\n" + std::string(66, '-') + "\n";
// Listing rows: the path padded to 48 columns (longer paths are kept whole),
// a space, the size right-aligned in 8 columns, a space, the offset as 8 hex
// digits.

std::string Rec(const std::string& name, uint32_t type, uint32_t size, uint32_t offset) {
  return Bytes().Name(name, 32).U32(type).U32(size).U32(offset).str();
}
// A folder record whose contents begin at record number `at`.
std::string Folder(const std::string& name, uint32_t at) { return Rec(name, kFolder, 0, at * kRecord); }
std::string File(const std::string& name, uint32_t size, uint32_t offset) { return Rec(name, 1, size, offset); }
std::string End() { return Rec("", kEnd, 0, 0); }

const std::string kWalkFailed = "\n4294967295 matches found\n";

std::map<std::string, std::string> With(std::map<std::string, std::string> tree, const std::string& archive,
                                        const std::string& bytes) {
  tree[archive] = bytes;
  return tree;
}

// The smallest sound file: folder Data holding a.txt ("hello" at 132).
std::string Example() { return Folder("Data", 1) + File("a.txt", 5, 3 * kRecord) + End() + "hello"; }

TEST(Dir, ListsFoldersAndFilesByPath) {
  TempDir dir;
  dir.Write("a.dir", Example());
  RunResult r = Vrex(dir.path(), {"l", "a.dir"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, Banner() + kHeading +
                       "Data\\                                                   0 0000002C\n"
                       "Data\\a.txt                                              5 00000084\n"
                       "\n2 matches found\n");

  // A name list upper-cases the whole path it matches against.
  RunResult txt = Vrex(dir.path(), {"l", "a.dir", "*.TXT"});
  EXPECT_EQ(txt.out, Banner() + kHeading +
                         "DATA\\A.TXT                                              5 00000084\n"
                         "\n1 matches found\n");
  RunResult all = Vrex(dir.path(), {"l", "a.dir", "*"});
  EXPECT_EQ(all.out, Banner() + kHeading +
                         "DATA\\                                                   0 0000002C\n"
                         "DATA\\A.TXT                                              5 00000084\n"
                         "\n2 matches found\n");
}

TEST(Dir, ExtensionIsComparedWithoutCase) {
  TempDir dir;
  dir.Write("b.DiR", Example());
  EXPECT_EQ(Vrex(dir.path(), {"l", "b.DiR"}).out,
            Banner() + kHeading +
                "Data\\                                                   0 0000002C\n"
                "Data\\a.txt                                              5 00000084\n"
                "\n2 matches found\n");
}

TEST(Dir, FolderRecordsMakeFoldersUnderXOnly) {
  std::string file = Example();
  TempDir x;
  x.Write("a.dir", file);
  RunResult rx = Vrex(x.path(), {"x", "a.dir"});
  EXPECT_EQ(rx.out, Banner() + "Extracting Data\\\nExtracting Data\\a.txt\n\n2 matches found\n");
  EXPECT_EQ(x.Tree(), With({{"Data/", ""}, {"Data/a.txt", "hello"}}, "a.dir", file));

  TempDir e;
  e.Write("a.dir", file);
  RunResult re = Vrex(e.path(), {"e", "a.dir"});
  EXPECT_EQ(re.out, Banner() + "Extracting Data\\\nExtracting Data\\a.txt\n\n2 matches found\n");
  EXPECT_EQ(e.Tree(), With({{"a.txt", "hello"}}, "a.dir", file));

  TempDir t;
  t.Write("a.dir", file);
  RunResult rt = Vrex(t.path(), {"t", "a.dir"});
  EXPECT_EQ(rt.out, Banner() + "Testing Data\\\nTesting Data\\a.txt\n\n2 matches found\n");
  EXPECT_EQ(t.Tree(), With({}, "a.dir", file));
}

TEST(Dir, NestedFoldersAreWalkedDepthFirstAndTheWalkResumesBehindThem) {
  // 0: Root -> 1;  1: Sub -> 4, 2: after.txt, 3: end;  4: in.txt, 5: Empty -> 7, 6: end;  7: end.
  std::string file = Folder("Root", 1) + Folder("Sub", 4) + File("after.txt", 2, 8 * kRecord) + End() +
                     File("in.txt", 3, 8 * kRecord + 2) + Folder("Empty", 7) + End() + End() + "AAiii";
  TempDir dir;
  dir.Write("n.dir", file);
  RunResult l = Vrex(dir.path(), {"l", "n.dir"});
  EXPECT_EQ(l.out, Banner() + kHeading +
                       "Root\\                                                   0 0000002C\n"
                       "Root\\Sub\\                                               0 000000B0\n"
                       "Root\\Sub\\in.txt                                         3 00000162\n"
                       "Root\\Sub\\Empty\\                                         0 00000134\n"
                       "Root\\after.txt                                          2 00000160\n"
                       "\n5 matches found\n");
  RunResult x = Vrex(dir.path(), {"x", "n.dir", "*\\SUB\\*"});
  EXPECT_EQ(x.out, Banner() + "Extracting ROOT\\SUB\\\nExtracting ROOT\\SUB\\IN.TXT\nExtracting ROOT\\SUB\\EMPTY\\\n"
                              "\n3 matches found\n");
  EXPECT_EQ(dir.Tree(), With({{"Root/", ""}, {"Root/Sub/", ""}, {"Root/Sub/in.txt", "iii"}, {"Root/Sub/Empty/", ""}},
                             "n.dir", file));
}

TEST(Dir, ZeroSizeFilesAndFilesPastTheEnd) {
  std::string file = Folder("D", 1) + File("empty", 0, 0) + File("past", 10, 170) + End();
  TempDir dir;
  dir.Write("a.dir", file);
  RunResult r = Vrex(dir.path(), {"x", "a.dir"});
  EXPECT_EQ(r.exitCode, 4);
  EXPECT_EQ(r.out, Banner() + "Extracting D\\\nExtracting D\\empty\nExtracting D\\past\n\t--- read error ---\n"
                              "\n3 matches found\n");
  EXPECT_EQ(dir.Tree(), With({{"D/", ""}, {"D/empty", ""}}, "a.dir", file));
}

TEST(Dir, MissingRootEndRecordEndsWithTheReadFailure) {
  std::string file = Folder("D", 1) + File("f", 0, 0);
  TempDir dir;
  dir.Write("a.dir", file);
  RunResult r = Vrex(dir.path(), {"l", "a.dir"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, Banner() + kHeading +
                       "D\\                                                      0 0000002C\n"
                       "D\\f                                                     0 00000000\n"
                       "\n2 matches found\n");
  EXPECT_EQ(r.err, "\tread failed: unexpected end of file\n");
}

TEST(Dir, EndRecordBeforeAnyFolderFailsTheWalk) {
  TempDir dir;
  dir.Write("a.dir", End() + Folder("D", 2) + End());
  EXPECT_EQ(Vrex(dir.path(), {"l", "a.dir"}).out, Banner() + kHeading + kWalkFailed);
  // A file record first is walked at the top; the end record then fails.
  dir.Write("b.dir", File("top", 0, 0) + End());
  EXPECT_EQ(Vrex(dir.path(), {"l", "b.dir"}).out,
            Banner() + kHeading + "top                                                     0 00000000\n" + kWalkFailed);
}

// `levels` folders named D, each holding the next; each record is read once:
// record 0 opens the first, then block k is [folder k -> block k + 1, end].
std::string Nested(int levels) {
  std::string file = Folder("D", 1);
  for (int k = 1; k < levels; ++k) file += Folder("D", uint32_t(2 * k + 1)) + End();
  return file + File("f", 0, 0) + End();
}

TEST(Dir, ThirtyOneFoldersNestButNotThirtyTwo) {
  TempDir dir;
  dir.Write("ok.dir", Nested(31));
  // Folder k opens record 2k + 1: its seek is (2k + 1) * 44.
  const char* const kSeeks[31] = {
      "0000002C", "00000084", "000000DC", "00000134", "0000018C", "000001E4", "0000023C", "00000294",
      "000002EC", "00000344", "0000039C", "000003F4", "0000044C", "000004A4", "000004FC", "00000554",
      "000005AC", "00000604", "0000065C", "000006B4", "0000070C", "00000764", "000007BC", "00000814",
      "0000086C", "000008C4", "0000091C", "00000974", "000009CC", "00000A24", "00000A7C"};
  // Paths grow to 62 characters: those under 48 are padded, the others kept whole.
  auto padded = [](const std::string& p) { return p + std::string(p.size() < 48 ? 48 - p.size() : 0, ' '); };
  std::string expected = Banner() + kHeading;
  std::string path;
  for (int k = 0; k < 31; ++k) {
    path += "D\\";
    expected += padded(path) + "        0 " + kSeeks[k] + "\n";
  }
  RunResult ok = Vrex(dir.path(), {"l", "ok.dir"});
  EXPECT_EQ(ok.out, expected + path + "f        0 00000000\n" + "\n32 matches found\n");

  dir.Write("deep.dir", Nested(32));
  RunResult deep = Vrex(dir.path(), {"x", "deep.dir"});
  std::string extracted = Banner();
  path.clear();
  for (int k = 0; k < 31; ++k) extracted += "Extracting " + (path += "D\\") + "\n";
  EXPECT_EQ(deep.out, extracted + kWalkFailed);
  EXPECT_EQ(deep.exitCode, 4);
  std::string made = "D";
  for (int k = 1; k < 31; ++k) made += "/D";
  EXPECT_TRUE(dir.IsDir(made));
  EXPECT_FALSE(dir.Exists(made + "/D"));
}

TEST(Dir, PathsThatDoNotFitTheBufferFailTheWalk) {
  // Seven folders of 32-byte names without a terminator make a 231-byte
  // path; a 24-byte file name and its terminator fill the 256-byte buffer.
  std::string name(32, 'N');
  auto build = [&](const std::string& fileName, bool eighthFolder) {
    std::string file = Folder(name, 1);
    for (uint32_t k = 1; k < 7; ++k) file += Folder(name, 2 * k + 1) + End();
    if (eighthFolder) return file + Folder(name, 15) + End() + End();
    return file + File(fileName, 0, 0) + End();
  };
  std::string path;
  for (int k = 0; k < 7; ++k) path += name + "\\";
  TempDir dir;
  dir.Write("fits.dir", build(std::string(24, 'f'), false));
  RunResult fits = Vrex(dir.path(), {"l", "fits.dir", "*F"});
  EXPECT_EQ(fits.out, Banner() + kHeading + path + std::string(24, 'F') + "        0 00000000\n" +
                          "\n1 matches found\n");

  dir.Write("file.dir", build(std::string(25, 'f'), false));
  EXPECT_EQ(Vrex(dir.path(), {"l", "file.dir", "*F"}).out, Banner() + kHeading + kWalkFailed);
  dir.Write("folder.dir", build("", true));
  RunResult folder = Vrex(dir.path(), {"t", "folder.dir"});
  EXPECT_EQ(folder.out.substr(folder.out.size() - kWalkFailed.size()), kWalkFailed);
  EXPECT_EQ(std::count(folder.out.begin(), folder.out.end(), '\n'), 1 + 7 + 2);
}

TEST(Dir, AFolderThatLoopsBackIntoAnOpenFolderFailsTheWalk) {
  // 0: Root -> 1;  1: Loop -> 1 (Root's own contents), 2: end.
  TempDir dir;
  dir.Write("loop.dir", Folder("Root", 1) + Folder("Loop", 1) + End());
  EXPECT_EQ(Vrex(dir.path(), {"l", "loop.dir"}).out,
            Banner() + kHeading + "Root\\                                                   0 0000002C\n" + kWalkFailed);
  // A folder holding its own record nests until it is caught.
  dir.Write("self.dir", Folder("Root", 1) + Folder("Self", 0) + End());
  RunResult self = Vrex(dir.path(), {"l", "self.dir"});
  EXPECT_EQ(self.out.substr(self.out.size() - kWalkFailed.size()), kWalkFailed);
}

TEST(Dir, SharedSubFoldersCannotMultiplyTheWork) {
  // 30 levels, each holding two folder records that open the same next
  // level: 2^30 paths if every one were walked.
  std::string file = Folder("R", 1);
  for (uint32_t k = 0; k < 29; ++k) file += Folder("A", 1 + 3 * (k + 1)) + Folder("B", 1 + 3 * (k + 1)) + End();
  file += End();
  TempDir dir;
  dir.Write("s.dir", file);
  RunResult r = Vrex(dir.path(), {"l", "s.dir"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out.substr(r.out.size() - kWalkFailed.size()), kWalkFailed);
  // At most one line per record the file can hold.
  EXPECT_LE(std::count(r.out.begin(), r.out.end(), '\n'), long(4 + file.size() / kRecord + 1 + 2));
  // A file read once, record by record, is walked whole: one shared use.
  std::string once = Folder("R", 1) + Folder("A", 3) + End() + File("f", 0, 0) + End();
  dir.Write("once.dir", once);
  EXPECT_EQ(Vrex(dir.path(), {"l", "once.dir"}).out,
            Banner() + kHeading +
                "R\\                                                      0 0000002C\n"
                "R\\A\\                                                    0 00000084\n"
                "R\\A\\f                                                   0 00000000\n"
                "\n3 matches found\n");
}

TEST(Dir, DeleteListsNothingAndChangesNothing) {
  TempDir dir;
  dir.Write("a.dir", Example());
  RunResult r = Vrex(dir.path(), {"d", "a.dir", "*.txt"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, Banner() + "\n1 matches found\n");
  EXPECT_EQ(dir.Tree(), With({}, "a.dir", Example()));
}
}  // namespace
