// Name selection: the wildcard matcher, the name list and list files.
#include "cli/select.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "cli/platform.h"
#include "cli/state.h"
#include "tests/support/e2e.h"
#include "tests/support/plain_match.h"

namespace {

struct MatchCase {
  const char* pattern;
  const char* name;
  int result;
};

TEST(MatchName, FollowsTheWildcardRules) {
  const MatchCase cases[] = {
      {"*", "E1M1.WAD", 1},  {"*", "", 1},           {"?", "A", 1},
      {"?", "", 1},          {"E1M?", "E1M1", 1},    {"E1M?", "E1M", 1},
      {"A*?", "A", 1},       {"A*?", "AB", 1},       {"*.WAD", "E1M1.WAD", 1},
      {"*.WAD", "E1M1.WAD2", 0}, {"*A", "BANANA", 1}, {"A*A", "A", 0},
      {"ABC", "abc", 0},     {"", "", 1},            {"", "A", 0},
      // A star in the name is taken as a literal against a star in the pattern.
      {"*X", "**X", 0},      {"*", "*", 1},          {"MAPS/*", "MAPS/E1M1.BSP", 1},
      {"??", "ABC", 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MatchName(c.name, c.pattern), c.result) << c.pattern << " vs " << c.name;
}

TEST(MatchName, AgreesWithThePlainAlgorithmOnRandomInput) {
  std::mt19937 random(20261207);
  const char alphabet[] = "AB*?";
  auto make = [&](size_t maxLength, int symbols) {
    std::string s(random() % (maxLength + 1), 'A');
    for (char& c : s) c = alphabet[random() % symbols];
    return s;
  };
  for (int i = 0; i < 200000; ++i) {
    std::string name = make(9, 3);  // names may hold a literal '*'
    std::string pattern = make(7, 4);
    ASSERT_EQ(MatchName(name.c_str(), pattern.c_str()), PlainMatch(name.c_str(), pattern.c_str()))
        << "pattern " << pattern << " name " << name;
  }
}

TEST(MatchName, AnswersPathologicalPatterns) {
  std::string name(4096, 'A');
  std::string pattern;
  for (int i = 0; i < 64; ++i) pattern += "*A";
  pattern += "B";
  // The naive recursion would not finish in the lifetime of the machine;
  // the test's time limit catches a return to it.
  EXPECT_EQ(MatchName(name.c_str(), pattern.c_str()), 0);
  pattern.back() = 'A';
  EXPECT_EQ(MatchName(name.c_str(), pattern.c_str()), 1);
}

class NameList : public ::testing::Test {
 protected:
  void SetUp() override { state = ArchiverState(); }
  void TearDown() override { ReleaseNames(argv.data(), int(argv.size())); }
  void Collect(std::vector<std::string> args) {
    storage = std::move(args);
    argv.clear();
    for (auto& s : storage) argv.push_back(&s[0]);
    CollectNames(int32_t(argv.size()), argv.data());
  }
  std::vector<std::string> Names() const {
    return std::vector<std::string>(state.names, state.names + state.nameCount);
  }
  TempDir dir;
  std::vector<std::string> storage;
  std::vector<char*> argv;
};

TEST_F(NameList, UpperCasesPatternsAndSkipsSwitches) {
  Collect({"maps/*", "/x", "-y", "e1-map", "", "Zz"});
  EXPECT_EQ(Names(), (std::vector<std::string>{"MAPS/*", "E1-MAP", "", "ZZ"}));
}

TEST_F(NameList, ReadsListFilesLineByLine) {
  std::string longLine(1500, 'q');
  dir.Write("list", "a\r\nb\n\n@c\n/d\n" + longLine + "\nlast");
  testing::internal::CaptureStdout();
  Collect({"first", "@" + dir.Join("list"), "@" + dir.Join("missing"), "end"});
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "Can't load list file " + dir.Join("missing") + " - ignored\n");
  EXPECT_EQ(Names(), (std::vector<std::string>{"FIRST", "A", "B", "", "@C", "/D",
                                                std::string(1023, 'Q'), std::string(477, 'Q'),
                                                "LAST", "END"}));
}

TEST_F(NameList, GrowsPastManyPatterns) {
  std::vector<std::string> args;
  for (int i = 0; i < 300; ++i) args.push_back("p" + std::to_string(i));
  Collect(args);
  ASSERT_EQ(state.nameCount, 300);
  EXPECT_STREQ(state.names[299], "P299");
}

TEST_F(NameList, ReportsAFailedGrowthAndKeepsWhatItHas) {
  std::vector<std::string> args;
  for (int i = 0; i < 300; ++i) args.push_back("p");
  PlatformFaults faults = {};
  faults.failAlloc = 2;  // the second growth, at the 257th pattern
  PlatformSetFaults(&faults);
  testing::internal::CaptureStdout();
  Collect(args);
  std::string out = testing::internal::GetCapturedStdout();
  PlatformSetFaults(nullptr);
  EXPECT_EQ(out, "Can't allocate " + std::to_string(512 * sizeof(char*)) + "l bytes\n");
  EXPECT_EQ(state.nameCount, 256);
}

TEST_F(NameList, SelectionIgnoresCaseOnlyThroughTheList) {
  char stored[] = "maps/e1m1.bsp";
  EXPECT_EQ(IsSelected(stored), 1);
  EXPECT_STREQ(stored, "maps/e1m1.bsp");  // no list: the stored case stays
  Collect({"MaPs/*"});
  EXPECT_EQ(IsSelected(stored), 1);
  EXPECT_STREQ(stored, "MAPS/E1M1.BSP");
  char other[] = "sound/a.wav";
  EXPECT_EQ(IsSelected(other), 0);
}

}  // namespace
