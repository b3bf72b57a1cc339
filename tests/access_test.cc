// Archive access routines and the rules for output paths and folders.
#include "core/access.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "core/file.h"
#include "tests/support/e2e.h"

namespace {

TEST(OutputPaths, StayInsideTheCurrentFolder) {
  const struct {
    const char* path;
    int safe;
  } cases[] = {
      {"a.txt", 1},   {"maps/e1m1.bsp", 1}, {"..x", 1},       {"x..", 1},      {"a/..b/c", 1},
      {"", 1},        {"..", 0},            {"../a", 0},      {"a/..", 0},     {"a\\..\\b", 0},
      {"/etc/x", 0},  {"\\x", 0},           {"C:x", 0},       {"z:\\x", 0},    {"1:x", 1},
  };
  for (const auto& c : cases) EXPECT_EQ(IsSafeOutputPath(c.path), c.safe) << c.path;
}

class Access : public ::testing::Test {
 protected:
  void SetUp() override {
    state.fs = &SystemFileSystem();
    dir.Write("f", "0123456789");
  }
  void Open(int readWrite) {
    file = OpenArchiveFile(SystemFileSystem(), dir.Join("f").c_str(), readWrite);
    state.archive = file.get();
  }
  TempDir dir;
  ArchiverState state;
  std::unique_ptr<File> file;
};

TEST_F(Access, OffsetZeroContinuesWhereTheLastTransferStopped) {
  Open(1);
  ASSERT_NE(state.archive, nullptr);
  char a[4] = {}, b[4] = {};
  EXPECT_EQ(ReadAt(a, 0, 3, *state.archive), 1);
  EXPECT_EQ(ReadAt(b, 0, 3, *state.archive), 1);
  EXPECT_STREQ(a, "012");
  EXPECT_STREQ(b, "345");
  EXPECT_EQ(ReadAt(a, 8, 2, *state.archive), 1);
  EXPECT_STREQ(a, "892");
  EXPECT_EQ(WriteAt("AB", 1, 2, *state.archive), 1);
  EXPECT_EQ(WriteAt("CD", 0, 2, *state.archive), 1);
  // Empty blocks are done without a word.
  EXPECT_EQ(ReadAt(a, 0, 0, *state.archive), 1);
  EXPECT_EQ(WriteAt(a, 0, 0, *state.archive), 1);
  EXPECT_EQ(CloseArchiveFile(*state.archive), 1);
  EXPECT_EQ(dir.Read("f"), "0ABCD56789");
}

TEST_F(Access, ShortReadsAndFailedWritesAreReported) {
  Open(0);
  char buffer[16];
  testing::internal::CaptureStderr();
  EXPECT_EQ(ReadAt(buffer, 5, 16, *state.archive), 0);
  EXPECT_EQ(WriteAt("x", 2, 1, *state.archive), 0);  // opened for reading only
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.substr(0, 36), "\tread failed: unexpected end of file");
  EXPECT_EQ(err.rfind("\twrite failed: ", 37), 37u);
}

TEST_F(Access, BackslashFoldersBecomeRealFoldersForWadFormats) {
  state.formatTag = TAG_IWAD;
  state.withFolders = 1;
  char path[] = "S_START\\MAP01\\THINGS";
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  MakeFolders(state, path);
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_STREQ(path, "S_START\\MAP01\\THINGS");
  EXPECT_TRUE(dir.IsDir("S_START/MAP01"));
  EXPECT_FALSE(dir.Exists("S_START/MAP01/THINGS"));

  char out[64];
  EXPECT_STREQ(OutputName(TAG_IWAD, "A\\B/C\\D", 1, out), "A/B/C/D");
  EXPECT_STREQ(OutputName(TAG_IWAD, "A\\B/C\\D", 0, out), "D");
  EXPECT_STREQ(OutputName(TAG_IWAD, "A\\B/C", 0, out), "B/C");  // "/" is no separator here
  EXPECT_STREQ(OutputName(TAG_PACK, "A\\B/C", 0, out), "C");
}

TEST_F(Access, FolderErrorsDoNotStopTheMember) {
  state.formatTag = TAG_PACK;
  dir.Write("blocker", "");
  char path[] = "blocker/sub/file";
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  testing::internal::CaptureStdout();
  MakeFolders(state, path);  // "blocker" exists (as a file) and is accepted; "sub" can't be made
  std::string out = testing::internal::GetCapturedStdout();
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_EQ(out, "\t--- folder error --- \n");
}

}  // namespace
