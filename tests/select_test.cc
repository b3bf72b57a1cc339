// Name selection: the wildcard matcher, the name list and list files.
#include "core/select.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/file.h"
#include "tests/support/faults.h"
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

class NameListTest : public ::testing::Test {
 protected:
  void TearDown() override { ReleaseNames(&list, argv.data(), int(argv.size())); }
  void Collect(std::vector<std::string> args) {
    storage = std::move(args);
    argv.clear();
    for (auto& s : storage) argv.push_back(&s[0]);
    CollectNames(SystemFileSystem(), &list, int32_t(argv.size()), argv.data());
  }
  std::vector<std::string> Names() const { return std::vector<std::string>(list.names, list.names + list.count); }
  NameList list;
  TempDir dir;
  std::vector<std::string> storage;
  std::vector<char*> argv;
};

TEST_F(NameListTest, UpperCasesPatternsAndSkipsSwitches) {
  Collect({"maps/*", "/x", "-y", "e1-map", "", "Zz"});
  EXPECT_EQ(Names(), (std::vector<std::string>{"MAPS/*", "E1-MAP", "", "ZZ"}));
}

TEST_F(NameListTest, ReadsListFilesLineByLine) {
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

TEST_F(NameListTest, GrowsPastManyPatterns) {
  std::vector<std::string> args;
  for (int i = 0; i < 300; ++i) args.push_back("p" + std::to_string(i));
  Collect(args);
  ASSERT_EQ(list.count, 300);
  EXPECT_STREQ(list.names[299], "P299");
}

TEST_F(NameListTest, ReportsAFailedGrowthAndKeepsWhatItHas) {
  std::vector<std::string> args;
  for (int i = 0; i < 300; ++i) args.push_back("p");
  Faults faults;
  faults.failAlloc = 2;  // the second growth, at the 257th pattern
  InstallAllocationFaults(&faults);
  testing::internal::CaptureStdout();
  Collect(args);
  std::string out = testing::internal::GetCapturedStdout();
  InstallAllocationFaults(nullptr);
  EXPECT_EQ(out, "Can't allocate " + std::to_string(512 * sizeof(char*)) + "l bytes\n");
  EXPECT_EQ(list.count, 256);
}

TEST_F(NameListTest, SelectionIgnoresCaseOnlyThroughTheList) {
  char stored[] = "maps/e1m1.bsp";
  EXPECT_EQ(IsSelected(list, stored), 1);
  EXPECT_STREQ(stored, "maps/e1m1.bsp");  // no list: the stored case stays
  Collect({"MaPs/*"});
  EXPECT_EQ(IsSelected(list, stored), 1);
  EXPECT_STREQ(stored, "MAPS/E1M1.BSP");
  char other[] = "sound/a.wav";
  EXPECT_EQ(IsSelected(list, other), 0);
}

}  // namespace
