// a, af and mf on Doom WADs end to end: which entry a file replaces, where a
// new lump goes, what is refused, labels and markers, shared data, a new
// PWAD, and x followed by a giving back the same WAD.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "tests/support/doom_wad_image.h"
#include "tests/support/e2e.h"
#include "tests/support/faults.h"
#include "tests/support/wad_add_run.h"

namespace {
struct Wad {
  const char* magic;
  std::vector<std::string> entries;  // as BuildWad takes them
};

// Two sprite blocks, two maps (the second with labels for most of its lumps),
// a sprite frame whose own name holds a backslash, a label in a namespace and
// a lump whose own name holds a dot.
const Wad kIwad = {"IWAD", {
    "PLAYPAL:200", "S_START", "TROOA1:150", "VILE\\1:120", "TINY:5", "S_END",                      // 0-5
    "MAP01", "THINGS:120", "LINEDEFS:130", "SIDEDEFS:100", "VERTEXES:110", "SEGS:100",             // 6-11
    "SSECTORS:100", "NODES:100", "SECTORS:100", "REJECT:0", "BLOCKMAP:100",                        // 12-16
    "MAP02", "THINGS:121", "LINEDEFS:131", "SIDEDEFS:0", "VERTEXES:0", "SEGS:0", "SSECTORS:0",     // 17-23
    "NODES:0", "SECTORS:0", "REJECT:0", "BLOCKMAP:0", "S_START", "TROOB1:140", "S_END",            // 24-30
    "INFO.TXT:100", "ENDOOM:200"}};                                                                // 31-32
const Wad kTwice = {"PWAD", {"S_START", "TROOA1:150", "S_END", "S_START", "TROOA1:160", "S_END", "DUP:100", "DUP:101"}};
const Wad kOpenNamespace = {"PWAD", {"PLAYPAL:200", "F_START", "FLAT1:150", "FLAT2:160"}};
const Wad kShortMapLast = {"PWAD", {"PLAYPAL:200", "E1M1", "THINGS:120", "LINEDEFS:130"}};

// A file for each "PATH:SIZE" (or "PATH", 300 bytes), its bytes distinct for
// each path.
std::vector<std::pair<std::string, std::string>> Files(const std::string& described) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& f : Split(described)) {
    const size_t colon = f.rfind(':');
    out.push_back({f.substr(0, colon), Pattern(colon == f.npos ? 300 : std::stoul(f.substr(colon + 1)), Fnv(f))});
  }
  return out;
}

std::vector<std::string> Described(const std::string& wad) {
  std::vector<std::string> out;
  for (const WadEntry& e : WadDirectory(wad)) out.push_back(e.name + " " + Digest(e.data));
  return out;
}

// A classic map: its ten lumps as files of `size` bytes, the lines a prints
// for its folder (in path order), and the entries they make.
struct Map {
  std::string files = " ", lines, entries;
};
Map NewMap(const std::string& map, int size) {
  std::vector<std::string> lumps = {"THINGS", "LINEDEFS", "SIDEDEFS", "VERTEXES", "SEGS",
                                    "SSECTORS", "NODES", "SECTORS", "REJECT", "BLOCKMAP"};
  Map m;
  m.entries = " " + map + " ";
  for (const auto& lump : lumps) {
    m.files += map + "/" + lump + ":" + std::to_string(size) + " ";
    m.entries += lump + "<" + map + "/" + lump + " ";
  }
  std::sort(lumps.begin(), lumps.end());
  for (const auto& lump : lumps) m.lines += "Adding " + map + "\\" + lump + "\n";
  return m;
}

struct Row {
  const char* label;
  const Wad* wad;     // null: a.wad does not exist
  std::string cmd;    // the letter, then the names behind the archive (the letter alone: the files)
  std::string files;  // as Files takes them
  std::string lines;  // between the heading and the summary
  // The directory afterwards: "#A-B" old entries A to B, "NAME<PATH" an entry
  // holding the file PATH, "NAME" a marker; empty: the WAD as it was (or none).
  std::string after;
};

// The lines of the files `paths` refused for `reason`.
std::string Skip(const std::string& reason, const std::string& paths) {
  std::string out;
  for (const auto& path : Split(paths)) out += reason + " " + path + " - skipped\n";
  return out;
}

