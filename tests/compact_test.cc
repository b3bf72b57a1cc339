// Deletion with in-place compaction, end to end on crafted PACK, Doom WAD
// and WAD2 archives: packed layouts, shared and overlapping data, hostile
// ranges, failures of the file layer, and random layouts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "core/bytes.h"
#include "tests/support/faults.h"
#include "formats/recovery.h"
#include "tests/support/bytes_builder.h"
#include "tests/support/e2e.h"
#include "tests/support/pack_builder.h"

namespace {
struct Entry {
  std::string name;
  uint32_t offset;
  uint32_t size;
};

uint32_t U32(const std::string& s, size_t at) {
  return ReadU32LE(reinterpret_cast<const uint8_t*>(s.data() + at));
}

std::vector<Entry> PackEntries(const std::string& file) {
  std::vector<Entry> out;
  uint32_t dirOffset = U32(file, 4), count = U32(file, 8) / 64;
  for (uint32_t i = 0; i < count; ++i) {
    size_t at = dirOffset + size_t(i) * 64;
    out.push_back({std::string(file.c_str() + at, strnlen(file.c_str() + at, 56)), U32(file, at + 56),
                   U32(file, at + 60)});
  }
  return out;
}

std::string Slice(const std::string& file, const Entry& e) { return file.substr(e.offset, e.size); }

std::string Deleting(const std::vector<std::string>& names) {
  std::string out;
  for (const auto& n : names) out += "Deleting " + n + "\n";
  return out;
}

std::string Found(size_t n) {
  return n ? "\n" + std::to_string(n) + " matches found\n" : "\n(no matches found)\n";
}

struct DeleteCase {
  const char* label;
  std::vector<std::string> names;
  bool directoryFirst;
};

class CompactPack : public ::testing::TestWithParam<DeleteCase> {};

// Members are back to back; the result must be exactly the archive built
// from the remaining members, in order, with the directory behind them.
TEST_P(CompactPack, LeavesExactlyTheArchiveOfTheRemainingMembers) {
  const DeleteCase& c = GetParam();
  const std::vector<std::pair<std::string, std::string>> members = {
      {"m0", Pattern(7, 1)}, {"maps/m1", Pattern(300, 2)}, {"m2", Pattern(1, 3)},
      {"m3", Pattern(50, 4)}, {"m4", Pattern(20, 5)}};
  Pack original, expected;
  if (c.directoryFirst) original.DirectoryFirst();
  std::vector<std::string> deleted;
  for (const auto& m : members) {
    original.Member(m.first, m.second);
    if (std::find(c.names.begin(), c.names.end(), m.first) != c.names.end())
      deleted.push_back(m.first);
    else
      expected.Member(m.first, m.second);
  }
  TempDir dir;
  dir.Write("a.pak", original.Bytes());
  std::vector<std::string> args = {"d", "a.pak"};
  args.insert(args.end(), c.names.begin(), c.names.end());
  RunResult r = Vrex(dir.path(), args);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, Banner() + "Searching PACK (5 files)\n" + Deleting(deleted) + Found(deleted.size()));
  // A deletion that selects nothing leaves the archive as it is.
  EXPECT_EQ(dir.Read("a.pak"), deleted.empty() ? original.Bytes() : expected.Bytes());
  EXPECT_EQ(dir.Tree().size(), 1u) << "no recovery record stays behind";
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, CompactPack,
    ::testing::Values(DeleteCase{"first", {"m0"}, false}, DeleteCase{"middle", {"m2"}, false},
                      DeleteCase{"last", {"m4"}, false}, DeleteCase{"adjacent", {"maps/m1", "m2"}, false},
                      DeleteCase{"none", {"nothing"}, false}, DeleteCase{"firstDirFirst", {"m0"}, true},
                      DeleteCase{"lastDirFirst", {"m4"}, true}, DeleteCase{"noneDirFirst", {"zz"}, true}),
    [](const ::testing::TestParamInfo<DeleteCase>& info) { return std::string(info.param.label); });

