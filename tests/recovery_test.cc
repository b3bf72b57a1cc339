// The recovery record of an interrupted deletion: other operations wait for
// it, a record that was never completed is discarded, and a record that
// can't be trusted stops the run instead of touching the archive.
#include <gtest/gtest.h>

#include "core/bytes.h"
#include "tests/support/faults.h"
#include "tests/support/e2e.h"
#include "tests/support/pack_builder.h"

namespace {
const std::string kFile =
    Pack().Member("junk", Pattern(100, 1)).Member("a", Pattern(3000, 2)).Member("b", Pattern(10, 3)).Bytes();
const std::string kExpected = Pack().Member("a", Pattern(3000, 2)).Member("b", Pattern(10, 3)).Bytes();

// Leaves `path`/`name` as a deletion of "junk" that failed at its first move.
void Interrupt(const TempDir& dir, const std::string& name) {
  dir.Write(name, kFile);
  Faults count = {};
  VrexInProcess(dir.path(), {"d", name, "b"}, &count);  // the last member: nothing moves
  dir.Write(name, kFile);
  Faults faults = {};
  faults.failRead = count.reads + 1;
  ASSERT_EQ(VrexInProcess(dir.path(), {"d", name, "junk"}, &faults).exitCode, 7);
  ASSERT_TRUE(dir.Exists(name + ".vrex-recovery"));
}

TEST(Recovery, OtherOperationsWaitForTheInterruptedDeletion) {
  TempDir dir;
  Interrupt(dir, "a.pak");
  const std::string interrupted = dir.Read("a.pak");
  for (const char* op : {"l", "e", "x", "t"}) {
    RunResult r = Vrex(dir.path(), {op, "a.pak"});
    EXPECT_EQ(r.exitCode, 8) << op;
    EXPECT_EQ(r.out, Banner() + "\ta.pak: an interrupted deletion is not finished - repeat the interrupted command to complete it\n")
        << op;
  }
  EXPECT_EQ(dir.Tree().size(), 2u) << "nothing extracted";
  EXPECT_EQ(dir.Read("a.pak"), interrupted);
}

TEST(Recovery, TheRecordLiesBesideTheArchive) {
  TempDir dir;
  ASSERT_TRUE(SystemFileSystem().MakeFolder(dir.Join("sub").c_str()));
  Interrupt(dir, "sub/a.pak");
  RunResult r = Vrex(dir.path(), {"d", "sub/a.pak", "junk"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, Banner() + "Finished the interrupted deletion in sub/a.pak\nSearching PACK (2 files)\n"
                              "\n(no matches found)\n");
  EXPECT_EQ(dir.Read("sub/a.pak"), kExpected);
  EXPECT_EQ(dir.Tree().size(), 2u);
}

// a and m write too: they finish the pending job, then store their files.
TEST(Recovery, AddingFinishesTheInterruptedJobFirst) {
  TempDir dir;
  Interrupt(dir, "a.pak");
  dir.Write("c", "C");
  RunResult r = Vrex(dir.path(), {"a", "a.pak", "c"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, Banner() + "Finished the interrupted deletion in a.pak\nSearching PACK (2 files)\nAdding c\n"
                              "\n1 files stored\n");
  EXPECT_EQ(PackMembers(dir.Read("a.pak")),
            (std::vector<std::pair<std::string, std::string>>{
                {"a", Pattern(3000, 2)}, {"b", Pattern(10, 3)}, {"c", "C"}}));
  EXPECT_FALSE(dir.Exists("a.pak.vrex-recovery"));
}

TEST(Recovery, ARecordThatWasNeverCompletedIsDiscarded) {
  TempDir dir;
  dir.Write("a.pak", kFile);
  dir.Write("a.pak.vrex-recovery", "VREXREC1 cut short");
  EXPECT_EQ(Vrex(dir.path(), {"l", "a.pak"}).exitCode, 8);
  RunResult r = Vrex(dir.path(), {"d", "a.pak", "junk"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, Banner() + "Discarded the recovery record of a.pak: the interrupted deletion had not begun\n"
                              "Searching PACK (3 files)\nDeleting junk\n\n1 matches found\n");
  EXPECT_EQ(dir.Read("a.pak"), kExpected);
  EXPECT_FALSE(dir.Exists("a.pak.vrex-recovery"));
}

TEST(Recovery, ARecordThatCantBeTrustedLeavesEverythingAsItIs) {
  TempDir dir;
  Interrupt(dir, "a.pak");
  const std::string interrupted = dir.Read("a.pak");
  std::string record = dir.Read("a.pak.vrex-recovery");
  uint32_t body = ReadU32LE(reinterpret_cast<const uint8_t*>(record.data() + 12));
  std::string damaged = record;
  damaged[(body + 63) / 64 * 64 + 4] ^= 0x40;  // the progress entry
  dir.Write("a.pak.vrex-recovery", damaged);
  RunResult r = Vrex(dir.path(), {"d", "a.pak", "junk"});
  EXPECT_EQ(r.exitCode, 8);
  EXPECT_EQ(r.out, Banner() + "\ta.pak: the interrupted deletion could not be finished\n");
  EXPECT_EQ(dir.Read("a.pak"), interrupted);
  EXPECT_EQ(dir.Read("a.pak.vrex-recovery"), damaged);

  // A record of another archive: its magic differs.
  dir.Write("a.pak.vrex-recovery", record);
  dir.Write("a.pak", "PWAD" + interrupted.substr(4));
  r = Vrex(dir.path(), {"d", "a.pak", "junk"});
  EXPECT_EQ(r.exitCode, 8);
  EXPECT_EQ(dir.Read("a.pak"), "PWAD" + interrupted.substr(4));
}
}  // namespace