// A row whose files, 300 bytes each, are all refused for `reason`.
Row Refused(const char* label, const Wad* wad, const char* cmd, const std::string& reason, const std::string& paths) {
  return {label, wad, cmd, paths, Skip(reason, paths), ""};
}

// Runs each row; returns the WAD the last one left.
std::string Check(std::initializer_list<Row> rows) {
  std::string after;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.label);
    const std::string before = r.wad ? BuildWad(r.wad->magic, r.wad->entries) : "";
    const auto files = Files(r.files);
    after = RunAdd(before, files, r.cmd, r.lines);
    if (r.after.empty()) {
      EXPECT_EQ(after, before) << "untouched, byte for byte (or not made)";
      continue;
    }
    const bool iwad = r.cmd.find("-IWAD") != std::string::npos;  // the last creation option of its row
    EXPECT_EQ(after.substr(0, 4), r.wad ? r.wad->magic : iwad ? "IWAD" : "PWAD");
    std::map<std::string, std::string> bytes(files.begin(), files.end());
    std::vector<std::string> old = Described(before), want;
    for (const auto& e : Split(r.after)) {
      size_t lt = e.find('<');
      if (e[0] != '#') want.push_back(e.substr(0, lt) + " " + Digest(lt == e.npos ? "" : bytes.at(e.substr(lt + 1))));
      else
        for (size_t k = std::stoul(e.substr(1)); k <= std::stoul(e.substr(e.find_last_of("#-") + 1)); ++k)
          want.push_back(old.at(k));
    }
    EXPECT_EQ(Described(after), want);

    // x of the result: every file stored under the path its line shows (or
    // the one it says it is listed as), unless it says it is not listed.
    std::vector<std::string> args = Split(r.cmd), inputs;
    if (args.size() == 1)
      for (const auto& f : files) args.push_back(f.first);
    for (size_t i = 1; i < args.size(); ++i) {
      std::string a = args[i].compare(0, 2, "./") ? args[i] : args[i].substr(2);
      for (const auto& f : bytes)
        if (f.first == a || f.first.compare(0, a.size() + 1, a + "/") == 0) inputs.push_back(f.first);
    }
    std::vector<std::string> lines = Split(r.lines, '\n');
    EXPECT_EQ(lines.size(), inputs.size()) << "one line per file";
    auto x = r.wad ? Extracted(before) : std::map<std::string, std::string>();
    for (size_t i = 0; i < lines.size() && i < inputs.size(); ++i) {
      std::string l = lines[i];
      std::replace(l.begin(), l.end(), '\\', '/');
      const size_t at = l.find(' ') + 1, as = l.find("listed as ");
      const std::string shown = l.substr(at, std::min(l.find(" ("), l.size()) - at);
      if (l.compare(0, 7, "Adding ") && l.compare(0, 10, "Replacing ")) continue;
      x.erase(shown);
      if (l.find("not listed") == l.npos)
        x[as == l.npos ? shown : l.substr(as + 10, l.size() - as - 11)] = Digest(bytes[inputs[i]]);
    }
    EXPECT_EQ(Extracted(after), x) << "x of the result";
  }
  return after;
}

const std::string kNotListed = " (under 100 bytes: not listed)\n";

TEST(DoomWadAdd, APathReplacesTheEntryOfThatFullNameInPlace) {
  Check({
      {"letter case ignored, the extension dropped; a sprite frame as x writes it; a name with a dot", &kIwad, "a",
       "map01/things.lmp S_START/VILE/1:200 INFO.TXT",
       "Replacing MAP01\\THINGS\nReplacing S_START\\VILE\\1\nReplacing INFO.TXT\n",
       "#0-2 VILE\\1<S_START/VILE/1 #4-6 THINGS<map01/things.lmp #8-30 INFO.TXT<INFO.TXT #32"},
      {"the same member twice", &kIwad, "a MAP01/THINGS ./MAP01/THINGS", "MAP01/THINGS",
       "Replacing MAP01\\THINGS\nDuplicate name ./MAP01/THINGS - skipped\n", "#0-6 THINGS<MAP01/THINGS #8-32"},
      Refused("a full name held twice", &kTwice, "a", "Ambiguous name", "S_START/TROOA1 DUP dup.lmp"),
  });
}

