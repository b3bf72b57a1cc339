// Deletion survives a crash: vrex d is killed before every write and every
// sync it makes (once as a plain kill, once as a power cut that drops what
// was not synced), then a second d finishes the job. The archive must then
// be byte for byte what an uninterrupted run gives. Some runs are killed
// again while they recover.
//
// VREX_CRASH_FULL=1 adds random layouts and kills every recovery at every
// point too (bench/delete_crash_sweep.sh).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <random>

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
      for (unsigned long k = 1; k <= total; ++k) {
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
}  // namespace
