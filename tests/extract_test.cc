// The rules for output paths and folders of member extraction, and the
// decode step a format may name.
#include "core/extract.h"

#include <gtest/gtest.h>

#include <cstring>

#include "core/file.h"
#include "tests/support/bytes_builder.h"
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

// Folders are made below the output folder.
class Folders : public ::testing::Test {
 protected:
  void SetUp() override {
    state.fs = &SystemFileSystem();
    state.outputFolder = dir.path().c_str();
  }
  TempDir dir;
  ArchiverState state;
};

TEST_F(Folders, BackslashFoldersBecomeRealFoldersForWadFormats) {
  state.formatTag = TAG_IWAD;
  state.withFolders = 1;
  EXPECT_TRUE(MakeFolders(state, "S_START\\MAP01\\THINGS"));
  EXPECT_TRUE(dir.IsDir("S_START/MAP01"));
  EXPECT_FALSE(dir.Exists("S_START/MAP01/THINGS"));

  char out[64];
  EXPECT_STREQ(OutputName(TAG_IWAD, "A\\B/C\\D", 1, out), "A/B/C/D");
  EXPECT_STREQ(OutputName(TAG_IWAD, "A\\B/C\\D", 0, out), "D");
  EXPECT_STREQ(OutputName(TAG_IWAD, "A\\B/C", 0, out), "B/C");  // "/" is no separator here
  EXPECT_STREQ(OutputName(TAG_PACK, "A\\B/C", 0, out), "C");
}

TEST_F(Folders, AFolderErrorIsReported) {
  state.formatTag = TAG_PACK;
  dir.Write("blocker", "");
  testing::internal::CaptureStdout();
  // "blocker" exists (as a file) and is accepted; "sub" can't be made.
  EXPECT_FALSE(MakeFolders(state, "blocker/sub/file"));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\t--- folder error --- \n");
}

// A decode step sees each chunk of the member with its position in it, over
// more chunks than one buffer holds.
TEST_F(Folders, ADecodeStepSeesEveryChunkAtItsPosition) {
  const std::string data = Pattern(EXTRACT_CHUNK + 1000, 3);
  dir.Write("a.bin", data);
  std::unique_ptr<File> archive = SystemFileSystem().Open(dir.Join("a.bin").c_str(), OPEN_READ, false);
  ASSERT_NE(archive, nullptr);
  state.archive = archive.get();
  state.archiveSize = data.size();
  Member m;
  m.name = strcpy(m.nameRoom, "OUT.BIN");
  m.stored = "out.bin";
  m.size = uint32_t(data.size());
  testing::internal::CaptureStdout();
  EXPECT_TRUE(ExtractStored(state, m, [](uint8_t* bytes, size_t length, uint64_t at) {
    for (size_t k = 0; k < length; ++k) bytes[k] ^= uint8_t((at + k) >> 1);
  }));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Extracting OUT.BIN\n");
  std::string expected = data;
  for (size_t i = 0; i < expected.size(); ++i) expected[i] = char(expected[i] ^ uint8_t(i >> 1));
  EXPECT_TRUE(dir.Read("out.bin") == expected);
}

}  // namespace