TEST(DoomWadAdd, AfTakesTheLastComponentAsTheLumpName) {
  Check({
      {"one member of that name, one in every map, none", &kIwad, "af",
       "sub/TROOB1.lmp x/THINGS x/BLOCKMAP MAP07/NEWTOP:200 ENDOOM",
       "Replacing S_START\\TROOB1\n" + Skip("Ambiguous name", "x/THINGS x/BLOCKMAP") + "Adding NEWTOP\nReplacing ENDOOM\n",
       "#0-28 TROOB1<sub/TROOB1.lmp #30-31 ENDOOM<ENDOOM NEWTOP<MAP07/NEWTOP"},
      Refused("a name held twice", &kTwice, "af", "Ambiguous name", "TROOA1"),
      {"mf as af", &kIwad, "mf", "deep/er/endoom", "Replacing ENDOOM\n", "#0-31 ENDOOM<deep/er/endoom"},
  });
}

TEST(DoomWadAdd, NewLumpNamesLoseTheLastExtensionAreUpperCasedAndNeverCut) {
  Check({{"eight characters fit, nine don't", &kIwad, "a",
          "abcdefgh.lmp:100 ABCDEFGHI.lmp:100 S_START/VILE/123:100 S_START/VILE/1234:100 S_START/ABCDEFGHI:100 a.b.c",
          "Adding ABCDEFGH\nName too long ABCDEFGHI.lmp - skipped\nAdding S_START\\VILE\\123\n" +
              Skip("Name too long", "S_START/VILE/1234 S_START/ABCDEFGHI") + "Adding A.B\n",
          "#0-29 VILE\\123<S_START/VILE/123 #30-32 ABCDEFGH<abcdefgh.lmp A.B<a.b.c"}});
}

// A namespace that exists, in any letter case, takes new lumps before the end
// marker of its last block; a map that exists takes none.
TEST(DoomWadAdd, ExistingFoldersTakeLumpsOnlyWhereTheListingKeepsThem) {
  Check({{"a namespace, a map, neither", &kIwad, "a",
          "s_start/newa0:200 s_start/newb0:210 MAP01/NEWLUMP map02/BEHAVIOR SOUNDS/DSPISTOL FF_START/FLAT9 X_END/Y "
          "LONGFOLDER/X",
          "Adding S_START\\NEWA0\nAdding S_START\\NEWB0\n" + Skip("Map exists", "MAP01/NEWLUMP map02/BEHAVIOR") +
              Skip("Not a map or namespace", "SOUNDS/DSPISTOL FF_START/FLAT9 X_END/Y LONGFOLDER/X"),
          "#0-29 NEWA0<s_start/newa0 NEWB0<s_start/newb0 #30-32"}});
}

// Under 100 bytes a lump is a label: a name that matches one replaces it, a
// small file is stored and its line says it won't be listed.
TEST(DoomWadAdd, LabelsAreReplacedAndSmallFilesStored) {
  Check({
      {"a", &kIwad, "a", "SMALL:50 S_START/TINY MAP01/REJECT:200 MAP02/SEGS:60 MAP01/LINEDEFS:40",
       "Adding SMALL" + kNotListed + "Replacing S_START\\TINY\nReplacing MAP01\\REJECT\nReplacing MAP02\\SEGS" +
           kNotListed + "Replacing MAP01\\LINEDEFS" + kNotListed,
       "#0-3 TINY<S_START/TINY #5-7 LINEDEFS<MAP01/LINEDEFS #9-14 REJECT<MAP01/REJECT #16-21 SEGS<MAP02/SEGS "
       "#23-32 SMALL<SMALL"},
      {"af by its own name", &kIwad, "af", "TINY:0", "Replacing S_START\\TINY" + kNotListed, "#0-3 TINY<TINY #5-32"},
  });
}

TEST(DoomWadAdd, MarkersAreNeverReplaced) {
  Check({Refused("by a top-level own name", &kIwad, "a", "Marker name", "S_START S_END map01 MAP02.lmp"),
         Refused("by full name", &kIwad, "a", "Marker name", "S_START/S_END"),
         Refused("af", &kIwad, "af", "Marker name", "x/S_END x/MAP01 x/S_START.lmp")});
}

