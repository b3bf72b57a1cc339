// DMVL files end to end: 17-byte directory records, members back to back
// behind the directory, listing, extraction and testing; every change
// rewrites the file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <vector>

#include "tests/support/bytes_builder.h"
#include "tests/support/e2e.h"
#include "tests/support/faults.h"

namespace {
const std::string kHeading = "\nname\t\tsize\t\tseek\t\tflags\n" + std::string(53, '-') + "\n";
// Listing rows: the name padded to 12 columns, a tab, the size padded to 7,
// a tab, the offset as 8 hex digits, a tab, the flags byte as 2 hex digits.

// Crafted DMVL files: magic, count, 17-byte records (name[12], flags byte,
// size), then the members' bytes. `size` may differ from the bytes given.
class Dmvl {
 public:
  Dmvl& Member(const std::string& name, const std::string& data, uint8_t flags = 0) {
    return Sized(name, data, uint32_t(data.size()), flags);
  }
  Dmvl& Sized(const std::string& name, const std::string& data, uint32_t size, uint8_t flags = 0) {
    entries_.push_back({name, data, size, flags});
    return *this;
  }
  std::string Bytes() const {
    ::Bytes out;
    std::string data;
    out.Raw("DMVL").U32(uint32_t(entries_.size()));
    for (const auto& e : entries_) {
      out.Name(e.name, 12).U8(e.flags).U32(e.size);
      data += e.data;
    }
    return out.str() + data;
  }

