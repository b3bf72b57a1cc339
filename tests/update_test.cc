// The update engine on PACK archives: what a run writes and where, what a
// failed run leaves (the archive as before, byte for byte), shared data,
// dead space and its reclaim, the 2 GiB limit, and files that change while
// they are read.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "tests/support/archive_members.h"
#include "tests/support/bytes_builder.h"
#include "tests/support/e2e.h"
#include "tests/support/faults.h"
#include "tests/support/pack_builder.h"

namespace {
uint32_t U32(const std::string& s, size_t at) {
  return uint32_t(uint8_t(s[at])) | uint32_t(uint8_t(s[at + 1])) << 8 | uint32_t(uint8_t(s[at + 2])) << 16 |
         uint32_t(uint8_t(s[at + 3])) << 24;
}

Members PackOf(const std::string& file) { return PackMembers(file); }

const std::string kBig = Pattern(40000, 1);

// The new data and directory go behind the old end; nothing before it
// changes but the two header words.
TEST(Update, WritesBehindTheOldEndAndCommitsWithTheHeader) {
  TempDir dir;
  std::string before = Pack().Member("big", kBig).Member("small", "s").Bytes();
  dir.Write("a.pak", before);
  dir.Write("small", "S2");
  dir.Write("new", "N");
  RunResult r = Vrex(dir.path(), {"a", "a.pak", "small", "new"});
  EXPECT_EQ(r.exitCode, 0);
  std::string after = dir.Read("a.pak");
  ASSERT_EQ(after.size(), before.size() + 3 + 3 * 64);
  EXPECT_EQ(after.substr(12, before.size() - 12), before.substr(12)) << "old bytes untouched";
  EXPECT_EQ(U32(after, 4), before.size() + 3);
  EXPECT_EQ(PackOf(after),
            (std::vector<std::pair<std::string, std::string>>{{"big", kBig}, {"small", "S2"}, {"new", "N"}}));
}

// Two entries share their bytes: replacing one leaves the other its own.
TEST(Update, SharedDataStaysWithTheEntryNotReplaced) {
  TempDir dir;
  dir.Write("a.pak", Pack().Member("one", kBig).Entry("two", 12, 40000).Bytes());
  dir.Write("two", "fresh");
  ASSERT_EQ(Vrex(dir.path(), {"a", "a.pak", "two"}).exitCode, 0);
  EXPECT_EQ(PackOf(dir.Read("a.pak")),
            (std::vector<std::pair<std::string, std::string>>{{"one", kBig}, {"two", "fresh"}}));
}

// Dead space is reclaimed once it passes a quarter of the file; the
// directory keeps its order (a replaced member does not move to the end).
TEST(Update, DeadSpacePastAQuarterIsReclaimedInDirectoryOrder) {
  TempDir dir;
  std::string first = Pattern(30000, 2), last = Pattern(100000, 3);
  dir.Write("a.pak", Pack().Member("first", first).Member("mid", kBig).Member("last", last).Bytes());
  dir.Write("mid", "m");
  ASSERT_EQ(Vrex(dir.path(), {"a", "a.pak", "mid"}).exitCode, 0);
  std::string grown = dir.Read("a.pak");
  // The old directory is dead space too; 40000 + 192 bytes are not yet a quarter.
  EXPECT_EQ(grown.size(), 12 + 30000 + 40000 + 100000 + 3 * 64 + 1 + 3 * 64) << "nothing reclaimed yet";

  dir.Write("last", "l");
  ASSERT_EQ(Vrex(dir.path(), {"a", "a.pak", "last"}).exitCode, 0);
  std::string packed = dir.Read("a.pak");
  EXPECT_EQ(packed.size(), 12 + 30000 + 1 + 1 + 3 * 64) << "no dead space left";
  EXPECT_EQ(PackOf(packed),
            (std::vector<std::pair<std::string, std::string>>{{"first", first}, {"mid", "m"}, {"last", "l"}}));
  EXPECT_FALSE(dir.Exists("a.pak.vrex-recovery"));
}

// Bytes a killed run left behind the end count as dead space; the archive
// reads as before.
TEST(Update, BytesBehindTheEndAreDeadSpace) {
  TempDir dir;
  std::string before = Pack().Member("a", "A").Bytes();
  dir.Write("a.pak", before + std::string(1000, 'k'));
  EXPECT_EQ(Vrex(dir.path(), {"x", "a.pak"}).exitCode, 0);
  EXPECT_EQ(dir.Read("a"), "A");
  dir.Write("b", "B");
  ASSERT_EQ(Vrex(dir.path(), {"a", "a.pak", "b"}).exitCode, 0);
  std::string after = dir.Read("a.pak");
  EXPECT_EQ(after.size(), before.size() - 64 + 1 + 2 * 64) << "the dead kilobyte was reclaimed";
  EXPECT_EQ(PackOf(after), (std::vector<std::pair<std::string, std::string>>{{"a", "A"}, {"b", "B"}}));
}

// Every write and every sync of a run, failing in turn, for each commit
// style: a failure before the commit gives exit 7 and leaves the archive as
// it was, byte for byte (a new one: nothing); one behind the commit (in the
// compaction, or a front table's job after its record) leaves a recovery
// record that the same command, run again, finishes.
TEST(Update, AFailedRunLeavesTheArchiveAsItWas) {
  const std::string replacement = Pattern(50000, 9);
  const Members old = {{"keep", "k"}, {"old", kBig}};
  const Members appended = {{"keep", "k"}, {"old", replacement}, {"add", "a"}};
  const Members sorted = {{"add", "a"}, {"keep", "k"}, {"old", replacement}};
  const Members fresh = {{"old", replacement}, {"add", "a"}};
  const Members freshSorted = {{"add", "a"}, {"old", replacement}};
  struct Row {
    std::string archive, before;  // before empty: the archive is made
    std::vector<std::string> options;
    Members after;
  };
  const std::vector<Row> rows = {
      {"a.pak", Pack().Member("old", kBig).Member("keep", "k").Bytes(), {},
       {{"old", replacement}, {"keep", "k"}, {"add", "a"}}},
      {"new.pak", "", {}, fresh},
      {"a.lod", MakeArchive("a.lod", old), {}, sorted},
      {"new.lod", "", {}, freshSorted},
      {"a.bin", MakeArchive("a.bin", old), {}, appended},
      {"new.bin", "", {"-csid"}, fresh},
      {"a.stk", MakeArchive("a.stk", old), {}, appended},
      {"a.hog", MakeArchive("a.hog", old), {}, appended},
      {"new.hog", "", {}, fresh},
      {"a.mvl", MakeArchive("a.mvl", old), {}, appended},
      {"a.sin", MakeArchive("a.sin", old), {}, appended},
      {"new.slb", "", {}, fresh},
      {"a.slb", MakeArchive("a.slb", old), {}, appended},
      {"a.grp", MakeArchive("a.grp", old), {}, {{"keep", "k"}, {"old", replacement}, {"ADD", "a"}}},
      {"a.rff", MakeArchive("a.rff", old), {}, {{"keep", "k"}, {"old", replacement}, {"ADD", "a"}}},
      {"new.rff", "", {}, {{"OLD", replacement}, {"ADD", "a"}}},
      {"a.gob", MakeArchive("a.gob", old), {}, appended},
      {"a.goo", MakeArchive("a.goo", old), {}, appended},
      {"new.gob", "", {"-gob2"}, fresh},
  };
  TempDir dir;
  dir.Write("old", replacement);
  dir.Write("add", "a");
  for (const Row& row : rows) {
    const std::string& archive = row.archive;
    std::vector<std::string> args = {"a", archive, "old", "add"};
    args.insert(args.end(), row.options.begin(), row.options.end());
    bool existing = !row.before.empty();
    if (existing) dir.Write(archive, row.before);
    Faults count;
    ASSERT_EQ(VrexInProcess(dir.path(), args, &count).exitCode, 0) << archive;
    for (int syncs = 0; syncs < 2; ++syncs) {
      unsigned long total = syncs ? count.syncs : count.writes;
      for (unsigned long k = 1; k <= total; ++k) {
        SCOPED_TRACE(archive + (syncs ? " sync " : " write ") + std::to_string(k));
        if (existing)
          dir.Write(archive, row.before);
        else
          unlink(dir.Join(archive).c_str());
        Faults faults;
        (syncs ? faults.failSync : faults.failWrite) = k;
        RunResult r = VrexInProcess(dir.path(), args, &faults);
        if (r.exitCode == 8) {  // behind the commit
          EXPECT_EQ(Vrex(dir.path(), {"l", archive}).exitCode, 8);
          EXPECT_EQ(Vrex(dir.path(), args).exitCode, 0);
        }
        if (r.exitCode == 8 || r.exitCode == 0) {
          Members now;
          EXPECT_TRUE(ReadMembers(archive, dir.Read(archive), &now));
          EXPECT_EQ(now, row.after);
          EXPECT_FALSE(dir.Exists(archive + ".vrex-recovery"));
          continue;
        }
        EXPECT_EQ(r.exitCode, 7) << r.out;
        EXPECT_NE(r.out.find("the update failed - the archive is as it was\n"), std::string::npos) << r.out;
        if (existing)
          EXPECT_EQ(dir.Read(archive), row.before);
        else
          EXPECT_FALSE(dir.Exists(archive));
        EXPECT_FALSE(dir.Exists(archive + ".vrex-new"));
        EXPECT_FALSE(dir.Exists(archive + ".vrex-recovery"));
      }
    }
    unlink(dir.Join(archive).c_str());
  }
}

// Adding into a front table's free room writes the entries there and
// commits with the count: nothing else before the old end changes; a
// failure anywhere puts the room's bytes back.
TEST(Update, AFrontTableGrowsIntoItsRoomCommittingWithTheCountAlone) {
  TempDir dir;
  dir.Write("keep", "k");
  ASSERT_EQ(Vrex(dir.path(), {"a", "a.stk", "keep"}).exitCode, 0);
  std::string before = dir.Read("a.stk");
  before.replace(2 + 22, 5, "stale");  // room bytes that are not zero
  dir.Write("a.stk", before);
  dir.Write("new", "n");
  Faults count;
  ASSERT_EQ(VrexInProcess(dir.path(), {"a", "a.stk", "new"}, &count).exitCode, 0);
  std::string after = dir.Read("a.stk");
  ASSERT_EQ(after.size(), before.size() + 1);
  EXPECT_EQ(after.substr(0, 2), Bytes().U16(2).str());
  EXPECT_EQ(after.substr(2, 22), before.substr(2, 22));
  EXPECT_EQ(after.substr(2 + 44), before.substr(2 + 44) + "n");
  EXPECT_EQ(count.syncs, 2u) << "the room and the data, then the count";
  for (unsigned long k = 1; k <= count.writes + count.syncs; ++k) {
    dir.Write("a.stk", before);
    Faults faults;
    (k > count.writes ? faults.failSync : faults.failWrite) = k > count.writes ? k - count.writes : k;
    RunResult r = VrexInProcess(dir.path(), {"a", "a.stk", "new"}, &faults);
    EXPECT_EQ(r.exitCode, 7) << k;
    EXPECT_EQ(dir.Read("a.stk"), before) << k;
  }
}

// A move that fails removes nothing.
TEST(Update, AFailedMoveKeepsItsSources) {
  TempDir dir;
  const std::string before = Pack().Member("x", "x").Bytes();
  dir.Write("a.pak", before);
  dir.Write("one", "1");
  Faults faults;
  faults.failSync = 1;
  RunResult r = VrexInProcess(dir.path(), {"m", "a.pak", "one"}, &faults);
  EXPECT_EQ(r.exitCode, 7);
  EXPECT_EQ(dir.Read("a.pak"), before);
  EXPECT_EQ(dir.Read("one"), "1");
}

// A file that comes up short while it is read is not committed; the others are.
TEST(Update, AFileThatChangesWhileReadIsNotStored) {
  TempDir dir;
  dir.Write("a.pak", Pack().Member("x", "x").Bytes());
  dir.Write("one", "1");
  dir.Write("two", "22");
  Faults faults;
  faults.failReadsOf = "one";
  RunResult r = VrexInProcess(dir.path(), {"a", "a.pak", "one", "two"}, &faults);
  EXPECT_EQ(r.exitCode, 9);
  EXPECT_EQ(r.out, Banner() + "Searching PACK (1 files)\nChanged while read one - skipped\nAdding two\n"
                              "\n1 files stored, 1 skipped\n");
  EXPECT_EQ(PackOf(dir.Read("a.pak")), (std::vector<std::pair<std::string, std::string>>{{"x", "x"}, {"two", "22"}}));
}

// A file that fails after part of it was written (its first 1 MiB chunk,
// say): the next file is written over those bytes, from where the failed
// one began.
TEST(Update, AFileThatFailsMidwayIsWrittenOverByTheNext) {
  const std::string big(1048576 + 10, 'b');
  bool midway = false;
  for (unsigned long n = 1; n <= 12; ++n) {
    TempDir dir;
    dir.Write("a.pak", Pack().Member("x", "x").Bytes());
    dir.Write("big", big);
    dir.Write("two", "22");
    Faults faults;
    faults.failRead = n;
    RunResult r = VrexInProcess(dir.path(), {"a", "a.pak", "big", "two"}, &faults);
    if (r.out.find("big - skipped\nAdding two\n") == std::string::npos) continue;
    midway = midway || faults.writes > 3;
    EXPECT_EQ(r.exitCode, 9) << r.out;
    EXPECT_EQ(PackOf(dir.Read("a.pak")),
              (std::vector<std::pair<std::string, std::string>>{{"x", "x"}, {"two", "22"}}))
        << "read " << n << " failed";
  }
  EXPECT_TRUE(midway);
}

// Offsets are read as signed 32-bit: an archive may not pass 2 GiB.
TEST(Update, AnUpdatePast2GiBIsRefusedBeforeAnythingIsWritten) {
  TempDir dir;
  // A sparse archive whose directory ends 100 bytes short of 2 GiB.
  const uint32_t dirAt = 0x80000000u - 100 - 64;
  Bytes header;
  header.Raw("PACK").U32(dirAt).U32(64);
  dir.Write("a.pak", header.str() + "x");
  ASSERT_EQ(truncate(dir.Join("a.pak").c_str(), dirAt), 0);
  {
    FILE* f = fopen(dir.Join("a.pak").c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    fseeko(f, dirAt, SEEK_SET);
    std::string entry = Bytes().Name("x", 56).U32(12).U32(1).str();
    fwrite(entry.data(), 1, entry.size(), f);
    fclose(f);
  }
  dir.Write("big", std::string(200, 'b'));
  RunResult r = Vrex(dir.path(), {"a", "a.pak", "big"});
  EXPECT_EQ(r.exitCode, 7);
  EXPECT_EQ(r.out, Banner() + "Searching PACK (1 files)\n\ta.pak: the archive would grow past 2 GiB, more than its "
                              "offsets can hold - nothing stored\n\n(no files stored)\n");
  struct stat st;
  ASSERT_EQ(stat(dir.Join("a.pak").c_str(), &st), 0);
  EXPECT_EQ(uint64_t(st.st_size), uint64_t(dirAt) + 64);
}
}  // namespace