// At the end: top-level lumps, then new maps (the marker, then the lumps in
// the order the engines read them) and namespaces in the order named.
TEST(DoomWadAdd, NewMapsAndNamespacesAreMadeAtTheEnd) {
  const Map m7 = NewMap("MAP07", 130), m9 = NewMap("MAP09", 100);
  const std::string beyond = " (beyond the map's ten places: listed as ";
  Check({
      {"a map folder, BEHAVIOR and SCRIPTS beyond its ten places", &kIwad, "a MAP07",
       m7.files + "MAP07/BEHAVIOR:140 MAP07/SCRIPTS:150",
       "Adding MAP07\\BEHAVIOR" + beyond + "BEHAVIOR)\nAdding MAP07\\BLOCKMAP\nAdding MAP07\\LINEDEFS\n"
       "Adding MAP07\\NODES\nAdding MAP07\\REJECT\nAdding MAP07\\SCRIPTS" + beyond + "SCRIPTS)\n"
       "Adding MAP07\\SECTORS\nAdding MAP07\\SEGS\nAdding MAP07\\SIDEDEFS\nAdding MAP07\\SSECTORS\n"
       "Adding MAP07\\THINGS\nAdding MAP07\\VERTEXES\n",
       "#0-32" + m7.entries + "BEHAVIOR<MAP07/BEHAVIOR SCRIPTS<MAP07/SCRIPTS"},
      {"map lumps named in any order", &kIwad, "a", "E2M3/sectors E2M3/REJECT:0 E2M3/THINGS.lmp E2M3/LINEDEFS",
       "Adding E2M3\\SECTORS\nAdding E2M3\\REJECT" + kNotListed + "Adding E2M3\\THINGS\nAdding E2M3\\LINEDEFS\n",
       "#0-32 E2M3 THINGS<E2M3/THINGS.lmp LINEDEFS<E2M3/LINEDEFS SECTORS<E2M3/sectors REJECT<E2M3/REJECT"},
      {"a text map", &kIwad, "a MAP08", "MAP08/ENDMAP:0 MAP08/TEXTMAP MAP08/ZNODES",
       "Adding MAP08\\ENDMAP" + kNotListed + "Adding MAP08\\TEXTMAP\nAdding MAP08\\ZNODES\n",
       "#0-32 MAP08 TEXTMAP<MAP08/TEXTMAP ZNODES<MAP08/ZNODES ENDMAP<MAP08/ENDMAP"},
      {"new namespaces", &kIwad, "a X_START z_start", "X_START/B X_START/A:150 X_START/c:5 z_start/q:100",
       "Adding X_START\\A\nAdding X_START\\B\nAdding X_START\\C" + kNotListed + "Adding Z_START\\Q\n",
       "#0-32 X_START A<X_START/A B<X_START/B C<X_START/c X_END Z_START Q<z_start/q Z_END"},
      {"a top-level lump, a namespace and a map together", &kIwad, "a MAP09 Y_START TOP",
       "TOP Y_START/A:100" + m9.files, m9.lines + "Adding Y_START\\A\nAdding TOP\n",
       "#0-32 TOP<TOP" + m9.entries + "Y_START A<Y_START/A Y_END"},
      // What follows a map within its ten places is listed in it: only one
      // map shorter than that fits, at the very end.
      {"two short maps", &kIwad, "a", "MAP05/THINGS MAP06/THINGS",
       "Adding MAP05\\THINGS\nCan't be placed MAP06/THINGS - skipped\n", "#0-32 MAP05 THINGS<MAP05/THINGS"},
  });
}

// Where the directory ends inside a group, new top-level lumps, maps and
// namespaces go before that group; a lump of an open namespace at the end.
TEST(DoomWadAdd, ADirectoryEndingInsideAGroupKeepsItLast) {
  const Map map = NewMap("MAP05", 100);
  Check({
      {"an open namespace", &kOpenNamespace, "a TOP X_START MAP05 F_START", "TOP X_START/A F_START/FLAT3:100" + map.files,
       "Adding TOP\nAdding X_START\\A\n" + map.lines + "Adding F_START\\FLAT3\n",
       "#0 TOP<TOP X_START A<X_START/A X_END" + map.entries + "#1-3 FLAT3<F_START/FLAT3"},
      {"a short map", &kShortMapLast, "a", "TOP Y_START/A E1M1/SECTORS",
       "Adding TOP\nAdding Y_START\\A\nMap exists E1M1/SECTORS - skipped\n", "#0 TOP<TOP Y_START A<Y_START/A Y_END #1-3"},
      Refused("no place for a short map", &kShortMapLast, "a", "Can't be placed", "E1M2/THINGS"),
  });
}