 private:
  struct E {
    std::string name, data;
    uint32_t size;
    uint8_t flags;
  };
  std::vector<E> entries_;
};

std::string Searching(int n) { return Banner() + "Searching DMVL (" + std::to_string(n) + " files)\n"; }

std::map<std::string, std::string> With(std::map<std::string, std::string> tree, const std::string& archive,
                                        const std::string& bytes) {
  tree[archive] = bytes;
  return tree;
}

TEST(Dmvl, FirstMemberLiesBehindSeventeenByteRecords) {
  TempDir dir;
  std::string one = Dmvl().Member("only.pcx", "PCX").Bytes();
  dir.Write("one.mvl", one);
  RunResult r = Vrex(dir.path(), {"l", "one.mvl"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, Searching(1) + kHeading + "only.pcx    \t3      \t00000019\t00\n" + "\n1 matches found\n");
  EXPECT_EQ(Vrex(dir.path(), {"x", "one.mvl"}).out, Searching(1) + "Extracting only.pcx\n\n1 matches found\n");
  EXPECT_EQ(dir.Read("only.pcx"), "PCX");
}

TEST(Dmvl, FullWidthNamesAndTheFlagsByteBehindThem) {
  TempDir dir;
  std::string mvl = Dmvl().Member("TwelveChars!", "0123", 0x80).Member("b.raw", "", 0xFE).Member("c", "z").Bytes();
  dir.Write("a.mvl", mvl);
  RunResult r = Vrex(dir.path(), {"l", "a.mvl"});
  // Directory: 8 + 3 * 17 = 59 = 0x3B.
  EXPECT_EQ(r.out, Searching(3) + kHeading +
                       "TwelveChars!\t4      \t0000003B\t80\n"
                       "b.raw       \t0      \t0000003F\tFE\n"
                       "c           \t1      \t0000003F\t00\n"
                       "\n3 matches found\n");
  RunResult e = Vrex(dir.path(), {"e", "a.mvl"});
  EXPECT_EQ(e.out, Searching(3) + "Extracting TwelveChars!\nExtracting b.raw\nExtracting c\n\n3 matches found\n");
  EXPECT_EQ(dir.Tree(), With({{"TwelveChars!", "0123"}, {"b.raw", ""}, {"c", "z"}}, "a.mvl", mvl));
}

TEST(Dmvl, ASelectedMemberIsReadFromTheSamePlaceAsInAFullWalk) {
  TempDir dir;
  std::string mvl = Dmvl().Member("first.dat", "11111").Member("Second.dat", "22").Member("third", "333").Bytes();
  dir.Write("a.mvl", mvl);
  RunResult l = Vrex(dir.path(), {"l", "a.mvl", "THIRD"});
  // 8 + 3 * 17 = 59; third lies behind 5 + 2 bytes.
  EXPECT_EQ(l.out, Searching(3) + kHeading + "third       \t3      \t00000042\t00\n" + "\n1 matches found\n");

  RunResult x = Vrex(dir.path(), {"x", "a.mvl", "third", "second.*"});
  EXPECT_EQ(x.out, Searching(3) + "Extracting SECOND.DAT\nExtracting THIRD\n\n2 matches found\n");
  EXPECT_EQ(dir.Tree(), With({{"Second.dat", "22"}, {"third", "333"}}, "a.mvl", mvl));
}

TEST(Dmvl, TestWritesNothingAndSizesPastTheEndAreReadErrors) {
  TempDir dir;
  std::string mvl = Dmvl().Member("a", "aa").Sized("huge", "bb", 0xFFFFFFF0).Member("after", "").Bytes();
  dir.Write("a.mvl", mvl);
  RunResult t = Vrex(dir.path(), {"t", "a.mvl"});
  EXPECT_EQ(t.out, Searching(3) + "Testing a\nTesting huge\n\t--- read error ---\nTesting after\n"
                                  "\n3 matches found\n");
  EXPECT_EQ(dir.Tree(), With({}, "a.mvl", mvl));
  // The running offset wraps modulo 2^32: 0x3B + 2 + 0xFFFFFFF0 = 0x2D.
  RunResult l = Vrex(dir.path(), {"l", "a.mvl", "after"});
  EXPECT_EQ(l.out, Searching(3) + kHeading + "after       \t0      \t0000002D\t00\n" + "\n1 matches found\n");
}

// A replaced entry keeps its byte 12, a new one has 0; the rewritten file
// keeps the archive's permission bits.
TEST(Dmvl, AddRewritesTheFileKeepingItsPermissions) {
  TempDir dir;
  dir.Write("a.mvl", Dmvl().Member("a.pcx", "old", 0x80).Member("b.raw", "bb").Bytes());
  ASSERT_EQ(chmod(dir.Join("a.mvl").c_str(), 0640), 0);
  dir.Write("A.PCX", "new a");
  dir.Write("c", "c");
  RunResult r = Vrex(dir.path(), {"a", "a.mvl", "A.PCX", "c"});
  EXPECT_EQ(r.out, Searching(2) + "Replacing a.pcx\nAdding c\n\n2 files stored\n");
  EXPECT_EQ(dir.Read("a.mvl"), Dmvl().Member("a.pcx", "new a", 0x80).Member("b.raw", "bb").Member("c", "c").Bytes());
  struct stat st;
  ASSERT_EQ(stat(dir.Join("a.mvl").c_str(), &st), 0);
  if (!TestingWindowsBinary()) {
    EXPECT_EQ(st.st_mode & 0777, 0640u);  // Windows keeps the read-only bit alone
  }
  ASSERT_EQ(Vrex(dir.path(), {"a", "new.mvl", "c"}).exitCode, 0);
  EXPECT_EQ(dir.Read("new.mvl"), Dmvl().Member("c", "c").Bytes());
}

// A file that comes up short fails the whole rewrite: the archive as it
// was, no temporary file.
TEST(Dmvl, AFileThatChangesWhileReadFailsTheRewrite) {
  TempDir dir;
  const std::string mvl = Dmvl().Member("a", "1").Bytes();
  dir.Write("a.mvl", mvl);
  dir.Write("b", "2");
  dir.Write("c", "3");
  Faults faults;
  faults.failReadsOf = "c";
  RunResult r = VrexInProcess(dir.path(), {"a", "a.mvl", "b", "c"}, &faults);
  EXPECT_EQ(r.exitCode, 7);
  EXPECT_EQ(r.out, Searching(1) + "Changed while read c - skipped\n\ta.mvl: the update failed - the archive is as it "
                                  "was\n\n(no files stored, 1 skipped)\n");
  EXPECT_EQ(dir.Tree(), With({{"b", "2"}, {"c", "3"}}, "a.mvl", mvl));
}

// d deletes by rewriting the file in its order.
TEST(Dmvl, DeleteRewritesTheRest) {
  TempDir dir;
  dir.Write("a.mvl", Dmvl().Member("a", "1").Member("b", "2", 9).Member("c", "3").Bytes());
  RunResult r = Vrex(dir.path(), {"d", "a.mvl", "a", "C"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, Searching(3) + "Deleting a\nDeleting c\n\n2 matches found\n");
  EXPECT_EQ(dir.Tree(), With({}, "a.mvl", Dmvl().Member("b", "2", 9).Bytes()));
}
}  // namespace
