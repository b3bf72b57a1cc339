// vrex-host end to end: it loads the built module, lists archives through
// it, and runs vrex from the module's templates on the names it listed.
//
// VREX_E2E_HOST_EXE and VREX_E2E_MODULE replace the host and module under
// test (VREX_E2E_LAUNCHER, for example "wine", starts the host), and
// VREX_E2E_STANDIN the stand-in for vrex (tests/plugin/vrex_standin.c).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/bytes_builder.h"
#include "tests/support/doom_wad_image.h"
#include "tests/support/e2e.h"
#include "tests/support/pack_builder.h"
#include "tests/support/rff_builder.h"

namespace {
std::string FromEnv(const char* name, const char* fallback) {
  const char* v = getenv(name);
  return v && *v ? v : fallback;
}

std::string ModulePath() { return FromEnv("VREX_E2E_MODULE", VREX_MODULE_PATH); }

std::string WithoutCarriageReturns(std::string s) {
  std::string out;
  for (char c : s)
    if (c != '\r') out += c;
  return out;
}

std::string HostPath() { return FromEnv("VREX_E2E_HOST_EXE", VREX_HOST_PATH); }

// Runs vrex-host (or the copy at `host`) with `args` in `cwd`; the module
// path is inserted first unless `module` is given.
RunResult Host(const std::string& cwd, const std::vector<std::string>& args, std::string module = "",
               std::string host = "") {
  std::vector<std::string> argvStrings;
  if (TestingWindowsBinary()) argvStrings.push_back(getenv("VREX_E2E_LAUNCHER"));
  argvStrings.push_back(host.empty() ? HostPath() : host);
  argvStrings.push_back(module.empty() ? ModulePath() : module);
  for (const auto& a : args) argvStrings.push_back(a);
  RunResult r = RunProgram(cwd, argvStrings);
  r.out = WithoutCarriageReturns(r.out);
  r.err = WithoutCarriageReturns(r.err);
  return r;
}

// The item names of a "list" output, in order.
std::vector<std::string> ListedNames(const std::string& listing) {
  std::vector<std::string> names;
  std::istringstream lines(listing);
  std::string line;
  while (std::getline(lines, line))
    if (line.find('\t') != std::string::npos) names.push_back(line.substr(0, line.find('\t')));
  return names;
}

// Files below `dir` other than the archive, with their contents.
std::map<std::string, std::string> Extracted(const TempDir& dir, const std::string& archive) {
  std::map<std::string, std::string> files;
  for (const auto& f : dir.Tree())
    if (f.first != archive && f.first.back() != '/') files.insert(f);
  return files;
}

// A Doom WAD: lump data behind the header, the directory behind the data.
// A marker has no data; it points at the end of the data before it.
class Wad {
 public:
  Wad& Lump(const std::string& name, const std::string& data) {
    entries_.push_back({name, 12 + uint32_t(data_.size()), uint32_t(data.size())});
    data_ += data;
    return *this;
  }
  Wad& Marker(const std::string& name) {
    entries_.push_back({name, 12 + uint32_t(data_.size()), 0});
    return *this;
  }
  std::string Bytes() const {
    ::Bytes out;
    out.Raw("IWAD").U32(uint32_t(entries_.size())).U32(12 + uint32_t(data_.size())).Raw(data_);
    for (const auto& e : entries_) out.U32(e.offset).U32(e.size).Name(e.name, 8);
    return out.str();
  }

