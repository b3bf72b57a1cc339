// Deletion survives a crash: vrex d is killed before every write and every
// sync it makes (once as a plain kill, once as a power cut that drops what
// was not synced), then a second d finishes the job. The archive must then
// be byte for byte what an uninterrupted run gives. Some runs are killed
// again while they recover.
//
// Adding, replacing, creating and moving survive a crash too: a, af, m and
// mf are killed the same way on a fresh copy of the archive and the files,
// for every commit style (PACK, SLB, RFF, GOB v1 and WADs, the front tables
// of LOD, CSid and STK, HOG's chain and the rewrites of HOG, DMVL, GRP and
// GOB v2).
// The archive must then read as before the run or as after it (its members:
// names, sizes, bytes; a killed run may leave bytes behind the old end), a
// new archive must be missing or complete, and m must not have removed a
// file whose member is not durable. Running the same command again must
// give the members of an uninterrupted run and its files on disk.
//
// VREX_CRASH_FULL=1 adds random layouts and kills every recovery at every
// point too (bench/delete_crash_sweep.sh, bench/update_crash_sweep.sh).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>

#include "tests/support/archive_members.h"
#include "tests/support/faults.h"
#include "tests/support/bytes_builder.h"
#include "tests/support/e2e.h"
#include "tests/support/pack_builder.h"

