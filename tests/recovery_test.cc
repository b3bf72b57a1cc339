// The recovery record of an interrupted deletion: other operations wait for
// it, a record that was never completed is discarded, a record that can't be
// trusted or belongs to another archive (STK: no magic) stops the run instead
// of touching the archive, and records of the first version still finish.
#include <gtest/gtest.h>
#include <zlib.h>

#include "core/bytes.h"
#include "tests/support/faults.h"
#include "tests/support/archive_members.h"
#include "tests/support/bytes_builder.h"
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
// A record written by the first version, for the deletion of "junk" from
// kFile before its one move: the data of a and b go down over junk's, the
// directory behind them.
TEST(Recovery, ARecordOfTheFirstVersionIsFinished) {
  Bytes body;
  std::string directory = Bytes().Name("a", 56).U32(12).U32(3000).Name("b", 56).U32(3012).U32(10).str();
  body.Raw("VREXREC1").U32(0).U32(68 + 12 + 128).Raw(kFile.substr(0, 12)).U32(3022).U32(128).U32(3022).U32(128);
  body.U32(3150).U32(0).U32(uint32_t(kFile.size())).U32(0).U32(1).U32(0).U32(112).U32(12).U32(3010).Raw(directory);
  std::string record = body.str();
  uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(record.data() + 12), uInt(record.size() - 12)));
  record.replace(8, 4, Bytes().U32(crc).str());
  std::string progress = Bytes().U32(0).U32(0).U32(0).str();
  crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(progress.data()), 12));
  record += std::string(256 - record.size(), '\0') + progress + Bytes().U32(crc).str();
  TempDir dir;
  dir.Write("a.pak", kFile);
  dir.Write("a.pak.vrex-recovery", record);
  EXPECT_EQ(Vrex(dir.path(), {"x", "a.pak"}).exitCode, 8);
  RunResult r = Vrex(dir.path(), {"d", "a.pak", "junk"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, Banner() + "Finished the interrupted deletion in a.pak\nSearching PACK (2 files)\n"
                              "\n(no matches found)\n");
  EXPECT_EQ(dir.Tree(), (std::map<std::string, std::string>{{"a.pak", kExpected}}));
}

// An STK has no magic: the record names archive bytes its job never writes.
TEST(Recovery, TheRecordOfAnStkBelongsToItsArchiveOnly) {
  TempDir dir;
  const std::string stk = MakeArchive("a.stk", {{"one", "1111"}, {"two", "2222"}});
  dir.Write("two", "new");
  dir.Write("a.stk", stk);
  Faults count;
  VrexInProcess(dir.path(), {"a", "a.stk", "two"}, &count);
  std::string pending;
  for (unsigned long k = 1; k <= count.writes && pending.empty(); ++k) {
    dir.Write("a.stk", stk);
    Faults faults;
    faults.failWrite = k;
    if (VrexInProcess(dir.path(), {"a", "a.stk", "two"}, &faults).exitCode == 8) pending = dir.Read("a.stk");
  }
  ASSERT_FALSE(pending.empty()) << "a run that fails behind its record";
  const std::string other = MakeArchive("a.stk", {{"one", "1111"}, {"two", "2223"}});
  dir.Write("a.stk", other + pending.substr(other.size()));
  RunResult r = Vrex(dir.path(), {"a", "a.stk", "two"});
  EXPECT_EQ(r.exitCode, 8);
  EXPECT_EQ(r.out, Banner() + "\ta.stk: the interrupted update could not be finished\n");
  dir.Write("a.stk", pending);
  EXPECT_EQ(Vrex(dir.path(), {"a", "a.stk", "two"}).exitCode, 0);
  Members members;
  ASSERT_TRUE(ReadMembers("a.stk", dir.Read("a.stk"), &members));
  EXPECT_EQ(members, (Members{{"one", "1111"}, {"two", "new"}}));
}
}  // namespace