 private:
  struct E {
    std::string name;
    uint32_t offset, size;
  };
  std::vector<E> entries_;
  std::string data_;
};

// Lumps of 100 bytes or more, with a backslash in one of the names, in a
// namespace and in a map.
const std::string kBig = Pattern(1000, 1), kVile = Pattern(150, 2), kTroo = Pattern(120, 3),
                  kThings = Pattern(200, 4), kLines = Pattern(300, 5);

std::string SampleWad() {
  return Wad().Lump("BIG", kBig).Marker("S_START").Lump("VILE\\1", kVile).Lump("TROOA1", kTroo)
      .Marker("S_END").Lump("TINY", "small").Marker("MAP01").Lump("THINGS", kThings).Lump("LINEDEFS", kLines)
      .Bytes();
}

const std::string kMaps = Pattern(220, 6), kSound = Pattern(150, 7), kReadme = Pattern(30, 8),
                  kLast = Pattern(64, 9);

std::string SamplePack() {
  return Pack().Member("maps/e1m1.bsp", kMaps).Member("sound/a.wav", kSound).Member("readme.txt", kReadme)
      .Member("last.dat", kLast).Bytes();
}

TEST(Host, ListsAPack) {
  TempDir dir;
  dir.Write("a.pak", SamplePack());
  RunResult r = Host(dir.path(), {"list", "a.pak"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "tag 0x4B434150 Quake Pack Pak\nmaps/e1m1.bsp\t220\t220\nsound/a.wav\t150\t150\n"
                   "readme.txt\t30\t30\nlast.dat\t64\t64\nend 0\n");
}

TEST(Host, ListsADoomWadWithFolders) {
  TempDir dir;
  dir.Write("doom.wad", SampleWad());
  RunResult r = Host(dir.path(), {"list", "doom.wad"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "tag 0x44415749 DooM Main WAD WAD\nBIG\t1000\t1000\nS_START\\VILE~1\t150\t150\n"
                   "S_START\\TROOA1\t120\t120\nMAP01\\THINGS\t200\t200\nMAP01\\LINEDEFS\t300\t300\nend 0\n");
}

TEST(Host, FormatsAndCommands) {
  TempDir dir;
  RunResult f = Host(dir.path(), {"formats"});
  EXPECT_EQ(f.exitCode, 0);
  EXPECT_EQ(f.out,
            "0x4B434150\t1\tQuake Pack\tPak\n0x44415749\t1\tDooM Main WAD\tWAD\n"
            "0x44415750\t1\tDooM Patch WAD\tWAD\n0x32444157\t1\tQuake WAD\tWAD\n"
            "0x33444157\t1\tHalf-Life WAD\tWAD\n0x00444F4C\t1\t3DO LOD (heroes)\tLOD\n"
            "0x4C564D44\t1\tDescent DMVL\tMVL\n0x64695343\t1\tCHASM BIN\tBIN\n"
            "0x444E5344\t1\tDescent Sounds\tS11\n0x5344534F\t1\tLionhearth ZipStorage\tOSD\n"
            "0x00464844\t1\tDescent HOG\tHOG\n0x004B5453\t1\tCoctel STK\tSTK\n"
            "0x00464652\t1\tBlood RFF\tRFF\n0x00424F47\t1\tDark Forces GOB\tGOB\n"
            "0x32424F47\t1\tJedi Knight GOB\tGOB\n0x4B415053\t1\tSiN Pack\tSIN\n"
            "0x00424C53\t1\tI-War SLB\tSLB\n0x00505247\t1\tBuild GRP\tGRP\n0x4F544144\t0\n");
  RunResult c = Host(dir.path(), {"commands", "LOD"});
  EXPECT_EQ(c.exitCode, 0);
  EXPECT_EQ(c.out, "0\t1\tvrex x %%A @%%LM\n1\t1\tvrex e %%A @%%LM\n2\t1\tvrex t %%A @%%LM\n3\t1\tvrex d %%A @%%LM\n"
                   "4\t1\t\n5\t1\t\n6\t1\t\n7\t1\t\n8\t1\t\n9\t1\t\n10\t1\tvrex af %%A @%%LM\n"
                   "11\t1\tvrex mf %%A @%%LM\n12\t1\tvrex a %%A @%%LM\n13\t1\tvrex m %%A @%%LM\n14\t1\t*.*\n"
                   "15\t0\n");
  EXPECT_EQ(Host(dir.path(), {"commands", "0x4B434150"}).out, Host(dir.path(), {"commands", "PACK"}).out);
  EXPECT_EQ(Host(dir.path(), {"commands", "SPAK"}).out, Host(dir.path(), {"commands", "PACK"}).out);
  // The other formats vrex writes: the WAD templates with the mask "*.*".
  std::string wad = Host(dir.path(), {"commands", "PWAD"}).out;
  std::string writable = wad.replace(wad.find("14\t1\t*\n"), 7, "14\t1\t*.*\n");
  for (const char* tag : {"RFF", "GOB", "GOB2", "SLB", "GRP"})
    EXPECT_EQ(Host(dir.path(), {"commands", tag}).out, writable) << tag;
}

// The formats whose open seeks to or scans a directory (GOB v1 reads like
// GOB v2); the module's tests have every format.
TEST(Host, ListsRffGobAndSlb) {
  struct Case {
    const char* file;
    std::string bytes;
    const char* listing;
  } cases[] = {
      {"a.rff", RffBytes(0x0300, "x", {{"TILES000", "ART", 32, 1, 0x10}, {"README", "", 33, 0, 0}}, 2 * 33 + 1),
       "tag 0x00464652 Blood RFF RFF\nTILES000.ART\t1\t1\nREADME\t0\t0\n"},
      {"j.goo", Bytes().Raw("GOB ").U32(20).U32(12).U32(1).U32(0).U32(9).Name("3do\\mat\\dflt.mat", 128).str(),
       "tag 0x32424F47 Jedi Knight GOB GOB\n3do\\mat\\dflt.mat\t9\t9\n"},
      {"i.slb", Bytes().U32(0).U32(1).U32(12).Name("\\data\\ships.dat", 64).U32(0).U32(5).str(),
       "tag 0x00424C53 I-War SLB SLB\ndata\\ships.dat\t5\t5\n"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    dir.Write(c.file, c.bytes);
    RunResult r = Host(dir.path(), {"list", c.file});
    EXPECT_EQ(r.exitCode, 0) << c.file << r.err;
    EXPECT_EQ(r.out, std::string(c.listing) + "end 0\n");
  }
}

TEST(Host, ExitCodesOfItsOwn) {
  TempDir dir;
  dir.Write("junk.bin", std::string(64, 'j'));
  dir.Write("bad.osd", Bytes().Raw("OSDS").U32(99).U32(16).U32(0).str());
  EXPECT_EQ(Host(dir.path(), {"list", "junk.bin"}).exitCode, 1);
  EXPECT_EQ(Host(dir.path(), {"list", "bad.osd"}).exitCode, 2);
  EXPECT_EQ(Host(dir.path(), {"list", "missing.pak"}).exitCode, 2);
  EXPECT_EQ(Host(dir.path(), {"list"}).exitCode, 10);
  EXPECT_EQ(Host(dir.path(), {"commands", "TOOLONG"}).exitCode, 10);
  EXPECT_EQ(Host(dir.path(), {"formats"}, dir.Join("nothing.so")).exitCode, 11);
}

TEST(Host, StopsAModuleThatWritesOutsideTheItemFields) {
  TempDir dir;
  // The first item's name of 259 bytes and its terminator passes; the
  // second item's byte 40, or byte 304 just behind the name field, does not.
  for (const char* archive : {"a.pak", "a.over"}) {
    dir.Write(archive, SamplePack());
    RunResult r = Host(dir.path(), {"list", archive}, VREX_BAD_MODULE_PATH);
    EXPECT_EQ(r.exitCode, 12);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, std::string("vrex-host: GetArcItem wrote byte ") + (archive[2] == 'p' ? "40" : "304") +
                         " of the item record, outside size@32, name@44 and packedSize@322\n");
  }
}

TEST(Host, RunExtractsTheNamedPackItemsWithVrex) {
  TempDir dir;
  dir.Write("a.pak", SamplePack());
  // A name given with "\" reaches vrex with "/" through the PACK template's list.
  RunResult r = Host(dir.path(), {"run", "0", "a.pak", "maps\\e1m1.bsp", "readme.txt"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("\n2 matches found\n"), std::string::npos) << r.out;
  // Patterns from a list are upper-cased by vrex; the files keep the stored letters.
  EXPECT_EQ(Extracted(dir, "a.pak"),
            (std::map<std::string, std::string>{{"maps/e1m1.bsp", kMaps}, {"readme.txt", kReadme}}));
}

// The formats only the module used to read: the host's extract template
// runs vrex on a Descent HOG and a sound file; ZipStorage stays unknown to
// vrex ("Unknown format", exit 3) though the module lists it.
TEST(Host, RunExtractsFromHogAndSoundFiles) {
  TempDir dir;
  const std::string level = Pattern(300, 41), text = "descent text";
  Bytes hog;
  hog.Raw("DHF").Name("descent.txb", 13).U32(uint32_t(text.size())).Raw(text);
  hog.Name("level01.rdl", 13).U32(uint32_t(level.size())).Raw(level);
  dir.Write("descent.hog", hog.str());
  RunResult h = Host(dir.path(), {"run", "0", "descent.hog", "level01.rdl"});
  EXPECT_EQ(h.exitCode, 0) << h.err;
  EXPECT_NE(h.out.find("Searching  DHF (2 files)\nExtracting LEVEL01.RDL\n\n1 matches found\n"), std::string::npos)
      << h.out;
  EXPECT_EQ(Extracted(dir, "descent.hog"), (std::map<std::string, std::string>{{"level01.rdl", level}}));

  TempDir sounds;
  Bytes dsnd;
  dsnd.Raw("DSND").U32(1).U32(1).Name("laser", 8).U32(5).U32(5).U32(0).Raw("LASER");
  sounds.Write("sounds.s11", dsnd.str());
  RunResult s = Host(sounds.path(), {"run", "0", "sounds.s11"});
  EXPECT_EQ(s.exitCode, 0) << s.err;
  EXPECT_EQ(Extracted(sounds, "sounds.s11"), (std::map<std::string, std::string>{{"laser", "LASER"}}));

  TempDir zip;
  zip.Write("z.osd", Bytes().Raw("OSDS").U32(48).U32(16).U32(1).Fill(32).str());
  RunResult z = Host(zip.path(), {"run", "0", "z.osd"});
  EXPECT_EQ(z.exitCode, 3);
  EXPECT_NE(z.out.find("Unknown format\n"), std::string::npos) << z.out;
}

TEST(Host, RunWithoutNamesTakesEveryItem) {
  TempDir dir;
  dir.Write("doom.wad", SampleWad());
  RunResult r = Host(dir.path(), {"run", "0", "doom.wad"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("\n5 matches found\n"), std::string::npos) << r.out;
  std::map<std::string, std::string> files = Extracted(dir, "doom.wad");
  EXPECT_EQ(files.size(), 5u);
  EXPECT_EQ(files["BIG"], kBig);
  EXPECT_EQ(files["MAP01/THINGS"], kThings);
  EXPECT_EQ(files["S_START/TROOA1"], kTroo);
}

TEST(Host, EveryListedDoomItemSelectsExactlyItsLump) {
  TempDir listing;
  listing.Write("doom.wad", SampleWad());
  std::vector<std::string> names = ListedNames(Host(listing.path(), {"list", "doom.wad"}).out);
  std::map<std::string, std::string> lumps = {{"BIG", kBig},          {"S_START\\VILE~1", kVile},
                                              {"S_START\\TROOA1", kTroo}, {"MAP01\\THINGS", kThings},
                                              {"MAP01\\LINEDEFS", kLines}};
  ASSERT_EQ(names.size(), lumps.size());
  for (const std::string& name : names) {
    TempDir dir;
    dir.Write("doom.wad", SampleWad());
    RunResult r = Host(dir.path(), {"run", "0", "doom.wad", name});
    EXPECT_EQ(r.exitCode, 0) << name << r.err;
    EXPECT_NE(r.out.find("\n1 matches found\n"), std::string::npos) << name << "\n" << r.out;
    std::map<std::string, std::string> files = Extracted(dir, "doom.wad");
    ASSERT_EQ(files.size(), 1u) << name;
    EXPECT_EQ(files.begin()->second, lumps[name]) << name << " -> " << files.begin()->first;
  }
}

// Deletes two items through the host, then checks the listing and that
// every other member still extracts byte for byte.
void DeleteTwoAndCheck(const std::string& archive, const std::string& bytes,
                       const std::vector<std::string>& victims) {
  TempDir dir;
  dir.Write(archive, bytes);
  std::vector<std::string> before = ListedNames(Host(dir.path(), {"list", archive}).out);
  TempDir reference;
  reference.Write(archive, bytes);
  ASSERT_EQ(Vrex(reference.path(), {"x", archive}).exitCode, 0);

  std::vector<std::string> args = {"run", "3", archive};
  args.insert(args.end(), victims.begin(), victims.end());
  RunResult r = Host(dir.path(), args);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("\n2 matches found\n"), std::string::npos) << r.out;

  std::vector<std::string> expected;
  for (const std::string& n : before)
    if (std::find(victims.begin(), victims.end(), n) == victims.end()) expected.push_back(n);
  EXPECT_EQ(ListedNames(Host(dir.path(), {"list", archive}).out), expected);

  TempDir after;
  after.Write(archive, dir.Read(archive));
  ASSERT_EQ(Vrex(after.path(), {"x", archive}).exitCode, 0);
  std::map<std::string, std::string> kept = Extracted(after, archive);
  std::map<std::string, std::string> all = Extracted(reference, archive);
  EXPECT_EQ(kept.size() + 2, all.size());
  for (const auto& f : kept) EXPECT_EQ(f.second, all[f.first]) << f.first;
}

TEST(Host, RunDeletesTwoPackItems) {
  DeleteTwoAndCheck("a.pak", SamplePack(), {"sound/a.wav", "maps/e1m1.bsp"});
}

TEST(Host, RunDeletesTwoWadLumps) {
  DeleteTwoAndCheck("doom.wad", SampleWad(), {"S_START\\TROOA1", "BIG"});
}

TEST(Host, ArchivePathsWithBlanksStayOneArgument) {
  TempDir dir;
  dir.Write("my pak.pak", SamplePack());
  RunResult r = Host(dir.path(), {"run", "2", dir.Join("my pak.pak"), "last.dat"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("\n1 matches found\n"), std::string::npos) << r.out;
}

TEST(Host, RunReturnsWhatVrexReturnsAndRefusesEmptySlots) {
  TempDir dir;
  // The module opens a PACK with an empty directory; vrex calls it broken.
  dir.Write("empty.pak", Bytes().Raw("PACK").U32(12).U32(0).str());
  EXPECT_EQ(Host(dir.path(), {"run", "2", "empty.pak", "x"}).exitCode, 5);
  // A member that can't be read whole fails the test.
  dir.Write("cut.pak", Pack().Entry("cut", 12, 1000).Bytes());
  EXPECT_EQ(Host(dir.path(), {"run", "2", "cut.pak", "cut"}).exitCode, 4);
  // Without names and without items nothing is passed, so vrex is not run.
  RunResult none = Host(dir.path(), {"run", "3", "empty.pak"});
  EXPECT_EQ(none.exitCode, 0);
  EXPECT_EQ(none.out, "");
  dir.Write("a.pak", SamplePack());
  EXPECT_EQ(Host(dir.path(), {"run", "4", "a.pak"}).exitCode, 13);
  EXPECT_EQ(Host(dir.path(), {"run", "14", "a.pak"}).exitCode, 13);
  EXPECT_EQ(Host(dir.path(), {"run", "15", "a.pak"}).exitCode, 13);
  // Deletion is not offered for sound files.
  dir.Write("h.s11", Bytes().Raw("DSND").U32(1).U32(1).Name("laser", 8).U32(5).U32(5).U32(0).Raw("LASER").str());
  EXPECT_EQ(Host(dir.path(), {"run", "3", "h.s11", "x"}).exitCode, 13);
  EXPECT_EQ(Extracted(dir, "").size(), 4u);  // the four archives, nothing else
}
// ---- the add slots (10 af, 11 mf, 12 a, 13 m): files from disk

void CopyExecutable(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  out << in.rdbuf();
  out.close();
  ASSERT_TRUE(in && out) << from << " -> " << to;
  ASSERT_EQ(chmod(to.c_str(), 0755), 0) << to;
}

// A copy of vrex-host in a folder of its own with the stand-in for vrex
// beside it, which the host starts in vrex's place: a run's output shows the
// command line the host started ("arg" lines) and the list file ("line").
class StandinHost {
 public:
  StandinHost() {
    bool windows = TestingWindowsBinary();
    host_ = bin_.Join(windows ? "vrex-host.exe" : "vrex-host");
    CopyExecutable(HostPath(), host_);
    CopyExecutable(FromEnv("VREX_E2E_STANDIN", VREX_STANDIN_PATH), bin_.Join(windows ? "vrex.exe" : "vrex"));
  }
  RunResult Run(const std::string& cwd, const std::vector<std::string>& args) const {
    return Host(cwd, args, "", host_);
  }

 private:
  TempDir bin_;
  std::string host_;
};

TEST(HostAdd, ANewArchiveRunsItsTemplateByTheExtension) {
  struct Case {
    const char* slot;
    const char* archive;
    std::vector<std::string> names;
    std::string command;  // what the stand-in prints
  };
  std::vector<Case> cases = {
      {"10", "new.pak", {"a.txt", "sub\\b.txt"}, "arg af\narg new.pak\narg @(list)\nline a.txt\nline sub/b.txt\n"},
      {"11", "New.Pak", {"sub\\b.txt"}, "arg mf\narg New.Pak\narg @(list)\nline sub/b.txt\n"},
      {"12", "NEW.WAD", {"sub\\b.lmp", "c.lmp"}, "arg a\narg NEW.WAD\narg @(list)\nline sub\\b.lmp\nline c.lmp\n"},
      {"13", "out/new.wAd", {"sub"}, "arg m\narg out/new.wAd\narg @(list)\nline sub\n"},
      {"12", "new.sin", {"sub\\b.txt"}, "arg a\narg new.sin\narg @(list)\nline sub/b.txt\n"},
  };
  for (const char* archive : {"n.rff", "n.GOB", "n.goo", "n.slb", "n.Grp"})
    cases.push_back({"10", archive, {"sub\\b.txt"}, "arg af\narg " + std::string(archive) + "\narg @(list)\nline sub\\b.txt\n"});
  StandinHost host;
  for (const Case& c : cases) {
    TempDir dir;
    dir.Write("a.txt", "alpha");
    ASSERT_EQ(mkdir(dir.Join("out").c_str(), 0755), 0);
    std::vector<std::string> args = {"run", c.slot, c.archive};
    args.insert(args.end(), c.names.begin(), c.names.end());
    RunResult r = host.Run(dir.path(), args);
    EXPECT_EQ(r.exitCode, 0) << c.archive << "\n" << r.err;
    EXPECT_EQ(r.out, c.command) << c.archive;
    EXPECT_EQ(r.err, "") << c.archive;
    EXPECT_FALSE(dir.Exists(c.archive)) << c.archive;
  }
}

TEST(HostAdd, OtherMissingArchivesCannotBeOpened) {
  struct Case {
    const char* slot;
    const char* archive;
  } cases[] = {
      {"10", "new.zip"}, {"11", "new"},  {"12", "new.pak.bak"}, {"13", "dir.pak/new"}, {"10", "new.pa"},
      {"0", "new.pak"},  {"3", "new.wad"}, {"9", "new.pak"}, {"3", "new.grp"}, {"12", "new.gob2"},
  };
  StandinHost host;
  TempDir dir;
  ASSERT_EQ(mkdir(dir.Join("dir.pak").c_str(), 0755), 0);
  for (const Case& c : cases) {
    RunResult r = host.Run(dir.path(), {"run", c.slot, c.archive, "a.txt"});
    EXPECT_EQ(r.exitCode, 2) << c.slot << " " << c.archive;
    EXPECT_EQ(r.out, "") << c.slot << " " << c.archive;
    EXPECT_EQ(r.err, std::string("vrex-host: cannot open ") + c.archive + "\n");
  }
}

TEST(HostAdd, WithoutNamesNothingRuns) {
  StandinHost host;
  TempDir dir;
  dir.Write("a.pak", SamplePack());
  dir.Write("doom.wad", SampleWad());
  for (const char* slot : {"10", "11", "12", "13"}) {
    // Never the archive's items: m and mf would remove files of those names.
    for (const char* archive : {"a.pak", "doom.wad", "new.pak", "new.wad"}) {
      RunResult r = host.Run(dir.path(), {"run", slot, archive});
      EXPECT_EQ(r.exitCode, 0) << slot << " " << archive;
      EXPECT_EQ(r.out, "") << slot << " " << archive;
      EXPECT_EQ(r.err, "vrex-host: no files or folders named - vrex not run\n") << slot << " " << archive;
    }
  }
  EXPECT_EQ(dir.Read("a.pak"), SamplePack());
  EXPECT_EQ(dir.Read("doom.wad"), SampleWad());
  EXPECT_FALSE(dir.Exists("new.pak"));
  EXPECT_FALSE(dir.Exists("new.wad"));
}

TEST(HostAdd, AnExistingArchiveIsOpenedAndGetsTheNamesAsGiven) {
  StandinHost host;
  TempDir dir;
  dir.Write("a.pak", SamplePack());
  dir.Write("doom.wad", SampleWad());
  RunResult pack = host.Run(dir.path(), {"run", "12", "a.pak", "x.txt", "sub\\y.txt"});
  EXPECT_EQ(pack.exitCode, 0) << pack.err;
  EXPECT_EQ(pack.out, "arg a\narg a.pak\narg @(list)\nline x.txt\nline sub/y.txt\n");
  RunResult wad = host.Run(dir.path(), {"run", "11", "doom.wad", "sub\\y.lmp"});
  EXPECT_EQ(wad.exitCode, 0) << wad.err;
  EXPECT_EQ(wad.out, "arg mf\narg doom.wad\narg @(list)\nline sub\\y.lmp\n");
  // A file that exists is never taken as new: the module must know it.
  dir.Write("junk.pak", std::string(64, 'j'));
  RunResult junk = host.Run(dir.path(), {"run", "10", "junk.pak", "x.txt"});
  EXPECT_EQ(junk.exitCode, 1);
  EXPECT_EQ(junk.out, "");
  // Formats without add templates refuse the slots.
  dir.Write("h.s11", Bytes().Raw("DSND").U32(1).U32(1).Name("laser", 8).U32(5).U32(5).U32(0).Raw("LASER").str());
  EXPECT_EQ(host.Run(dir.path(), {"run", "13", "h.s11", "x.txt"}).exitCode, 13);
}

// ---- the add slots with vrex: files on disk into a new or an existing archive

void PutTree(const TempDir& dir, const std::map<std::string, std::string>& files) {
  for (const auto& f : files) {
    for (size_t slash = f.first.find('/'); slash != std::string::npos; slash = f.first.find('/', slash + 1))
      mkdir(dir.Join(f.first.substr(0, slash)).c_str(), 0777);
    dir.Write(f.first, f.second);
  }
}

// Every member as x writes it (without patterns: names as stored).
std::map<std::string, std::string> ExtractedByVrex(const std::string& archive, const std::string& bytes) {
  TempDir dir;
  dir.Write(archive, bytes);
  RunResult r = Vrex(dir.path(), {"x", archive});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  return Extracted(dir, archive);
}

const std::map<std::string, std::string> kTree = {
    {"tree/a.txt", Pattern(40, 20)}, {"tree/sub/b.dat", Pattern(300, 21)}, {"tree/sub/deep/c.bin", Pattern(7, 22)}};

TEST(HostAdd, PacksAFolderTreeIntoANewAndAnExistingPack) {
  TempDir dir;
  PutTree(dir, kTree);
  dir.Write("readme.txt", Pattern(50, 23));
  // Slot 12 (a): a folder named with "\" reaches vrex with "/".
  RunResult made = Host(dir.path(), {"run", "12", "new.pak", "tree\\sub", "tree/a.txt"});
  EXPECT_EQ(made.exitCode, 0) << made.out << made.err;
  EXPECT_NE(made.out.find("Creating new.pak\n"), std::string::npos) << made.out;
  EXPECT_EQ(Host(dir.path(), {"list", "new.pak"}).out,
            "tag 0x4B434150 Quake Pack Pak\ntree/sub/b.dat\t300\t300\ntree/sub/deep/c.bin\t7\t7\n"
            "tree/a.txt\t40\t40\nend 0\n");
  EXPECT_EQ(ExtractedByVrex("new.pak", dir.Read("new.pak")), kTree);

  // Into an existing PACK: readme.txt replaced in place, the tree appended;
  // slot 10 (af) stores the files under their own names.
  dir.Write("a.pak", SamplePack());
  RunResult added = Host(dir.path(), {"run", "12", "a.pak", "readme.txt", "tree"});
  EXPECT_EQ(added.exitCode, 0) << added.out << added.err;
  EXPECT_EQ(Host(dir.path(), {"list", "a.pak"}).out,
            "tag 0x4B434150 Quake Pack Pak\nmaps/e1m1.bsp\t220\t220\nsound/a.wav\t150\t150\nreadme.txt\t50\t50\n"
            "last.dat\t64\t64\ntree/a.txt\t40\t40\ntree/sub/b.dat\t300\t300\ntree/sub/deep/c.bin\t7\t7\nend 0\n");
  RunResult flat = Host(dir.path(), {"run", "10", "a.pak", "tree\\sub\\deep\\c.bin"});
  EXPECT_EQ(flat.exitCode, 0) << flat.out << flat.err;
  std::vector<std::string> names = ListedNames(Host(dir.path(), {"list", "a.pak"}).out);
  EXPECT_EQ(names.back(), "c.bin");
  std::map<std::string, std::string> want = kTree;
  want.insert({{"maps/e1m1.bsp", kMaps}, {"sound/a.wav", kSound}, {"readme.txt", Pattern(50, 23)},
               {"last.dat", kLast}, {"c.bin", Pattern(7, 22)}});
  EXPECT_EQ(ExtractedByVrex("a.pak", dir.Read("a.pak")), want);
  EXPECT_EQ(dir.Read("tree/a.txt"), Pattern(40, 20)) << "a and af leave the files";
}

TEST(HostAdd, MovesFilesIntoAPack) {
  TempDir dir;
  PutTree(dir, kTree);
  dir.Write("keep.txt", "kept");
  // Slot 13 (m) into a new PACK: the files and the folders they leave empty go.
  RunResult moved = Host(dir.path(), {"run", "13", "new.pak", "tree"});
  EXPECT_EQ(moved.exitCode, 0) << moved.out << moved.err;
  EXPECT_EQ(ListedNames(Host(dir.path(), {"list", "new.pak"}).out),
            (std::vector<std::string>{"tree/a.txt", "tree/sub/b.dat", "tree/sub/deep/c.bin"}));
  EXPECT_EQ(ExtractedByVrex("new.pak", dir.Read("new.pak")), kTree);
  // Slot 11 (mf) into an existing PACK.
  dir.Write("a.pak", SamplePack());
  PutTree(dir, kTree);
  RunResult flat = Host(dir.path(), {"run", "11", "a.pak", "tree\\sub"});
  EXPECT_EQ(flat.exitCode, 0) << flat.out << flat.err;
  EXPECT_EQ(ListedNames(Host(dir.path(), {"list", "a.pak"}).out),
            (std::vector<std::string>{"maps/e1m1.bsp", "sound/a.wav", "readme.txt", "last.dat", "b.dat", "c.bin"}));
  std::map<std::string, std::string> left;
  for (const auto& f : dir.Tree())
    if (f.first.back() != '/' && f.first.find(".pak") == std::string::npos) left.insert(f);
  EXPECT_EQ(left, (std::map<std::string, std::string>{{"keep.txt", "kept"}, {"tree/a.txt", Pattern(40, 20)}}));
  EXPECT_FALSE(dir.Exists("tree/sub"));
}

// A new WAD through slot 12 (a) is a PWAD: a map folder becomes the map's
// marker and its lumps in the order the engines read them; through slot 13
// (m) the files go.
TEST(HostAdd, MakesANewWadWithAMapAndATopLevelLump) {
  const char* const lumps[] = {"THINGS", "LINEDEFS", "SIDEDEFS", "VERTEXES", "SEGS",
                               "SSECTORS", "NODES", "SECTORS", "REJECT", "BLOCKMAP"};
  for (const char* slot : {"12", "13"}) {
    SCOPED_TRACE(slot);
    TempDir dir;
    std::map<std::string, std::string> files = {{"dehacked.lmp", Pattern(150, 30)}};
    for (int i = 0; i < 10; ++i) files["MAP01/" + std::string(lumps[i])] = Pattern(100 + i, 31 + i);
    PutTree(dir, files);
    RunResult made = Host(dir.path(), {"run", slot, "new.wad", "MAP01", "dehacked.lmp"});
    EXPECT_EQ(made.exitCode, 0) << made.out << made.err;
    std::string listing = "tag 0x44415750 DooM Patch WAD WAD\nDEHACKED\t150\t150\n";
    std::vector<std::string> entries = {"DEHACKED 150", "MAP01 0"};
    for (int i = 0; i < 10; ++i) {
      listing += "MAP01\\" + std::string(lumps[i]) + "\t" + std::to_string(100 + i) + "\t" + std::to_string(100 + i) + "\n";
      entries.push_back(std::string(lumps[i]) + " " + std::to_string(100 + i));
    }
    EXPECT_EQ(Host(dir.path(), {"list", "new.wad"}).out, listing + "end 0\n");
    std::string wad = dir.Read("new.wad");
    EXPECT_EQ(wad.substr(0, 4), "PWAD");
    std::vector<std::string> got;
    for (const WadEntry& e : WadDirectory(wad)) got.push_back(e.name + " " + std::to_string(e.size));
    EXPECT_EQ(got, entries);
    std::map<std::string, std::string> want;
    for (const auto& f : files) want[f.first == "dehacked.lmp" ? "DEHACKED" : f.first] = f.second;
    EXPECT_EQ(ExtractedByVrex("new.wad", wad), want);
    bool moved = std::string(slot) == "13";
    EXPECT_EQ(dir.Exists("MAP01"), !moved);
    EXPECT_EQ(dir.Exists("dehacked.lmp"), !moved);
  }
}
// The formats with flat names through the slots with vrex: a new archive
// made by its extension (a), a file moved in (mf), one deleted (d); the
// files go in under their own names.
TEST(HostAdd, MakesLodStkHogAndMvlArchivesByTheExtension) {
  for (const char* archive : {"new.lod", "new.stk", "NEW.ITK", "new.hog", "new.mvl"}) {
    SCOPED_TRACE(archive);
    TempDir dir;
    PutTree(dir, kTree);
    RunResult made = Host(dir.path(), {"run", "12", archive, "tree/sub", "tree/a.txt"});
    EXPECT_EQ(made.exitCode, 0) << made.out << made.err;
    EXPECT_NE(made.out.find(std::string("Creating ") + archive + "\n"), std::string::npos) << made.out;
    dir.Write("moved.dat", "moved");
    RunResult moved = Host(dir.path(), {"run", "11", archive, "moved.dat"});
    EXPECT_EQ(moved.exitCode, 0) << moved.out << moved.err;
    EXPECT_FALSE(dir.Exists("moved.dat"));
    RunResult deleted = Host(dir.path(), {"run", "3", archive, "a.txt"});
    EXPECT_EQ(deleted.exitCode, 0) << deleted.out << deleted.err;
    std::vector<std::string> names = ListedNames(Host(dir.path(), {"list", archive}).out);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"b.dat", "c.bin", "moved.dat"}));
    EXPECT_EQ(ExtractedByVrex(archive, dir.Read(archive)),
              (std::map<std::string, std::string>{
                  {"b.dat", Pattern(300, 21)}, {"c.bin", Pattern(7, 22)}, {"moved.dat", "moved"}}));
  }
}
}  // namespace
