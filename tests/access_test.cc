// Archive access routines.
#include "core/access.h"

#include <gtest/gtest.h>

#include "core/file.h"
#include "core/state.h"
#include "tests/support/e2e.h"

namespace {

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

}  // namespace