TEST(Compact, DeletingEveryMemberLeavesTheTwelveByteFile) {
  TempDir dir;
  dir.Write("a.pak", Pack().Member("a", "1").Member("b", "22").Bytes());
  RunResult r = Vrex(dir.path(), {"d", "a.pak"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, Banner() + "Searching PACK (2 files)\nDeleting a\nDeleting b\n" + Found(2));
  EXPECT_EQ(dir.Read("a.pak"), Bytes().Raw("PACK").U32(12).U32(0).str());
  RunResult again = Vrex(dir.path(), {"l", "a.pak"});
  EXPECT_EQ(again.exitCode, 5);
}

// (A 0-byte entry "dead" is deleted where only the compaction matters.)
TEST(Compact, ClosesGapsAndDropsWhatFollowsTheDirectory) {
  TempDir dir;
  std::string gappy =
      Pack().Gap("gap").Member("a", "AAAA").Gap(std::string(100, 'g')).Member("b", "BB").Entry("dead", 0, 0).Bytes();
  dir.Write("a.pak", gappy + "trailing bytes");
  // A d that selects nothing touches nothing: patterns that match no member,
  // or arguments that give no pattern at all.
  dir.Write("empty.lst", "");
  using Names = std::vector<std::string>;
  for (const Names& names : {Names{"nomatch"}, Names{"@missing.lst"}, Names{"@empty.lst"}, Names{"--dry-run", "/x"}}) {
    Names args = {"d", "a.pak"};
    args.insert(args.end(), names.begin(), names.end());
    RunResult none = Vrex(dir.path(), args);
    EXPECT_EQ(none.exitCode, 0);
    EXPECT_EQ(none.out, Banner() + "Searching PACK (3 files)\n" +
                            (names[0] == "@missing.lst" ? "Can't load list file missing.lst - ignored\n" : "") + Found(0));
    EXPECT_EQ(dir.Read("a.pak"), gappy + "trailing bytes") << names[0];
    EXPECT_EQ(dir.Tree().size(), 2u) << "no recovery record";
  }
  RunResult r = Vrex(dir.path(), {"d", "a.pak", "dead"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(dir.Read("a.pak"), Pack().Member("a", "AAAA").Member("b", "BB").Bytes());

  // An archive that is already compact keeps every byte.
  std::string compact = dir.Read("a.pak");
  EXPECT_EQ(Vrex(dir.path(), {"d", "a.pak", "nomatch"}).exitCode, 0);
  EXPECT_EQ(dir.Read("a.pak"), compact);
  RunResult x = Vrex(dir.path(), {"x", "a.pak"});
  EXPECT_EQ(x.exitCode, 0);
  EXPECT_EQ(dir.Read("a"), "AAAA");
  EXPECT_EQ(dir.Read("b"), "BB");
}

TEST(Compact, SizeZeroEntriesTakeThePackingPositionOnlyWhenAboveIt) {
  TempDir dir;
  // a at 12 (10 bytes), 20 bytes of gap, b at 42; "low" at 0 and "high" in the gap.
  dir.Write("a.pak", Pack()
                         .Member("a", Pattern(10, 1))
                         .Gap(std::string(20, 'x'))
                         .Member("b", Pattern(5, 2))
                         .Entry("low", 0, 0)
                         .Entry("high", 40, 0)
                         .Entry("dead", 0, 0)
                         .Bytes());
  ASSERT_EQ(Vrex(dir.path(), {"d", "a.pak", "dead"}).exitCode, 0);
  std::string after = dir.Read("a.pak");
  std::vector<Entry> e = PackEntries(after);
  ASSERT_EQ(e.size(), 4u);
  EXPECT_EQ(e[0].name, "low");
  EXPECT_EQ(e[0].offset, 0u);
  EXPECT_EQ(e[1].name, "a");
  EXPECT_EQ(e[1].offset, 12u);
  EXPECT_EQ(e[2].name, "high");
  EXPECT_EQ(e[2].offset, 22u);
  EXPECT_EQ(e[3].name, "b");
  EXPECT_EQ(e[3].offset, 22u);
  EXPECT_EQ(Slice(after, e[3]), Pattern(5, 2));
  EXPECT_EQ(after.size(), 12u + 15 + 4 * 64);
}

TEST(Compact, SharedNestedAndOverlappingRangesKeepTheirOwnBytes) {
  TempDir dir;
  std::string x = Pattern(40, 7), y = Pattern(30, 8);
  // 12: deleted (16 bytes), 28: x (40), 68: y (30); more entries on top of them.
  std::string file = Pack()
                         .Member("dead", Pattern(16, 6))
                         .Member("x", x)
                         .Member("y", y)
                         .Entry("twin", 28, 40)
                         .Entry("inner", 38, 10)
                         .Entry("bridge", 60, 20)
                         .Bytes();
  dir.Write("a.pak", file);
  RunResult r = Vrex(dir.path(), {"d", "a.pak", "dead"});
  ASSERT_EQ(r.exitCode, 0);
  std::string after = dir.Read("a.pak");
  std::vector<Entry> before = PackEntries(file), now = PackEntries(after);
  ASSERT_EQ(now.size(), 5u);
  for (const Entry& e : now) {
    auto old = std::find_if(before.begin(), before.end(), [&](const Entry& b) { return b.name == e.name; });
    ASSERT_NE(old, before.end());
    EXPECT_EQ(e.offset, old->offset - 16) << e.name;
    EXPECT_EQ(Slice(after, e), Slice(file, *old)) << e.name;
  }
  EXPECT_EQ(after.size(), 12u + 70 + 5 * 64);
}

TEST(Compact, DataStartingInsideTheHeaderStaysWhereItIs) {
  TempDir dir;
  // "head" covers bytes 4..24; the member behind the 16-byte gap is packed at 24.
  std::string file = Pack().Member("first", Pattern(12, 1)).Gap(std::string(16, 'g'))
                         .Member("m", Pattern(9, 2)).Entry("head", 4, 20).Entry("dead", 0, 0).Bytes();
  dir.Write("a.pak", file);
  ASSERT_EQ(Vrex(dir.path(), {"d", "a.pak", "dead"}).exitCode, 0);
  std::string after = dir.Read("a.pak");
  std::vector<Entry> e = PackEntries(after);
  ASSERT_EQ(e.size(), 3u);
  EXPECT_EQ(e[0].name, "head");
  EXPECT_EQ(e[0].offset, 4u);
  EXPECT_EQ(e[1].name, "first");
  EXPECT_EQ(e[1].offset, 12u);
  EXPECT_EQ(e[2].name, "m");
  EXPECT_EQ(e[2].offset, 24u);
  EXPECT_EQ(Slice(after, e[2]), Pattern(9, 2));
  EXPECT_EQ(after.substr(12, 12), Pattern(12, 1));
  EXPECT_EQ(after.size(), 24u + 9 + 3 * 64);
}

TEST(Compact, DataBeyondTheEndOfTheFileLeavesTheArchiveUnchanged) {
  TempDir dir;
  std::string file = Pack().Member("gone", "123").Member("ok", "45").Entry("bad", 20, 1000000).Bytes();
  dir.Write("a.pak", file);
  RunResult r = Vrex(dir.path(), {"d", "a.pak", "gone"});
  EXPECT_EQ(r.exitCode, 7);
  EXPECT_EQ(r.out, Banner() + "Searching PACK (3 files)\nDeleting gone\n"
                              "\t--- read error --- bad: data beyond the end of the archive, archive left unchanged\n" +
                       Found(1));
  EXPECT_EQ(dir.Read("a.pak"), file);
  EXPECT_EQ(dir.Tree().size(), 1u);
}

TEST(Compact, MoveBufferThatCantBeAllocatedLeavesTheArchiveUnchanged) {
  TempDir dir;
  std::string file = Pack().Member("junk", Pattern(100, 1)).Member("maps/e1m1.bsp", Pattern(5000, 2)).Bytes();
  dir.Write("a.pak", file);
  Faults faults = {};
  faults.failAllocAbove = 4999;
  RunResult r = VrexInProcess(dir.path(), {"d", "a.pak", "junk"}, &faults);
  EXPECT_EQ(r.exitCode, 7);
  EXPECT_EQ(r.out, Banner() + "Searching PACK (2 files)\nDeleting junk\n"
                              "Can't allocate 5000l bytes for maps/e1m1.bsp - skiped\n" + Found(1));
  EXPECT_EQ(dir.Read("a.pak"), file);
  EXPECT_EQ(dir.Tree().size(), 1u);
}

// A read failing in the middle of the moves stops the run with exit code 7;
// the record it leaves makes other operations wait, and a repeated d
// finishes the job.
TEST(Compact, ReadFailureDuringTheMovesIsFinishedByTheNextDeletion) {
  TempDir dir;
  std::string file = Pack().Member("junk", Pattern(100, 1)).Member("a", Pattern(3000, 2)).Member("b", Pattern(10, 3)).Bytes();
  std::string expected = Pack().Member("a", Pattern(3000, 2)).Member("b", Pattern(10, 3)).Bytes();
  dir.Write("a.pak", file);
  Faults count = {};
  VrexInProcess(dir.path(), {"d", "a.pak", "b"}, &count);  // the last member: reads without any move
  dir.Write("a.pak", file);
  Faults faults = {};
  faults.failRead = count.reads + 1;
  RunResult r = VrexInProcess(dir.path(), {"d", "a.pak", "junk"}, &faults);
  EXPECT_EQ(r.exitCode, 7);
  EXPECT_EQ(r.out, Banner() + "Searching PACK (3 files)\nDeleting junk\n" + Found(1));
  EXPECT_EQ(r.err, "\tread failed: unexpected end of file\n");
  EXPECT_TRUE(dir.Exists("a.pak.vrex-recovery"));

  RunResult list = Vrex(dir.path(), {"l", "a.pak"});
  EXPECT_EQ(list.exitCode, 8);
  EXPECT_EQ(list.out, Banner() + "\ta.pak: an interrupted deletion is not finished - repeat the interrupted command to complete it\n");

  RunResult again = Vrex(dir.path(), {"d", "a.pak", "junk"});
  EXPECT_EQ(again.exitCode, 0);
  EXPECT_EQ(again.out, Banner() + "Finished the interrupted deletion in a.pak\nSearching PACK (2 files)\n" + Found(0));
  EXPECT_EQ(dir.Read("a.pak"), expected);
  EXPECT_FALSE(dir.Exists("a.pak.vrex-recovery"));
}

// Every write and every sync of a deletion, failed in turn: the run ends with
// exit code 7, and either the archive is unchanged without a record, or the
// next d finishes the job.
TEST(Compact, EveryFailingWriteOrSyncIsReportedAndRecoverable) {
  // A displacement under the journal threshold and one above it.
  for (uint32_t deadSize : {100u, MOVE_DIRECT_MIN + 1000}) {
    std::string file = Pack().Member("dead", Pattern(deadSize, 1)).Member("a", Pattern(200000, 2))
                           .Member("b", Pattern(10, 3)).DirectoryFirst().Bytes();
    std::string expected = Pack().Member("a", Pattern(200000, 2)).Member("b", Pattern(10, 3)).Bytes();
    TempDir dir;
    dir.Write("a.pak", file);
    Faults count = {};
    ASSERT_EQ(VrexInProcess(dir.path(), {"d", "a.pak", "dead"}, &count).exitCode, 0);
    ASSERT_EQ(dir.Read("a.pak"), expected);
    for (int syncs = 0; syncs < 2; ++syncs) {
      unsigned long total = syncs ? count.syncs : count.writes;
      for (unsigned long k = 1; k <= total; ++k) {
        SCOPED_TRACE((syncs ? "sync " : "write ") + std::to_string(k) + " dead " + std::to_string(deadSize));
        dir.Write("a.pak", file);
        Faults faults = {};
        (syncs ? faults.failSync : faults.failWrite) = k;
        RunResult r = VrexInProcess(dir.path(), {"d", "a.pak", "dead"}, &faults);
        if (r.exitCode == 0) {  // only the record's removal was left to fail
          EXPECT_EQ(dir.Read("a.pak"), expected);
          EXPECT_EQ(r.err, "\tremove failed: Input/output error\n");
          continue;
        }
        EXPECT_EQ(r.exitCode, 7);
        EXPECT_NE(r.err.find("\twrite failed: "), std::string::npos) << r.err;
        if (!dir.Exists("a.pak.vrex-recovery")) {
          EXPECT_EQ(dir.Read("a.pak"), file);
          continue;
        }
        RunResult again = VrexInProcess(dir.path(), {"d", "a.pak", "dead"});
        EXPECT_EQ(again.exitCode, 0) << again.out;
        EXPECT_EQ(dir.Read("a.pak"), expected);
        EXPECT_FALSE(dir.Exists("a.pak.vrex-recovery"));
      }
    }
  }
}

TEST(Compact, RunWithoutRecoveryRecordGivesTheSameArchive) {
  TempDir dir;
  std::string file = Pack().Member("dead", Pattern(10, 1)).Member("a", Pattern(3 * MOVE_CHUNK + 5, 2)).Bytes();
  dir.Write("a.pak", file);
  RunResult r = VrexInProcess(dir.path(), {"d", "a.pak", "dead"}, nullptr, /*protect=*/false);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(dir.Read("a.pak"), Pack().Member("a", Pattern(3 * MOVE_CHUNK + 5, 2)).Bytes());
}

// Doom WAD: 16-byte entries (offset, size, name[8]); count at 4, directory
// offset at 8. Data is packed in offset order, the directory keeps its order.
TEST(Compact, DoomWadKeepsItsDirectoryOrder) {
  std::string things = Pattern(120, 1), lines = Pattern(150, 2), sprite = Pattern(100, 3), gone = Pattern(200, 4);
  // data: lines at 12, gone at 162, things at 362, sprite at 482; directory at 582
  Bytes b;
  b.Raw("PWAD").U32(7).U32(582).Raw(lines).Raw(gone).Raw(things).Raw(sprite);
  b.U32(162).U32(200).Name("GONE", 8);
  b.U32(0).U32(0).Name("MAP01", 8);
  b.U32(362).U32(120).Name("THINGS", 8);
  b.U32(12).U32(150).Name("LINEDEFS", 8);
  b.U32(482).U32(0).Name("S_START", 8);
  b.U32(482).U32(100).Name("SPR1", 8);
  b.U32(582).U32(0).Name("S_END", 8);
  TempDir dir;
  dir.Write("a.wad", b.str());
  RunResult r = Vrex(dir.path(), {"d", "a.wad", "GONE"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, Banner() + "Searching PWAD (7 files)\nDeleting GONE\n" + Found(1));
  Bytes want;
  want.Raw("PWAD").U32(6).U32(12 + 150 + 120 + 100).Raw(lines).Raw(things).Raw(sprite);
  want.U32(0).U32(0).Name("MAP01", 8);
  want.U32(162).U32(120).Name("THINGS", 8);
  want.U32(12).U32(150).Name("LINEDEFS", 8);
  want.U32(282).U32(0).Name("S_START", 8);
  want.U32(282).U32(100).Name("SPR1", 8);
  want.U32(382).U32(0).Name("S_END", 8);
  EXPECT_TRUE(dir.Read("a.wad") == want.str());
}

// WAD2: 32-byte entries (offset, size, packed size, flags, name[16]); sorted.
TEST(Compact, QuakeWadIsSortedWithCountAndOffsetInTheHeader) {
  Bytes b;
  b.Raw("WAD2").U32(3).U32(12 + 30);
  b.Raw(Pattern(10, 1)).Raw(Pattern(20, 2));
  b.U32(22).U32(20).U32(20).U32(0x44).Name("second", 16);
  b.U32(12).U32(10).U32(10).U32(0x43).Name("dead", 16);
  b.U32(100).U32(0).U32(0).U32(0).Name("empty", 16);
  TempDir dir;
  dir.Write("a.wad", b.str());
  RunResult r = Vrex(dir.path(), {"d", "a.wad", "dead"});
  EXPECT_EQ(r.exitCode, 0);
  Bytes want;
  want.Raw("WAD2").U32(2).U32(32).Raw(Pattern(20, 2));
  want.U32(12).U32(20).U32(20).U32(0x44).Name("second", 16);
  want.U32(32).U32(0).U32(0).U32(0).Name("empty", 16);
  EXPECT_EQ(dir.Read("a.wad"), want.str());
}

// Random PACK layouts with gaps, shared, nested and overlapping data, size-0
// entries and the directory anywhere; random delete sets.
TEST(Compact, RandomLayoutsKeepEveryRemainingMember) {
  std::mt19937 rng(20240611);
  auto pick = [&](uint32_t n) { return n ? uint32_t(rng() % n) : 0u; };
  for (int round = 0; round < 150; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    uint32_t dataLength = 1 + pick(3000);
    std::string data = Pattern(dataLength, uint32_t(round));
    uint32_t count = 1 + pick(12);
    std::vector<Entry> entries;
    for (uint32_t i = 0; i < count; ++i) {
      Entry e{"e" + std::to_string(i), 0, 0};
      uint32_t kind = pick(6);
      const Entry* other = entries.empty() ? nullptr : &entries[pick(uint32_t(entries.size()))];
      if (kind == 0 && other) {  // shares another entry's data
        e.offset = other->offset;
        e.size = other->size;
      } else if (kind == 1 && other) {  // lies inside another entry's data
        e.offset = other->offset + pick(other->size);
        e.size = pick(other->offset + other->size - e.offset + 1);
      } else if (kind == 2) {
        e.offset = pick(2) ? 0 : 12 + pick(dataLength + 50);
      } else {
        e.offset = 12 + pick(dataLength);
        e.size = 1 + pick(12 + dataLength - e.offset);
      }
      if (e.offset + e.size > 12 + dataLength) e.size = 12 + dataLength - std::min(e.offset, 12 + dataLength);
      entries.push_back(e);
    }
    Bytes dirBytes;
    for (const Entry& e : entries) dirBytes.Name(e.name, 56).U32(e.offset).U32(e.size);
    // The directory lies after the data, or over any part of it.
    std::string file = "PACK" + std::string(8, '\0') + data;
    uint32_t dirOffset = pick(3) ? uint32_t(file.size()) : 12 + pick(dataLength);
    if (file.size() < dirOffset + dirBytes.size()) file.resize(dirOffset + dirBytes.size());
    file.replace(dirOffset, dirBytes.size(), dirBytes.str());
    file.replace(4, 8, Bytes().U32(dirOffset).U32(count * 64).str());

    std::vector<std::string> args = {"d", "a.pak", "nomatch"};
    std::vector<Entry> kept;
    std::vector<std::pair<uint64_t, uint64_t>> ranges;
    for (const Entry& e : entries) {
      if (pick(3) == 0) {
        args.push_back(e.name);
        continue;
      }
      kept.push_back(e);
      if (e.size) ranges.push_back({e.offset, uint64_t(e.offset) + e.size});
    }
    std::sort(ranges.begin(), ranges.end());
    uint64_t distinct = 0, reach = 0;
    for (const auto& r : ranges) {
      uint64_t from = std::max(r.first, reach);
      if (r.second > from) distinct += r.second - from;
      reach = std::max(reach, r.second);
    }

    TempDir dir;
    dir.Write("a.pak", file);
    RunResult r = VrexInProcess(dir.path(), args);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    std::string after = dir.Read("a.pak");
    if (kept.size() == entries.size()) {  // nothing deleted: nothing touched
      EXPECT_TRUE(after == file);
      continue;
    }
    EXPECT_EQ(after.size(), 12 + distinct + 64 * kept.size());
    std::vector<Entry> now = PackEntries(after);
    ASSERT_EQ(now.size(), kept.size());
    for (size_t i = 0; i < now.size(); ++i) {
      if (i) {
        EXPECT_LE(std::make_pair(now[i - 1].offset, now[i - 1].size), std::make_pair(now[i].offset, now[i].size));
      }
      auto old = std::find_if(kept.begin(), kept.end(), [&](const Entry& k) { return k.name == now[i].name; });
      ASSERT_NE(old, kept.end());
      EXPECT_EQ(now[i].size, old->size);
      EXPECT_TRUE(Slice(after, now[i]) == Slice(file, *old)) << now[i].name;
    }
    EXPECT_EQ(dir.Tree().size(), 1u);
    // A second pass finds nothing left to do.
    if (kept.empty()) continue;
    ASSERT_EQ(VrexInProcess(dir.path(), {"d", "a.pak", "nomatch"}).exitCode, 0);
    EXPECT_TRUE(dir.Read("a.pak") == after);
  }
}
}  // namespace