// A map whose marker is directly followed by another marker or by the end
// takes lumps right behind its marker: fewer than ten only at the end.
TEST(DoomWadAdd, AnEmptyMapTakesLumpsBehindItsMarker) {
  const Wad emptyLast = {"PWAD", {"PLAYPAL:200", "MAP01"}};
  const Wad swallowing = {"PWAD", {"MAP01", "S_START", "VIL:150", "S_END"}};  // listed as MAP01\S_START\VIL
  Check({
      {"at the end", &emptyLast, "a", "TOP MAP01/LINEDEFS MAP01/THINGS",
       "Adding TOP\nAdding MAP01\\LINEDEFS\nAdding MAP01\\THINGS\n",
       "#0 TOP<TOP #1 THINGS<MAP01/THINGS LINEDEFS<MAP01/LINEDEFS"},
      Refused("fewer than ten before a marker", &swallowing, "a", "Can't be placed", "MAP01/THINGS"),
  });
  // Ten lumps: what its ten places took in comes out from under it.
  const Map map = NewMap("MAP01", 100);
  const auto files = Files(map.files);
  std::map<std::string, std::string> x = {{"S_START/VIL", Digest(Pattern(150, 3))}};
  for (const auto& f : files) x[f.first] = Digest(f.second);
  EXPECT_EQ(Extracted(RunAdd(BuildWad("PWAD", swallowing.entries), files, "a MAP01", map.lines)), x);
}

// A missing .wad is made as a PWAD, with -iwad an IWAD (the options leave an
// existing WAD as it is):
// whole, or, with nothing stored or a failing write or sync, not at all.
TEST(DoomWadAdd, ANewWadIsAPwadMadeWholeOrNotAtAll) {
  const Map map = NewMap("MAP01", 100);
  const std::string files = map.files + "S_START/SPRA0:120 TOP:130";
  const std::string made = Check({
      {"no -wad2 or -wad3", nullptr, "a", "pic.lmp:101", "Adding PIC\n", "PIC<pic.lmp"},
      {"-wad3, -IWAD and an existing WAD", &kTwice, "a -wad3 -IWAD tex", "tex:380", "Adding TEX\n", "#0-7 TEX<tex"},
      {"-wad2, then -IWAD", nullptr, "a -wad2 -IWAD pic.lmp", "pic.lmp:101", "Adding PIC\n", "PIC<pic.lmp"},
      {"nothing stored", nullptr, "a MAP01/NOTALUMP9 S_END", "MAP01/NOTALUMP9:100",
       "Name too long MAP01/NOTALUMP9 - skipped\nCan't read S_END - skipped\n", ""},
      {"a map, a top-level lump, a namespace", nullptr, "a MAP01 TOP S_START", files,
       map.lines + "Adding TOP\nAdding S_START\\SPRA0\n", "TOP<TOP" + map.entries + "S_START SPRA0<S_START/SPRA0 S_END"},
  });
  TempDir dir;
  for (const auto& f : Files(files)) Put(dir, f.first, f.second);
  auto run = [&](const char* wad, Faults* faults) {
    return VrexInProcess(dir.path(), {"a", wad, "MAP01", "TOP", "S_START"}, faults).exitCode;
  };
  Faults count;
  ASSERT_EQ(run("counted.wad", &count), 0);
  EXPECT_EQ(dir.Read("counted.wad"), made) << "in process as the binary";
  for (unsigned long k = 1; k <= count.writes + count.syncs; ++k) {  // each write, then each sync, failing
    Faults faults;
    faults.failWrite = k <= count.writes ? k : 0;
    faults.failSync = k <= count.writes ? 0 : k - count.writes;
    EXPECT_EQ(run("f.wad", &faults), 7) << "write " << faults.failWrite << ", sync " << faults.failSync;
    EXPECT_FALSE(dir.Exists("f.wad") || dir.Exists("f.wad.vrex-new"));
  }
}

