// Descent HOG archives end to end: the chain of entries walked from the
// file, listing, extraction and testing, and chains the file cuts short;
// records appended, same-size replacements in place, other changes and
// deletion by a rewrite.
#include <gtest/gtest.h>

#include "tests/support/bytes_builder.h"
#include "tests/support/e2e.h"

namespace {
const std::string kHeading = "\nname\t\tsize\tseek\n--------------------------------\n";

// "DHF", then each entry's 13-byte name and u32 size, followed by its data.
std::string Hog(std::initializer_list<std::pair<std::string, std::string>> entries) {
  Bytes b;
  b.Raw("DHF");
  for (const auto& e : entries) b.Name(e.first, 13).U32(uint32_t(e.second.size())).Raw(e.second);
  return b.str();
}

std::string Searching(int n) { return Banner() + "Searching  DHF (" + std::to_string(n) + " files)\n"; }

TEST(Hog, ListsExtractsAndTestsTheChain) {
  TempDir dir;
  std::string level = Pattern(300, 7);
  std::string hog = Hog({{"descent.txb", "text"}, {"level01.rdl", level}, {"thirteen.char", "13"}});
  dir.Write("d.hog", hog);

  RunResult l = Vrex(dir.path(), {"l", "d.hog"});
  EXPECT_EQ(l.exitCode, 0);
  EXPECT_EQ(l.out, Searching(3) + kHeading +
                       "descent.txb  \t4      \t00000014\n"
                       "level01.rdl  \t300    \t00000029\n"
                       "thirteen.char\t2      \t00000166\n"
                       "\n3 matches found\n");

  RunResult x = Vrex(dir.path(), {"x", "d.hog"});
  EXPECT_EQ(x.out, Searching(3) + "Extracting descent.txb\nExtracting level01.rdl\nExtracting thirteen.char\n"
                                  "\n3 matches found\n");
  EXPECT_EQ(dir.Tree(), (std::map<std::string, std::string>{
                            {"d.hog", hog}, {"descent.txb", "text"}, {"level01.rdl", level}, {"thirteen.char", "13"}}));

  RunResult t = Vrex(dir.path(), {"t", "d.hog", "*.RDL"});
  EXPECT_EQ(t.out, Searching(3) + "Testing LEVEL01.RDL\n\n1 matches found\n");
}

TEST(Hog, PatternsSelectAndTheFileKeepsTheStoredName) {
  TempDir dir;
  dir.Write("d.hog", Hog({{"level01.rdl", "L1"}, {"level02.rdl", "L2"}}));
  RunResult e = Vrex(dir.path(), {"e", "d.hog", "level02.rdl"});
  EXPECT_EQ(e.out, Searching(2) + "Extracting LEVEL02.RDL\n\n1 matches found\n");
  EXPECT_EQ(dir.Tree(), (std::map<std::string, std::string>{{"d.hog", dir.Read("d.hog")}, {"level02.rdl", "L2"}}));
}

struct CutCase {
  const char* label;
  std::string tail;  // bytes behind two whole entries
  const char* named;
};

// An entry whose data would run past the end of the file, or a header the
// file cuts short, ends the chain: it is named, the entries before it work.
TEST(Hog, AChainCutShortKeepsTheEntriesBeforeIt) {
  const CutCase cases[] = {
      {"data past the end", Bytes().Name("big.pig", 13).U32(1000).Raw("only a little").str(), "big.pig"},
      {"size of 4 GiB", Bytes().Name("huge.pig", 13).U32(0xFFFFFFFF).str(), "huge.pig"},
      {"header cut short", "half.n", "half.n"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    std::string hog = Hog({{"a.txt", "A"}, {"b.txt", "BB"}}) + c.tail;
    dir.Write("d.hog", hog);
    std::string report = std::string("\t") + c.named +
                         ": entry cut short by the end of the file - the entries before it are complete\n";
    RunResult l = Vrex(dir.path(), {"l", "d.hog"});
    EXPECT_EQ(l.exitCode, 0) << c.label;
    EXPECT_EQ(l.out, Searching(2) + kHeading + "a.txt        \t1      \t00000014\n"
                                               "b.txt        \t2      \t00000026\n" +
                         report + "\n2 matches found\n")
        << c.label;
    RunResult x = Vrex(dir.path(), {"x", "d.hog"});
    EXPECT_EQ(x.exitCode, 4) << c.label;  // the entry cut short is a member that can't be read whole
    EXPECT_EQ(x.out, Searching(2) + "Extracting a.txt\nExtracting b.txt\n" + report + "\n2 matches found\n")
        << c.label;
    EXPECT_EQ(Vrex(dir.path(), {"x", "d.hog", "a.txt"}).exitCode, 0) << c.label;
    EXPECT_EQ(dir.Tree(), (std::map<std::string, std::string>{{"d.hog", hog}, {"a.txt", "A"}, {"b.txt", "BB"}}))
        << c.label;
  }
}

TEST(Hog, AChainWithoutAWholeEntryIsABrokenArchive) {
  for (const std::string& bytes : {std::string("DHF"), Hog({}) + Bytes().Name("x", 13).U32(5).str()}) {
    TempDir dir;
    dir.Write("d.hog", bytes);
    RunResult r = Vrex(dir.path(), {"l", "d.hog"});
    EXPECT_EQ(r.exitCode, 5);
    EXPECT_EQ(r.out, Banner() + "\td.hog: brocken archive\n");
  }
}
// New records go behind the chain and a file of a member's size takes its
// place, the bytes before untouched; any other size rewrites the chain, as
// deletion does, and a torn tail goes with it.
TEST(Hog, AppendsAndReplacesInPlaceOrRewrites) {
  TempDir dir;
  const std::string before = Hog({{"a.txt", "AAAA"}, {"b.rdl", "BB"}});
  dir.Write("d.hog", before);
  dir.Write("c.txb", "new");
  dir.Write("a.txt", "aaaa");
  RunResult r = Vrex(dir.path(), {"a", "d.hog", "c.txb", "a.txt"});
  EXPECT_EQ(r.out, Searching(2) + "Adding c.txb\nReplacing a.txt\n\n2 files stored\n");
  EXPECT_EQ(dir.Read("d.hog"), Hog({{"a.txt", "aaaa"}, {"b.rdl", "BB"}, {"c.txb", "new"}}));

  dir.Write("d.hog", before + "torn");
  dir.Write("b.rdl", "longer");
  ASSERT_EQ(Vrex(dir.path(), {"a", "d.hog", "b.rdl"}).exitCode, 0);
  EXPECT_EQ(dir.Read("d.hog"), Hog({{"a.txt", "AAAA"}, {"b.rdl", "longer"}}));
  RunResult d = Vrex(dir.path(), {"d", "d.hog", "A.TXT"});
  EXPECT_EQ(d.out, Searching(2) + "Deleting a.txt\n\n1 matches found\n");
  EXPECT_EQ(dir.Read("d.hog"), Hog({{"b.rdl", "longer"}}));
  EXPECT_EQ(dir.Tree().size(), 4u) << "no record, no temporary file";
}

TEST(Hog, ANewHogIsTheMagicAndItsRecords) {
  TempDir dir;
  dir.Write("x.bin", "xx");
  ASSERT_EQ(Vrex(dir.path(), {"af", "new.HOG", "x.bin"}).exitCode, 0);
  EXPECT_EQ(dir.Read("new.HOG"), Hog({{"x.bin", "xx"}}));
}
}  // namespace