namespace {
const char kRecord[] = ".vrex-recovery";

struct CrashCase {
  std::string label;
  std::string file;
  std::string archive;  // file name
  std::vector<std::string> names;
};

struct Tally {
  unsigned long killPoints = 0;
  unsigned long recoveries = 0;  // kills that left a record behind
  unsigned long lost = 0;        // runs whose final archive differed
};

bool FullSweep() {
  const char* full = getenv("VREX_CRASH_FULL");
  return full && *full && *full != '0';
}

// The kill point after k: every one, or with VREX_CRASH_STRIDE=n every n-th
// (the last one always), for the slow sanitizer builds.
unsigned long NextKill(unsigned long k, unsigned long total) {
  const char* text = getenv("VREX_CRASH_STRIDE");
  unsigned long stride = text && !FullSweep() ? strtoul(text, nullptr, 10) : 1;
  if (stride <= 1 || k == total) return k + 1;
  return k + stride < total ? k + stride : total;
}

// Runs vrex_faults in `cwd`; true when it was killed.
bool RunKilled(const std::string& cwd, std::vector<std::string> args) {
  args.insert(args.begin(), VREX_FAULTS_PATH);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(cwd.c_str()) != 0) _exit(126);
    if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(126);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

std::vector<std::string> DeleteArgs(const CrashCase& c) {
  std::vector<std::string> args = {"d", c.archive};
  args.insert(args.end(), c.names.begin(), c.names.end());
  return args;
}

struct Counts {
  unsigned long writes, syncs;
};

// Runs `args` in-process on the current contents of `dir`, counting.
Counts CountRun(const TempDir& dir, const std::vector<std::string>& args, RunResult* result) {
  Faults count = {};
  *result = VrexInProcess(dir.path(), args, &count);
  return {count.writes, count.syncs};
}

// After a kill: the record, if any, keeps other operations out; the next d
// finishes the job and leaves the archive of the uninterrupted run.
void FinishAndCompare(const TempDir& dir, const CrashCase& c, const std::string& expected,
                      const std::string& where, Tally* tally) {
  bool pending = dir.Exists(c.archive + kRecord);
  if (pending) {
    ++tally->recoveries;
    RunResult list = VrexInProcess(dir.path(), {"l", c.archive});
    EXPECT_EQ(list.exitCode, 8) << where;
  }
  RunResult r = VrexInProcess(dir.path(), DeleteArgs(c));
  EXPECT_EQ(r.exitCode, 0) << where << "\n" << r.out << r.err;
  bool same = dir.Read(c.archive) == expected;
  if (!same) ++tally->lost;
  EXPECT_TRUE(same) << where << (pending ? " (recovered)" : "");
  EXPECT_FALSE(dir.Exists(c.archive + kRecord)) << where;
}

void Sweep(const CrashCase& c, Tally* tally) {
  TempDir dir;
  dir.Write(c.archive, c.file);
  RunResult plain;
  Counts counts = CountRun(dir, DeleteArgs(c), &plain);
  ASSERT_EQ(plain.exitCode, 0) << c.label << plain.out << plain.err;
  const std::string expected = dir.Read(c.archive);

  for (int powerLoss = 0; powerLoss < 2; ++powerLoss) {
    for (int syncs = 0; syncs < 2; ++syncs) {
      unsigned long total = syncs ? counts.syncs : counts.writes;
      for (unsigned long k = 1; k <= total; k = NextKill(k, total)) {
        std::string where = c.label + (powerLoss ? " power cut" : " kill") + (syncs ? " at sync " : " at write ") +
                            std::to_string(k);
        dir.Write(c.archive, c.file);
        std::vector<std::string> args = {std::string(syncs ? "--stop-sync=" : "--stop-write=") + std::to_string(k)};
        if (powerLoss) args.push_back("--power-loss");
        for (const auto& a : DeleteArgs(c)) args.push_back(a);
        ++tally->killPoints;
        ASSERT_TRUE(RunKilled(dir.path(), args)) << where;

        // Kill the recovery too, at each of its writes and syncs: after a
        // kill in the middle of the moves, and after one before the record's
        // first progress entry (its fourth write), always; after every kill
        // at a write in the full sweep.
        bool killRecovery = !syncs && !powerLoss && (FullSweep() || k == total / 2 || k == 4);
        if (killRecovery && dir.Exists(c.archive + kRecord)) {
          const std::string crashed = dir.Read(c.archive), record = dir.Read(c.archive + kRecord);
          RunResult probe;
          Counts second = CountRun(dir, DeleteArgs(c), &probe);
          for (unsigned long j = 1; j <= second.writes + second.syncs; ++j) {
            dir.Write(c.archive, crashed);
            dir.Write(c.archive + kRecord, record);
            bool atSync = j > second.writes;
            unsigned long at = atSync ? j - second.writes : j;
            ++tally->killPoints;
            std::vector<std::string> again = {(atSync ? "--stop-sync=" : "--stop-write=") + std::to_string(at)};
            for (const auto& a : DeleteArgs(c)) again.push_back(a);
            ASSERT_TRUE(RunKilled(dir.path(), again)) << where;
            FinishAndCompare(dir, c, expected, where + ", recovery killed at " + std::to_string(j), tally);
          }
          dir.Write(c.archive, crashed);
          dir.Write(c.archive + kRecord, record);
        }
        FinishAndCompare(dir, c, expected, where, tally);
      }
    }
  }
}

uint32_t DoomEntry(Bytes* b, uint32_t offset, uint32_t size, const char* name) {
  b->U32(offset).U32(size).Name(name, 8);
  return offset + size;
}

std::vector<CrashCase> Cases() {
  std::vector<CrashCase> cases;
  // Directory first, a short displacement (the journal), shared and nested data.
  cases.push_back({"pack-directory-first",
                   Pack().DirectoryFirst().Member("dead", Pattern(100, 1)).Member("a", Pattern(300000, 2))
                       .Member("b", Pattern(5000, 3)).Entry("twin", 12 + 5 * 64 + 100, 300000)
                       .Entry("inner", 12 + 5 * 64 + 1000, 7000).Bytes(),
                   "a.pak", {"dead"}});
  // A long displacement (direct chunks), two intervals, an empty member.
  cases.push_back({"pack-directory-last",
                   Pack().Member("dead", Pattern(100000, 4)).Member("a", Pattern(400000, 5)).Gap("gap")
                       .Member("b", Pattern(3000, 6)).Member("empty", "").Member("c", Pattern(20, 7)).Bytes(),
                   "b.pak", {"dead", "c"}});
  // A short move, then one through the journal.
  cases.push_back({"pack-journal-after-move",
                   Pack().Member("dead", Pattern(50, 14)).Member("a", Pattern(30, 15)).Gap("0123456789")
                       .Member("b", Pattern(300000, 16)).Bytes(),
                   "j.pak", {"dead"}});
  // Every other member deleted: many short moves, each shorter than its distance.
  Pack halves;
  std::vector<std::string> odd;
  for (int i = 0; i < 24; ++i) {
    halves.Member("h" + std::to_string(i), Pattern(50 + i, 20 + i));
    if (i % 2) odd.push_back("h" + std::to_string(i));
  }
  cases.push_back({"pack-every-other", halves.Bytes(), "e.pak", odd});
  // Nothing moves: the directory is rewritten in place.
  cases.push_back({"pack-last-member",
                   Pack().Member("a", Pattern(2000, 8)).Member("z", Pattern(500, 9)).Bytes(), "c.pak", {"z"}});
  // Doom WAD: markers at offset 0 and in the data, lumps out of directory order.
  Bytes wad;
  std::string lines = Pattern(150000, 10), gone = Pattern(500, 11), things = Pattern(300000, 12),
              sprite = Pattern(1000, 13);
  uint32_t linesAt = 12, goneAt = linesAt + 150000, thingsAt = goneAt + 500, spriteAt = thingsAt + 300000,
           dirAt = spriteAt + 1000;
  wad.Raw("PWAD").U32(7).U32(dirAt).Raw(lines).Raw(gone).Raw(things).Raw(sprite);
  DoomEntry(&wad, goneAt, 500, "GONE");
  DoomEntry(&wad, 0, 0, "MAP01");
  DoomEntry(&wad, thingsAt, 300000, "THINGS");
  DoomEntry(&wad, linesAt, 150000, "LINEDEFS");
  DoomEntry(&wad, spriteAt, 0, "S_START");
  DoomEntry(&wad, spriteAt, 1000, "SPR1");
  DoomEntry(&wad, dirAt, 0, "S_END");
  cases.push_back({"doom-wad", wad.str(), "d.wad", {"GONE"}});
  // The front tables (compaction, the table in place) and the rewritten formats.
  const Members flat = {{"gone.bin", Pattern(9000, 17)}, {"keep.def", Pattern(20000, 18)},
                        {"tail.txt", Pattern(300, 19)}};
  for (const char* archive : {"f.lod", "f.bin", "f.stk", "f.hog", "f.mvl", "f.slb", "f.grp", "f.rff", "f.gob", "f.goo"})
    cases.push_back({std::string("delete-") + (strrchr(archive, '.') + 1), MakeArchive(archive, flat), archive,
                     {"gone.bin"}});

  if (FullSweep()) {
    std::mt19937 rng(7);
    for (int n = 0; n < 8; ++n) {
      Pack p;
      if (rng() % 2) p.DirectoryFirst();
      std::vector<std::string> names;
      uint32_t count = 3 + rng() % 6;
      for (uint32_t i = 0; i < count; ++i) {
        std::string name = "m" + std::to_string(i);
        p.Member(name, Pattern(rng() % 2 ? rng() % 400 : 60000 + rng() % 200000, rng()));
        if (rng() % 3 == 0) p.Gap(std::string(rng() % 3000, 'g'));
        if (rng() % 3 == 0) names.push_back(name);
      }
      if (names.empty()) names.push_back("m0");
      cases.push_back({"random-" + std::to_string(n), p.Bytes(), "r.pak", names});
    }
  }
  return cases;
}

TEST(Crash, EveryKillAndPowerCutIsFinishedByTheNextDeletion) {
  Tally tally;
  for (const CrashCase& c : Cases()) {
    SCOPED_TRACE(c.label);
    Sweep(c, &tally);
  }
  printf("kill points %lu, recoveries %lu, archives that differ %lu\n", tally.killPoints, tally.recoveries,
         tally.lost);
  EXPECT_EQ(tally.lost, 0u);
}

// ---- Adding, replacing, creating and moving

Members Sorted(Members m) {
  std::sort(m.begin(), m.end());
  return m;
}

// Members of `expected` that `found` lacks or holds with other bytes.
unsigned long Missing(const Members& expected, const Members& found) {
  Members have = Sorted(found);
  unsigned long missing = 0;
  for (const auto& m : expected)
    if (!std::binary_search(have.begin(), have.end(), m)) ++missing;
  return missing;
}

// Files and folders of a working folder (TempDir::Tree form), laid out anew.
using Snapshot = std::map<std::string, std::string>;

void Restore(const TempDir& dir, const Snapshot& snapshot) {
  Snapshot now = dir.Tree();
  for (auto it = now.rbegin(); it != now.rend(); ++it) {  // children before their folder
    std::string path = dir.Join(it->first);
    if (it->first.back() == '/')
      rmdir(path.c_str());
    else
      unlink(path.c_str());
  }
  for (const auto& f : snapshot) {
    if (f.first.back() == '/')
      mkdir(dir.Join(f.first).c_str(), 0755);
    else
      dir.Write(f.first, f.second);
  }
}

struct UpdateCase {
  std::string label;
  std::string archive;     // file name
  Snapshot inputs;         // the archive (when it exists) and the files, folders ending in "/"
  std::vector<std::string> args;
  bool compacts = false;   // the uninterrupted run reclaims the dead space
};

struct UpdateTally {
  unsigned long killPoints = 0;
  unsigned long recoveries = 0;  // kills that left a recovery record
  unsigned long lost = 0;        // members missing or wrong, files removed without a durable member
  unsigned long torn = 0;        // archives that read neither as before nor as after
};

// What the run is checked against.
struct Expected {
  bool existedBefore;
  Members before, after;
  Snapshot filesAfter;  // the working folder after the run, the archive left out
};

Snapshot FilesOf(const TempDir& dir, const UpdateCase& c) {
  Snapshot files = dir.Tree();
  files.erase(c.archive);
  return files;
}

// Every folder that holds a file of `files` is listed too (the Tree form).
Snapshot WithFolders(Snapshot files) {
  Snapshot out = files;
  for (const auto& f : files)
    for (size_t slash = f.first.find('/'); slash != std::string::npos && slash + 1 < f.first.size();
         slash = f.first.find('/', slash + 1))
      out[f.first.substr(0, slash + 1)] = "";
  return out;
}

// The state a killed run left: the archive reads as before the run (when
// that is allowed) or as after it; with a recovery record pending, other
// operations answer 8 and finishing the recovery alone gives the members of
// after. A source file that is gone must have its member durable.
void CheckKilled(const TempDir& dir, const UpdateCase& c, const Expected& e, bool beforeAllowed,
                 const std::string& where, UpdateTally* tally) {
  const std::string record = c.archive + kRecord;
  bool pending = dir.Exists(record);
  Members now;
  bool readable = false, absent = !dir.Exists(c.archive), recoveredAfter = false;
  if (pending) {
    ++tally->recoveries;
    RunResult list = VrexInProcess(dir.path(), {"l", c.archive});
    EXPECT_EQ(list.exitCode, 8) << where << "\n" << list.out;
    TempDir scratch;
    scratch.Write(c.archive, dir.Read(c.archive));
    scratch.Write(record, dir.Read(record));
    RunResult recovered = VrexInProcess(scratch.path(), {"d", c.archive, "no such member"});
    EXPECT_EQ(recovered.exitCode, 0) << where << "\n" << recovered.out;
    readable = ReadMembers(c.archive, scratch.Read(c.archive), &now);
    // A deletion writes the directory sorted by offset: compare the sets. A
    // record that undoes a chain's growth gives the members before.
    bool undone = beforeAllowed && e.existedBefore && readable && Sorted(now) == Sorted(e.before);
    recoveredAfter = readable && Sorted(now) == Sorted(e.after);
    if (!readable || (Sorted(now) != Sorted(e.after) && !undone)) {
      ++tally->torn;
      ADD_FAILURE() << where << ": the finished recovery holds the members neither before nor after the run";
    }
  } else if (absent) {
    if (e.existedBefore || !beforeAllowed) {
      ++tally->torn;
      ADD_FAILURE() << where << ": the archive is gone";
    }
  } else {
    readable = ReadMembers(c.archive, dir.Read(c.archive), &now);
    bool before = beforeAllowed && e.existedBefore && readable && now == e.before;
    bool after = readable && now == e.after;
    if (!before && !after) {
      ++tally->torn;
      ADD_FAILURE() << where << ": the archive reads neither as before nor as after the run"
                    << (readable ? "" : " (unreadable)");
    }
  }
  bool durable = (readable && now == e.after) || recoveredAfter;
  for (const auto& f : c.inputs) {
    if (f.first == c.archive || f.first.back() == '/' || dir.Exists(f.first) || durable) continue;
    ++tally->lost;
    ADD_FAILURE() << where << ": " << f.first << " was removed before its member was durable";
  }
}

bool NamedInputsExist(const TempDir& dir, const UpdateCase& c) {
  for (size_t i = 2; i < c.args.size(); ++i)
    if (!dir.Exists(c.args[i])) return false;
  return true;
}

// The same command again, as after a crash: it finishes what the killed run
// left (a pending compaction included) and gives the members and the files
// of the uninterrupted run.
void FinishUpdate(const TempDir& dir, const UpdateCase& c, const Expected& e, const std::string& where,
                  UpdateTally* tally) {
  bool moving = c.args[0][0] == 'm';
  bool allThere = NamedInputsExist(dir, c);
  RunResult r = VrexInProcess(dir.path(), c.args);
  if (allThere || !moving) {
    EXPECT_EQ(r.exitCode, 0) << where << "\n" << r.out << r.err;
  } else {
    EXPECT_TRUE(r.exitCode == 0 || r.exitCode == 9) << where << "\n" << r.out << r.err;
  }
  Members now;
  bool readable = ReadMembers(c.archive, dir.Read(c.archive), &now);
  unsigned long missing = readable ? Missing(e.after, now) : e.after.size();
  tally->lost += missing;
  EXPECT_TRUE(readable && now == e.after) << where << ": " << missing << " members lost after the second run";
  EXPECT_FALSE(dir.Exists(c.archive + kRecord)) << where;
  EXPECT_FALSE(dir.Exists(c.archive + ".vrex-new")) << where;
  EXPECT_EQ(FilesOf(dir, c), e.filesAfter) << where;
}

// Runs vrex_faults with `args`, killed at the k-th write or sync.
bool KillAt(const TempDir& dir, bool atSync, unsigned long k, bool powerLoss, const std::vector<std::string>& args) {
  std::vector<std::string> all = {(atSync ? "--stop-sync=" : "--stop-write=") + std::to_string(k)};
  if (powerLoss) all.push_back("--power-loss");
  all.insert(all.end(), args.begin(), args.end());
  return RunKilled(dir.path(), all);
}

// The run that follows a kill, killed in turn at each of its writes and
// syncs (the recovery of the compaction, and the update behind it).
void SweepSecondRun(const TempDir& dir, const UpdateCase& c, const Expected& e, const std::string& where,
                    UpdateTally* tally) {
  const Snapshot crashed = dir.Tree();
  // A record that never became durable, or one that undoes a chain's
  // growth, gives the archive before the run: so may the run after it.
  TempDir scratch;
  Restore(scratch, crashed);
  VrexInProcess(scratch.path(), {"d", c.archive, "no such member"});
  Members recovered;
  bool before = e.existedBefore && ReadMembers(c.archive, scratch.Read(c.archive), &recovered) &&
                Sorted(recovered) == Sorted(e.before);
  RunResult probe;
  Counts second = CountRun(dir, c.args, &probe);
  for (unsigned long j = 1; j <= second.writes + second.syncs; ++j) {
    Restore(dir, crashed);
    bool atSync = j > second.writes;
    std::string again = where + ", second run killed at " + std::to_string(j);
    ++tally->killPoints;
    ASSERT_TRUE(KillAt(dir, atSync, atSync ? j - second.writes : j, false, c.args)) << again;
    CheckKilled(dir, c, e, before, again, tally);
    FinishUpdate(dir, c, e, again, tally);
  }
  Restore(dir, crashed);
}

void SweepUpdate(const UpdateCase& c, UpdateTally* tally) {
  TempDir dir;
  Restore(dir, c.inputs);
  Expected e;
  auto archive = c.inputs.find(c.archive);
  e.existedBefore = archive != c.inputs.end();
  if (e.existedBefore) {
    ASSERT_TRUE(ReadMembers(c.archive, archive->second, &e.before)) << c.label;
  }
  RunResult plain;
  Counts counts = CountRun(dir, c.args, &plain);
  ASSERT_EQ(plain.exitCode, 0) << c.label << plain.out << plain.err;
  const std::string file = dir.Read(c.archive);
  ASSERT_TRUE(ReadMembers(c.archive, file, &e.after)) << c.label;
  e.filesAfter = FilesOf(dir, c);
  const std::string magic = file.substr(0, 4);
  uint64_t live = 12, entrySize = magic == "PACK" ? 64 : magic[3] == 'D' ? 16 : 32;
  for (const auto& m : e.after) live += entrySize + m.second.size();
  if (c.compacts) {
    ASSERT_EQ(file.size(), live) << c.label << ": the case must reach the compaction";
  }

  std::vector<unsigned long> pendingKills;  // plain kills at writes that left a record
  for (int powerLoss = 0; powerLoss < 2; ++powerLoss) {
    for (int syncs = 0; syncs < 2; ++syncs) {
      unsigned long total = syncs ? counts.syncs : counts.writes;
      for (unsigned long k = 1; k <= total; k = NextKill(k, total)) {
        std::string where = c.label + (powerLoss ? " power cut" : " kill") + (syncs ? " at sync " : " at write ") +
                            std::to_string(k);
        Restore(dir, c.inputs);
        ++tally->killPoints;
        ASSERT_TRUE(KillAt(dir, syncs, k, powerLoss, c.args)) << where;
        if (!syncs && !powerLoss && dir.Exists(c.archive + kRecord)) pendingKills.push_back(k);
        CheckKilled(dir, c, e, true, where, tally);
        FinishUpdate(dir, c, e, where, tally);
      }
    }
  }

  // The second run killed too: after the first and the last kill inside the
  // compaction and one in the middle of its moves; after every one in the
  // full sweep.
  for (size_t i = 0; i < pendingKills.size(); ++i) {
    if (!FullSweep() && i != 0 && i != pendingKills.size() / 2 && i + 1 != pendingKills.size()) continue;
    std::string where = c.label + " kill at write " + std::to_string(pendingKills[i]);
    Restore(dir, c.inputs);
    ASSERT_TRUE(KillAt(dir, false, pendingKills[i], false, c.args)) << where;
    SweepSecondRun(dir, c, e, where, tally);
  }
}

std::vector<UpdateCase> UpdateCases() {
  std::vector<UpdateCase> cases;
  // New members behind three stored ones: a folder tree and a file.
  cases.push_back({"add-new", "a.pak",
                   {{"a.pak", Pack().Member("readme.txt", Pattern(3000, 31)).Member("maps/e1m1.bsp", Pattern(90000, 32))
                                  .Member("progs.dat", Pattern(500, 33)).Bytes()},
                    {"src/", ""}, {"src/a.txt", Pattern(1500, 34)}, {"src/sub/", ""},
                    {"src/sub/b.bin", Pattern(70000, 35)}, {"src/sub/deeper/", ""},
                    {"src/sub/deeper/c.dat", Pattern(10, 36)}, {"d.lmp", Pattern(4000, 37)}},
                   {"a", "a.pak", "src", "d.lmp"}});
  // A member replaced by larger data: its old bytes are more than a quarter
  // of the file, so the run compacts, the new data moving down through the
  // journal (its displacement is short).
  cases.push_back({"replace-compacts", "r.pak",
                   {{"r.pak", Pack().Member("gfx.wad", Pattern(6000, 41)).Member("maps/e1m1.bsp", Pattern(40000, 42))
                                  .Member("progs.dat", Pattern(4000, 43)).Bytes()},
                    {"maps/", ""}, {"maps/e1m1.bsp", Pattern(60000, 44)}},
                   {"a", "r.pak", "maps/e1m1.bsp"}, true});
  // A member whose data a second entry shares: the other keeps the old bytes.
  cases.push_back({"replace-shared", "s.pak",
                   {{"s.pak", Pack().Member("a.lmp", Pattern(5000, 51)).Entry("twin.lmp", 12, 5000)
                                  .Member("z.txt", Pattern(100, 52)).Bytes()},
                    {"a.lmp", Pattern(3000, 53)}},
                   {"a", "s.pak", "a.lmp"}});
  // A new archive from a small folder tree and a file.
  cases.push_back({"create", "new.pak",
                   {{"maps/", ""}, {"maps/e1m1.bsp", Pattern(30000, 61)}, {"maps/sub/", ""},
                    {"maps/sub/x.bin", Pattern(700, 62)}, {"sound/", ""}, {"sound/s.wav", Pattern(9000, 63)},
                    {"progs.dat", Pattern(2000, 64)}},
                   {"a", "new.pak", "maps", "sound", "progs.dat"}});
  // Files and a folder tree (an empty folder in it) moved in, one replacing a
  // member; a file not named stays.
  cases.push_back({"move", "m.pak",
                   {{"m.pak", Pack().Member("keep.txt", Pattern(1000, 71)).Member("src/old.bin", Pattern(2000, 72)).Bytes()},
                    {"src/", ""}, {"src/old.bin", Pattern(2500, 73)}, {"src/n1.txt", Pattern(300, 74)},
                    {"src/deep/", ""}, {"src/deep/n2.bin", Pattern(400, 75)}, {"src/deep/empty/", ""},
                    {"loose.dat", Pattern(200, 76)}, {"stay.txt", Pattern(50, 77)}},
                   {"m", "m.pak", "src", "loose.dat"}});

  // Doom WAD: a map's lump replaced by larger data (the run compacts, the
  // directory keeps its order); a sprite added into S_START and a lump at
  // top level; a new PWAD from a map folder and a namespace folder.
  Bytes wad;
  const char* const mapLumps[] = {"THINGS", "LINEDEFS", "SIDEDEFS", "VERTEXES", "SEGS",
                                  "SSECTORS", "NODES", "SECTORS", "REJECT", "BLOCKMAP"};
  std::string wadData;
  std::vector<std::pair<std::string, std::string>> wadLumps = {{"MAP01", ""}};
  for (int i = 0; i < 10; ++i) wadLumps.push_back({mapLumps[i], Pattern(i == 0 ? 30000 : 300, 80 + i)});
  wadLumps.push_back({"S_START", ""});
  wadLumps.push_back({"TROOA1", Pattern(2000, 91)});
  wadLumps.push_back({"S_END", ""});
  wad.Raw("PWAD").U32(uint32_t(wadLumps.size())).U32(0);
  for (const auto& l : wadLumps) wadData += l.second;
  wad.Raw(wadData);
  uint32_t at = 12;
  for (const auto& l : wadLumps) {
    wad.U32(l.second.empty() ? 0 : at).U32(uint32_t(l.second.size())).Name(l.first, 8);
    at += uint32_t(l.second.size());
  }
  wad.PatchU32(8, 12 + uint32_t(wadData.size()));
  cases.push_back({"wad-replace-compacts", "w.wad",
                   {{"w.wad", wad.str()}, {"MAP01/", ""}, {"MAP01/THINGS", Pattern(45000, 92)}},
                   {"a", "w.wad", "MAP01/THINGS"}, true});
  cases.push_back({"wad-namespace-add", "w.wad",
                   {{"w.wad", wad.str()}, {"S_START/", ""}, {"S_START/NEWA0", Pattern(5000, 93)},
                    {"PLAYPAL.lmp", Pattern(768, 94)}},
                   {"a", "w.wad", "S_START/NEWA0", "PLAYPAL.lmp"}});
  Snapshot newWad = {{"MAP07/", ""}, {"S_START/", ""}, {"S_START/BOSSA1", Pattern(3000, 95)}};
  for (int i = 0; i < 10; ++i) newWad["MAP07/" + std::string(mapLumps[i])] = Pattern(200 + i, 96 + i);
  cases.push_back({"wad-create", "new.wad", newWad, {"a", "new.wad", "MAP07", "S_START"}});

  // Each format and style: a new member and a replacement. A LOD with room
  // grows into it (the count commits); the other front tables are tight, so
  // the table needs room members occupy; a chain appends, replaces in place
  // (same size) and rewrites (another size); DMVL always rewrites.
  const Members two = {{"one.def", Pattern(6000, 101)}, {"two.txt", Pattern(12000, 102)}};
  Bytes roomy;
  roomy.Raw(std::string("LOD\0", 4)).U32(200).U32(2).Fill(80).Name("one.def", 16).U32(92 + 4 * 32).U32(6000).U32(0).U32(0);
  roomy.Name("two.txt", 16).U32(92 + 4 * 32 + 6000).U32(12000).U32(0).U32(0).Fill(2 * 32);
  roomy.Raw(Pattern(6000, 101)).Raw(Pattern(12000, 102));
  const Snapshot newFiles = {{"x-new.txt", std::string(20000, 't')}, {"one.def", Pattern(6000, 103)},
                             {"two.txt", Pattern(15000, 104)}};
  for (const char* archive : {"f.lod", "f.bin", "f.stk", "f.hog", "f.mvl", "f.slb", "f.grp", "f.rff", "f.gob", "f.goo"}) {
    std::string format = strrchr(archive, '.') + 1;
    Snapshot files = newFiles;
    files[archive] = format == "lod" ? roomy.str() : MakeArchive(archive, two);
    cases.push_back({"add-" + format, archive, files, {"a", archive, "x-new.txt"}});
    cases.push_back({"replace-" + format, archive, files, {"a", archive, "two.txt"}});
  }
  Snapshot sameSize = newFiles;
  sameSize["f.hog"] = MakeArchive("f.hog", two);
  cases.push_back({"replace-same-size-hog", "f.hog", sameSize, {"m", "f.hog", "one.def", "x-new.txt"}});

  if (FullSweep()) {
    std::mt19937 rng(11);
    const char* const operations[] = {"a", "af", "m", "mf"};
    const char* const folders[] = {"", "src/", "src/d1/", "src/d1/d2/"};
    for (int n = 0; n < 10; ++n) {
      UpdateCase c;
      c.label = "random-update-" + std::to_string(n);
      c.archive = "r.pak";
      std::string operation = operations[rng() % 4];
      bool withFolders = operation.size() == 1;
      c.args = {operation, c.archive};
      bool creating = rng() % 4 == 0;  // else an existing archive, maybe with no member
      Pack p;
      if (rng() % 2) p.DirectoryFirst();
      uint32_t stored = creating ? 0 : rng() % 5;
      for (uint32_t i = 0; i < stored; ++i)
        p.Member("m" + std::to_string(i), Pattern(rng() % 2 ? rng() % 400 : 30000 + rng() % 100000, rng()));
      bool inSrc = false;
      uint32_t files = 1 + rng() % 5;
      for (uint32_t i = 0; i < files; ++i) {
        std::string folder = folders[rng() % 4], name = "f" + std::to_string(i) + ".bin";
        std::string path = folder + name;
        c.inputs[path] = Pattern(rng() % 3 ? rng() % 2000 : 50000 + rng() % 150000, rng());
        if (folder.empty())
          c.args.push_back(path);
        else
          inSrc = true;
        if (!creating && rng() % 3 == 0)  // replaced
          p.Member(withFolders ? path : name, Pattern(rng() % 2 ? rng() % 400 : 30000 + rng() % 100000, rng()));
      }
      c.inputs = WithFolders(c.inputs);
      if (inSrc) c.args.push_back("src");
      if (!creating) c.inputs[c.archive] = p.Bytes();
      cases.push_back(c);
    }
  }
  return cases;
}

TEST(CrashUpdate, EveryKillAndPowerCutReadsAsBeforeOrAfterAndTheNextRunFinishes) {
  UpdateTally tally;
  for (const UpdateCase& c : UpdateCases()) {
    SCOPED_TRACE(c.label);
    SweepUpdate(c, &tally);
  }
  printf("update kill points %lu, recoveries %lu, archives torn %lu, members lost %lu\n", tally.killPoints,
         tally.recoveries, tally.torn, tally.lost);
  EXPECT_EQ(tally.torn, 0u);
  EXPECT_EQ(tally.lost, 0u);
}
}  // namespace