// Entries that share their data keep sharing it where the run leaves them
// alone, also when the run reclaims dead space behind its commit.
TEST(DoomWadAdd, SharedDataStaysShared) {
  for (bool reclaim : {false, true}) {
    SCOPED_TRACE(reclaim ? "with the dead space reclaimed" : "appended");
    const std::string first = Pattern(reclaim ? 40000 : 200, 1), second = Pattern(3000, 2);
    const uint32_t at = 12 + uint32_t(first.size());
    Bytes w;
    w.Raw("IWAD").U32(6).U32(at + 3000).Raw(first).Raw(second).U32(12).U32(uint32_t(first.size())).Name("FIRST", 8);
    w.U32(at).U32(3000).Name("SECOND", 8).U32(at).U32(3000).Name("ALIAS", 8).U32(at + 50).U32(120).Name("PART", 8);
    w.U32(at).U32(0).Name("S_START", 8).U32(at).U32(0).Name("S_END", 8);
    const std::string after = RunAdd(w.str(), Files("FIRST:100 NEW:100"), "a", "Replacing FIRST\nAdding NEW\n");
    std::vector<WadEntry> e = WadDirectory(after);
    ASSERT_EQ(e.size(), 7u);
    EXPECT_EQ(e[1].offset, e[2].offset) << "SECOND and ALIAS";
    EXPECT_EQ(e[3].offset, e[1].offset + 50) << "PART";
    EXPECT_EQ(e[1].data, second);
    EXPECT_EQ(e[3].data, second.substr(50, 120));
    if (reclaim) EXPECT_EQ(after.size(), 12u + 100 + 3000 + 100 + 7 * 16) << "every byte once";
    else EXPECT_EQ(e[1].offset, at) << "left where it was";
    // Replacing one of them leaves the others the old bytes.
    const auto alias = Files("ALIAS:150");
    e = WadDirectory(RunAdd(after, alias, "a", "Replacing ALIAS\n"));
    EXPECT_EQ(e[1].data, second);
    EXPECT_EQ(e[2].data, alias[0].second);
    EXPECT_EQ(e[3].data, second.substr(50, 120));
  }
}

// What x writes, a puts back: the same directory, names as stored, every
// lump's bytes; with a pattern, x writes upper-cased paths.
TEST(DoomWadAdd, AddingWhatExtractionWroteGivesTheSameWad) {
  const std::string before = BuildWad("IWAD", {"PLAYPAL:200", "S_START", "trooa1:150", "VILE\\1:120", "TINY:5",
      "S_END", "MAP01", "THINGS:120", "LINEDEFS:0", "SIDEDEFS:100", "E1M1", "THINGS:130", "INFO.TXT:100", "X_START",
      "ONE:110", "MAP02", "THINGS:111", "X_END", "ENDOOM:200", "F_START", "FLAT:4096"});
  for (const char* pattern : {"", "*"}) {
    SCOPED_TRACE(*pattern ? "x with a pattern" : "x");
    const std::string after = ExtractAndAddBack(before, pattern, 11);
    EXPECT_EQ(after.substr(0, 4), "IWAD");
    EXPECT_EQ(Described(after), Described(before));
    EXPECT_EQ(Extracted(after), Extracted(before));
  }
}

// A marker is told by its whole name field: "\0_START" opens a namespace
// with an empty name, listed as "\", which the directory ends inside.
TEST(DoomWadAdd, AMarkerIsToldByTheBytesBehindItsNul) {
  const Wad nul = {"PWAD", {"A:150", std::string("\0_START", 7), "B:120"}};
  TempDir dir;
  dir.Write("a.wad", Check({{"a new top-level lump", &nul, "a", "TOP:130", "Adding TOP\n", "#0 TOP<TOP #1-2"}}));
  RunResult l = Vrex(dir.path(), {"l", "a.wad"});
  EXPECT_NE(l.out.find("\nTOP              \t130    \t"), std::string::npos) << l.out;
  EXPECT_NE(l.out.find("\n\\B               \t120    \t"), std::string::npos) << l.out;
}
}  // namespace
