// PACK, SLB, HOG, MVL and GRP archives that vrex writes, read by PhysicsFS:
// after each run of a, af, m and d, every member PhysicsFS finds has the
// name, size and bytes of the file stored, and it finds no other.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cctype>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "tests/support/bytes_builder.h"
#include "tests/support/e2e.h"

namespace {
// "path<TAB>size<TAB>crc" lines, sorted by path: what physfs_list prints.
std::string Listing(const std::map<std::string, std::string>& members) {
  std::string out;
  for (const auto& m : members) {
    char fields[64];
    uLong crc = crc32(crc32(0, Z_NULL, 0), reinterpret_cast<const Bytef*>(m.second.data()), uInt(m.second.size()));
    snprintf(fields, sizeof fields, "\t%zu\t%08lx\n", m.second.size(), crc);
    out += m.first + fields;
  }
  return out;
}

void WriteFile(const TempDir& dir, const std::string& path, const std::string& bytes) {
  for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1))
    mkdir(dir.Join(path.substr(0, slash)).c_str(), 0755);
  dir.Write(path, bytes);
}

// A GRP upper-cases the names it stores.
std::string StoredName(const std::string& archive, std::string name) {
  if (archive.size() > 4 && archive.compare(archive.size() - 4, 4, ".grp") == 0)
    for (char& c : name) c = char(toupper(uint8_t(c)));
  return name;
}

struct Step {
  const char* what;
  std::vector<std::pair<std::string, std::string>> files;  // written before the run
  std::vector<std::string> args;
  std::vector<std::pair<std::string, std::string>> members;  // stored or replaced by the run
  bool compacts = false;  // the run leaves no dead space behind
};

// Writes the step's files, runs vrex, and compares what PhysicsFS lists of
// the archive with the members expected so far.
void RunStep(const TempDir& dir, const std::string& archive, const Step& step,
             std::map<std::string, std::string>* expected) {
  for (const auto& f : step.files) WriteFile(dir, f.first, f.second);
  RunResult r = Vrex(dir.path(), step.args);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  for (const auto& m : step.members) (*expected)[StoredName(archive, m.first)] = m.second;
  RunResult seen = RunProgram(dir.path(), {PHYSFS_LIST_PATH, dir.Join(archive)});
  EXPECT_EQ(seen.exitCode, 0) << seen.err;
  EXPECT_EQ(seen.out, Listing(*expected));
}

// PACK and SLB keep folders ("/" and "\" between them in the archive).
void ReadsEveryMember(const std::string& archive, size_t entrySize) {
  SCOPED_TRACE(archive);
  const std::string one = Pattern(60000, 1), e1sub = Pattern(700, 2), e2 = Pattern(25000, 3),
                    progs = Pattern(3000, 4), e2new = Pattern(26000, 5), progsNew = Pattern(2000, 6),
                    oneNew = Pattern(90000, 7), wind = Pattern(12000, 8), readme = Pattern(300, 9),
                    demo = Pattern(5000, 10);
  const std::vector<Step> steps = {
      {"a new archive from a folder tree with nested folders, an empty file and a file",
       {{"maps/e1/e1m1.bsp", one}, {"maps/e1/sub/secret.bin", e1sub}, {"maps/e2/e2m1.bsp", e2},
        {"gfx/empty.lmp", ""}, {"progs.dat", progs}},
       {"a", archive, "maps", "progs.dat", "gfx"},
       {{"maps/e1/e1m1.bsp", one}, {"maps/e1/sub/secret.bin", e1sub}, {"maps/e2/e2m1.bsp", e2},
        {"gfx/empty.lmp", ""}, {"progs.dat", progs}}},
      {"a smaller replacement, and one named in other case that keeps the stored spelling",
       {{"progs.dat", progsNew}, {"MAPS/E2/E2M1.BSP", e2new}},
       {"a", archive, "progs.dat", "MAPS/E2/E2M1.BSP"},
       {{"progs.dat", progsNew}, {"maps/e2/e2m1.bsp", e2new}}},
      {"a larger replacement whose old bytes make the run compact",
       {{"maps/e1/e1m1.bsp", oneNew}},
       {"a", archive, "maps/e1/e1m1.bsp"},
       {{"maps/e1/e1m1.bsp", oneNew}},
       true},
      {"a new folder appended, and a file by its last component",
       {{"sound/ambience/wind.wav", wind}, {"extra/readme.txt", readme}},
       {"a", archive, "sound", "extra/readme.txt"},
       {{"sound/ambience/wind.wav", wind}, {"extra/readme.txt", readme}}},
      {"af stores the last component", {}, {"af", archive, "extra/readme.txt"}, {{"readme.txt", readme}}},
      {"a file moved in", {{"demo1.dem", demo}}, {"m", archive, "demo1.dem"}, {{"demo1.dem", demo}}},
  };

  TempDir dir;
  std::map<std::string, std::string> expected;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    RunStep(dir, archive, step, &expected);
    if (step.compacts) {
      size_t live = 12;
      for (const auto& m : expected) live += entrySize + m.second.size();
      EXPECT_EQ(dir.Read(archive).size(), live);
    }
  }
  EXPECT_FALSE(dir.Exists("demo1.dem"));
}

TEST(PhysicsFs, ReadsEveryMemberVrexStores) {
  ReadsEveryMember("game.pak", 64);
  ReadsEveryMember("game.slb", 72);
}

// HOG, MVL and GRP have flat names (GRP's new ones upper-cased): a new
// archive, a same-size replacement (in place in a HOG), another size and a
// new member (appended to a HOG, or the file rewritten), a deletion.
TEST(PhysicsFs, ReadsTheHogAndMvlFilesVrexWrites) {
  const std::string a = Pattern(5000, 21), b = Pattern(700, 22), c = Pattern(30, 23), b2 = Pattern(700, 24),
                    a2 = Pattern(9000, 25), d = Pattern(100, 26);
  for (const std::string archive : {"game.hog", "game.mvl", "game.grp"}) {
    SCOPED_TRACE(archive);
    const std::vector<Step> steps = {
        {"a new archive from a folder and a file", {{"tree/a.txt", a}, {"tree/sub/b.bin", b}, {"c.dat", c}},
         {"a", archive, "tree", "c.dat"}, {{"a.txt", a}, {"b.bin", b}, {"c.dat", c}}},
        {"a replacement of the same size", {{"b.bin", b2}}, {"a", archive, "b.bin"}, {{"b.bin", b2}}},
        {"another size, and a new member", {{"a.txt", a2}, {"d.raw", d}}, {"a", archive, "a.txt", "d.raw"},
         {{"a.txt", a2}, {"d.raw", d}}},
    };
    TempDir dir;
    std::map<std::string, std::string> expected;
    for (const Step& step : steps) {
      SCOPED_TRACE(step.what);
      RunStep(dir, archive, step, &expected);
    }
    ASSERT_EQ(Vrex(dir.path(), {"d", archive, "C.DAT"}).exitCode, 0);
    expected.erase(StoredName(archive, "c.dat"));
    EXPECT_EQ(RunProgram(dir.path(), {PHYSFS_LIST_PATH, dir.Join(archive)}).out, Listing(expected));
  }
}
}  // namespace
