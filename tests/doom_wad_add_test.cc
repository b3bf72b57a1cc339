// a, af and mf on Doom WADs end to end: which entry a file replaces,
// where a new lump goes (namespaces, new maps and namespaces, the top
// level), what is refused, labels and markers, shared data, a new PWAD, and
// x followed by a giving back the same WAD.
//
// Every case checks the exact output and exit code, the directory that
// results (name, size and bytes of each entry, in order), and what x makes
// of the result: every member the run stored under the name its line shows,
// every other member as x wrote it before.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "tests/support/doom_wad_image.h"
#include "tests/support/e2e.h"
#include "tests/support/faults.h"

namespace {
using Tree = std::map<std::string, std::string>;

uint32_t Fnv(const std::string& s) {
  uint32_t hash = 2166136261u;
  for (char c : s) hash = (hash ^ uint8_t(c)) * 16777619u;
  return hash;
}

// File contents for a "PATH:SIZE" description, distinct for each path.
std::string FileBytes(const std::string& path, size_t size) { return Pattern(size, Fnv(path)); }

std::string Digest(const std::string& data) {
  char text[32];
  snprintf(text, sizeof text, "%zu/%08X", data.size(), Fnv(data));
  return text;
}

// One line per entry: name, size, a digest of its bytes.
std::string Describe(const std::string& name, const std::string& data) { return name + " " + Digest(data); }

std::vector<std::string> Described(const std::string& wad) {
  std::vector<std::string> out;
  for (const WadEntry& e : WadDirectory(wad)) out.push_back(Describe(e.name, e.data));
  return out;
}

// What x writes for a WAD: every file below a fresh folder, with a digest
// of its bytes.
Tree Extracted(const std::string& wad) {
  TempDir dir;
  dir.Write("w.wad", wad);
  RunResult r = Vrex(dir.path(), {"x", "w.wad"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  Tree tree;
  for (const auto& f : dir.Tree())
    if (f.first != "w.wad" && f.first.back() != '/') tree[f.first] = Digest(f.second);
  return tree;
}

std::string Slashes(std::string name) {
  std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

// A map folder of the ten lumps of a classic map, `size` bytes each, in the
// order its files are walked (by name), and the directory those lumps make
// in the order they must have.
const char* const kMapOrder[] = {"THINGS", "LINEDEFS", "SIDEDEFS", "VERTEXES", "SEGS",
                                 "SSECTORS", "NODES", "SECTORS", "REJECT", "BLOCKMAP"};

std::vector<std::string> MapFiles(const std::string& folder, int size) {
  std::vector<std::string> files;
  for (const char* lump : kMapOrder) files.push_back(folder + "/" + lump + ":" + std::to_string(size));
  std::sort(files.begin(), files.end());
  return files;
}

std::string MapLines(const std::string& folder) {
  std::vector<std::string> lumps(std::begin(kMapOrder), std::end(kMapOrder));
  std::sort(lumps.begin(), lumps.end());
  std::string lines;
  for (const auto& lump : lumps) lines += "Adding " + folder + "\\" + lump + "\n";
  return lines;
}

std::vector<std::string> MapEntries(const std::string& folder) {
  std::vector<std::string> out = {folder};
  for (const char* lump : kMapOrder) out.push_back(std::string(lump) + "<" + folder + "/" + lump);
  return out;
}

std::vector<std::string> Cat(std::vector<std::vector<std::string>> parts) {
  std::vector<std::string> out;
  for (auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

struct AddCase {
  const char* label;
  const char* magic;
  const std::vector<std::string>* wad;  // entry descriptions (BuildWad)
  const char* letter;
  std::vector<std::string> files;   // "PATH:SIZE", written before the run
  std::vector<std::string> args;    // named behind the archive; empty: the files' paths in order
  std::string lines;                // what vrex prints between "Searching" and the summary
  // The directory afterwards: "#A-B" old entries A to B as they were, "NAME<PATH" an
  // entry NAME holding the file PATH, "NAME" a marker of 0 bytes; empty: the WAD
  // byte for byte as it was.
  std::vector<std::string> after;
};

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> out;
  for (size_t at = 0, end; at < text.size(); at = end + 1) {
    end = text.find('\n', at);
    out.push_back(text.substr(at, end - at));
  }
  return out;
}

void Check(const AddCase& c) {
  SCOPED_TRACE(c.label);
  TempDir dir;
  const std::string before = BuildWad(c.magic, *c.wad);
  dir.Write("a.wad", before);
  std::map<std::string, std::string> files;
  for (const auto& f : c.files) {
    size_t colon = f.rfind(':');
    std::string path = f.substr(0, colon);
    files[path] = FileBytes(path, std::stoul(f.substr(colon + 1)));
    Put(dir, path, files[path]);
  }
  std::vector<std::string> args = c.args;
  if (args.empty())
    for (const auto& f : c.files) args.push_back(f.substr(0, f.rfind(':')));

  // The files in the order vrex takes them: a folder's by their paths.
  std::vector<std::string> inputs;
  for (std::string a : args) {
    while (a.compare(0, 2, "./") == 0) a.erase(0, 2);
    if (files.count(a)) {
      inputs.push_back(a);
      continue;
    }
    for (const auto& f : files)
      if (f.first.compare(0, a.size() + 1, a + "/") == 0) inputs.push_back(f.first);
  }
  std::vector<std::string> lines = Split(c.lines);
  ASSERT_EQ(lines.size(), inputs.size()) << "one line per file";

  Tree want = Extracted(before);
  size_t stored = 0, skipped = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.size() > 10 && line.compare(line.size() - 10, 10, " - skipped") == 0) {
      ++skipped;
      continue;
    }
    ++stored;
    std::string shown = line.substr(line.find(' ') + 1);
    std::string note = shown.find(" (") == std::string::npos ? "" : shown.substr(shown.find(" ("));
    shown = shown.substr(0, shown.size() - note.size());
    want.erase(Slashes(shown));
    if (note.find("under 100 bytes") != std::string::npos) continue;
    size_t as = note.find("listed as ");
    std::string listed = as == std::string::npos ? shown : note.substr(as + 10, note.size() - as - 11);
    want[Slashes(listed)] = Digest(files[inputs[i]]);
  }

  std::vector<std::string> fullArgs = {c.letter, "a.wad"};
  fullArgs.insert(fullArgs.end(), args.begin(), args.end());
  RunResult r = Vrex(dir.path(), fullArgs);
  std::string summary = stored ? std::to_string(stored) + " files stored" : "(no files stored";
  if (skipped) summary += ", " + std::to_string(skipped) + " skipped";
  if (!stored) summary += ")";
  EXPECT_EQ(r.out, Banner() + "Searching " + c.magic + " (" + std::to_string(WadDirectory(before).size()) +
                       " files)\n" + c.lines + "\n" + summary + "\n");
  EXPECT_EQ(r.exitCode, skipped ? 9 : 0);

  const std::string after = dir.Read("a.wad");
  EXPECT_EQ(after.substr(0, 4), c.magic);
  if (c.after.empty()) {
    EXPECT_EQ(after, before) << "untouched, byte for byte";
    return;
  }
  std::vector<std::string> old = Described(before), expected;
  for (const auto& e : c.after) {
    if (e[0] == '#') {
      size_t dash = e.find('-');
      size_t from = std::stoul(e.substr(1)), to = dash == std::string::npos ? from : std::stoul(e.substr(dash + 1));
      for (size_t k = from; k <= to; ++k) expected.push_back(old.at(k));
    } else if (e.find('<') != std::string::npos) {
      std::string path = e.substr(e.find('<') + 1);
      EXPECT_TRUE(files.count(path)) << path;
      expected.push_back(Describe(e.substr(0, e.find('<')), files[path]));
    } else {
      expected.push_back(Describe(e, ""));
    }
  }
  EXPECT_EQ(Described(after), expected);
  EXPECT_EQ(Extracted(after), want) << "x of the result";
}

// ---- the WADs of the cases

// Two sprite blocks, two maps (the second with labels for most of its
// lumps), a sprite frame whose own name holds a backslash, a label inside a
// namespace and a lump whose own name holds a dot.
const std::vector<std::string> kIwad = {
    "PLAYPAL:200", "S_START",     "TROOA1:150",  "VILE\\1:120", "TINY:5",     "S_END",   // 0-5
    "MAP01",       "THINGS:120",  "LINEDEFS:130", "SIDEDEFS:100", "VERTEXES:110", "SEGS:100",  // 6-11
    "SSECTORS:100", "NODES:100",  "SECTORS:100", "REJECT:0",   "BLOCKMAP:100",             // 12-16
    "MAP02",       "THINGS:121",  "LINEDEFS:131", "SIDEDEFS:0", "VERTEXES:0",  "SEGS:0",   // 17-22
    "SSECTORS:0",  "NODES:0",     "SECTORS:0",   "REJECT:0",   "BLOCKMAP:0",               // 23-27
    "S_START",     "TROOB1:140",  "S_END",       "INFO.TXT:100", "ENDOOM:200",             // 28-32
};

// Full names the WAD holds twice.
const std::vector<std::string> kTwice = {"S_START", "TROOA1:150", "S_END", "S_START", "TROOA1:160",
                                         "S_END",   "DUP:100",    "DUP:101"};

// Directories that end inside a group: an open namespace, a short map.
const std::vector<std::string> kOpenNamespace = {"PLAYPAL:200", "F_START", "FLAT1:150", "FLAT2:160"};
const std::vector<std::string> kShortMapLast = {"PLAYPAL:200", "E1M1", "THINGS:120", "LINEDEFS:130"};

TEST(DoomWadAdd, APathReplacesTheEntryOfThatFullNameInPlace) {
  const AddCase cases[] = {
      {"a map lump", "IWAD", &kIwad, "a", {"MAP01/THINGS:300"}, {}, "Replacing MAP01\\THINGS\n",
       {"#0-6", "THINGS<MAP01/THINGS", "#8-32"}},
      {"letter case ignored, the extension dropped", "IWAD", &kIwad, "a", {"map01/things.lmp:300"}, {},
       "Replacing MAP01\\THINGS\n", {"#0-6", "THINGS<map01/things.lmp", "#8-32"}},
      {"a sprite frame as x writes it", "IWAD", &kIwad, "a", {"S_START/VILE/1:200"}, {},
       "Replacing S_START\\VILE\\1\n", {"#0-2", "VILE\\1<S_START/VILE/1", "#4-32"}},
      {"a lump whose name holds a dot", "IWAD", &kIwad, "a", {"INFO.TXT:300"}, {}, "Replacing INFO.TXT\n",
       {"#0-30", "INFO.TXT<INFO.TXT", "#32"}},
      {"the same member twice", "IWAD", &kIwad, "a", {"MAP01/THINGS:300"}, {"MAP01/THINGS", "./MAP01/THINGS"},
       "Replacing MAP01\\THINGS\nDuplicate name ./MAP01/THINGS - skipped\n",
       {"#0-6", "THINGS<MAP01/THINGS", "#8-32"}},
      {"a full name held twice", "PWAD", &kTwice, "a", {"S_START/TROOA1:300", "DUP:300", "dup.lmp:300"}, {},
       "Ambiguous name S_START/TROOA1 - skipped\nAmbiguous name DUP - skipped\nAmbiguous name dup.lmp - skipped\n",
       {}},
  };
  for (const auto& c : cases) Check(c);
}

TEST(DoomWadAdd, AfTakesTheLastComponentAsTheLumpName) {
  const AddCase cases[] = {
      {"one member of that name, one in every map, none", "IWAD", &kIwad, "af",
       {"sub/TROOB1.lmp:300", "x/THINGS:300", "x/BLOCKMAP:300", "MAP07/NEWTOP:200", "ENDOOM:300"}, {},
       "Replacing S_START\\TROOB1\nAmbiguous name x/THINGS - skipped\nAmbiguous name x/BLOCKMAP - skipped\n"
       "Adding NEWTOP\nReplacing ENDOOM\n",
       {"#0-28", "TROOB1<sub/TROOB1.lmp", "#30-31", "ENDOOM<ENDOOM", "NEWTOP<MAP07/NEWTOP"}},
      {"a name held twice", "PWAD", &kTwice, "af", {"TROOA1:300"}, {}, "Ambiguous name TROOA1 - skipped\n", {}},
      {"mf as af", "IWAD", &kIwad, "mf", {"deep/er/endoom:300"}, {}, "Replacing ENDOOM\n",
       {"#0-31", "ENDOOM<deep/er/endoom"}},
  };
  for (const auto& c : cases) Check(c);
}

TEST(DoomWadAdd, NewLumpNamesAreUpperCasedAndNeverCut) {
  const AddCase cases[] = {
      {"eight characters fit, nine don't", "IWAD", &kIwad, "a",
       {"abcdefgh.lmp:100", "ABCDEFGHI.lmp:100", "S_START/VILE/123:100", "S_START/VILE/1234:100",
        "S_START/ABCDEFGHI:100"},
       {},
       "Adding ABCDEFGH\nName too long ABCDEFGHI.lmp - skipped\nAdding S_START\\VILE\\123\n"
       "Name too long S_START/VILE/1234 - skipped\nName too long S_START/ABCDEFGHI - skipped\n",
       {"#0-29", "VILE\\123<S_START/VILE/123", "#30-32", "ABCDEFGH<abcdefgh.lmp"}},
      {"a new lump loses the extension, only the last", "IWAD", &kIwad, "a", {"demo4.lmp:300", "a.b.c:300"}, {},
       "Adding DEMO4\nAdding A.B\n", {"#0-32", "DEMO4<demo4.lmp", "A.B<a.b.c"}},
  };
  for (const auto& c : cases) Check(c);
}

// A new lump in a namespace goes before the end marker of its last block;
// a new lump of a map that exists has no place.
TEST(DoomWadAdd, ExistingFoldersTakeLumpsOnlyWhereTheListingKeepsThem) {
  const AddCase cases[] = {
      {"a new sprite frame", "IWAD", &kIwad, "a", {"S_START/VILE/9:200"}, {}, "Adding S_START\\VILE\\9\n",
       {"#0-29", "VILE\\9<S_START/VILE/9", "#30-32"}},
      {"a new sprite, folder in lower case", "IWAD", &kIwad, "a", {"s_start/newa0:200", "s_start/newb0:210"}, {},
       "Adding S_START\\NEWA0\nAdding S_START\\NEWB0\n",
       {"#0-29", "NEWA0<s_start/newa0", "NEWB0<s_start/newb0", "#30-32"}},
      {"a map that exists", "IWAD", &kIwad, "a", {"MAP01/NEWLUMP:200", "map02/BEHAVIOR:200"}, {},
       "Map exists MAP01/NEWLUMP - skipped\nMap exists map02/BEHAVIOR - skipped\n", {}},
      {"neither map nor namespace", "IWAD", &kIwad, "a",
       {"SOUNDS/DSPISTOL:200", "FF_START/FLAT9:200", "X_END/Y:200", "LONGFOLDER/X:200"}, {},
       "Not a map or namespace SOUNDS/DSPISTOL - skipped\nNot a map or namespace FF_START/FLAT9 - skipped\n"
       "Not a map or namespace X_END/Y - skipped\nNot a map or namespace LONGFOLDER/X - skipped\n",
       {}},
      {"a namespace the directory ends in", "PWAD", &kOpenNamespace, "a", {"F_START/FLAT3:200"}, {},
       "Adding F_START\\FLAT3\n", {"#0-3", "FLAT3<F_START/FLAT3"}},
  };
  for (const auto& c : cases) Check(c);
}

// Under 100 bytes a lump is a label: a name that matches one replaces it,
// a small file is stored and its line says it won't be listed.
TEST(DoomWadAdd, LabelsAreReplacedAndSmallFilesStored) {
  const AddCase cases[] = {
      {"labels and small files", "IWAD", &kIwad, "a",
       {"SMALL:50", "S_START/TINY:300", "MAP01/REJECT:200", "MAP02/SEGS:60", "MAP01/LINEDEFS:40"}, {},
       "Adding SMALL (under 100 bytes: not listed)\nReplacing S_START\\TINY\nReplacing MAP01\\REJECT\n"
       "Replacing MAP02\\SEGS (under 100 bytes: not listed)\n"
       "Replacing MAP01\\LINEDEFS (under 100 bytes: not listed)\n",
       {"#0-3", "TINY<S_START/TINY", "#5-7", "LINEDEFS<MAP01/LINEDEFS", "#9-14", "REJECT<MAP01/REJECT", "#16-21",
        "SEGS<MAP02/SEGS", "#23-32", "SMALL<SMALL"}},
      {"af finds a label by its own name", "IWAD", &kIwad, "af", {"TINY:0"}, {},
       "Replacing S_START\\TINY (under 100 bytes: not listed)\n", {"#0-3", "TINY<TINY", "#5-32"}},
  };
  for (const auto& c : cases) Check(c);
}

TEST(DoomWadAdd, MarkersAreNeverReplaced) {
  const AddCase cases[] = {
      {"by full name or by a top-level own name", "IWAD", &kIwad, "a",
       {"S_START:300", "S_END:300", "map01:300", "MAP02.lmp:300"}, {},
       "Marker name S_START - skipped\nMarker name S_END - skipped\nMarker name map01 - skipped\n"
       "Marker name MAP02.lmp - skipped\n",
       {}},
      {"an end marker by its full name", "IWAD", &kIwad, "a", {"S_START/S_END:300"}, {},
       "Marker name S_START/S_END - skipped\n", {}},
      {"af", "IWAD", &kIwad, "af", {"x/S_END:300", "x/MAP01:300", "x/S_START.lmp:300"}, {},
       "Marker name x/S_END - skipped\nMarker name x/MAP01 - skipped\nMarker name x/S_START.lmp - skipped\n", {}},
  };
  for (const auto& c : cases) Check(c);
}

// New maps, namespaces and top-level lumps go at the end: a map's marker
// and lumps in the order the engines read them, a namespace between its
// start and end markers.
TEST(DoomWadAdd, NewMapsAndNamespacesAreMadeAtTheEnd) {
  const std::vector<std::string> map07 = Cat({MapFiles("MAP07", 130), {"MAP07/BEHAVIOR:140", "MAP07/SCRIPTS:150"}});
  const std::string map07Lines =
      "Adding MAP07\\BEHAVIOR (beyond the map's ten places: listed as BEHAVIOR)\n"
      "Adding MAP07\\BLOCKMAP\nAdding MAP07\\LINEDEFS\nAdding MAP07\\NODES\nAdding MAP07\\REJECT\n"
      "Adding MAP07\\SCRIPTS (beyond the map's ten places: listed as SCRIPTS)\n"
      "Adding MAP07\\SECTORS\nAdding MAP07\\SEGS\nAdding MAP07\\SIDEDEFS\nAdding MAP07\\SSECTORS\n"
      "Adding MAP07\\THINGS\nAdding MAP07\\VERTEXES\n";
  const AddCase cases[] = {
      {"a map folder, BEHAVIOR and SCRIPTS beyond its ten places", "IWAD", &kIwad, "a", map07, {"MAP07"},
       map07Lines, Cat({{"#0-32"}, MapEntries("MAP07"), {"BEHAVIOR<MAP07/BEHAVIOR", "SCRIPTS<MAP07/SCRIPTS"}})},
      {"map lumps named in any order", "IWAD", &kIwad, "a",
       {"E2M3/sectors:200", "E2M3/REJECT:0", "E2M3/THINGS.lmp:210", "E2M3/LINEDEFS:220"}, {},
       "Adding E2M3\\SECTORS\nAdding E2M3\\REJECT (under 100 bytes: not listed)\nAdding E2M3\\THINGS\n"
       "Adding E2M3\\LINEDEFS\n",
       {"#0-32", "E2M3", "THINGS<E2M3/THINGS.lmp", "LINEDEFS<E2M3/LINEDEFS", "SECTORS<E2M3/sectors",
        "REJECT<E2M3/REJECT"}},
      {"a text map", "IWAD", &kIwad, "a", {"MAP08/ENDMAP:0", "MAP08/TEXTMAP:300", "MAP08/ZNODES:200"}, {"MAP08"},
       "Adding MAP08\\ENDMAP (under 100 bytes: not listed)\nAdding MAP08\\TEXTMAP\nAdding MAP08\\ZNODES\n",
       {"#0-32", "MAP08", "TEXTMAP<MAP08/TEXTMAP", "ZNODES<MAP08/ZNODES", "ENDMAP<MAP08/ENDMAP"}},
      {"new namespaces", "IWAD", &kIwad, "a", {"X_START/B:200", "X_START/A:150", "X_START/c:5", "z_start/q:100"},
       {"X_START", "z_start"},
       "Adding X_START\\A\nAdding X_START\\B\nAdding X_START\\C (under 100 bytes: not listed)\nAdding Z_START\\Q\n",
       {"#0-32", "X_START", "A<X_START/A", "B<X_START/B", "C<X_START/c", "X_END", "Z_START", "Q<z_start/q",
        "Z_END"}},
      {"a top-level lump, a namespace and a map together", "IWAD", &kIwad, "a",
       Cat({{"TOP:300", "Y_START/A:100"}, MapFiles("MAP09", 100)}), {"MAP09", "Y_START", "TOP"},
       MapLines("MAP09") + "Adding Y_START\\A\nAdding TOP\n",
       Cat({{"#0-32", "TOP<TOP"}, MapEntries("MAP09"), {"Y_START", "A<Y_START/A", "Y_END"}})},
      // Whatever follows a map within its ten places is listed in it: only
      // one map shorter than that fits, at the very end.
      {"two short maps", "IWAD", &kIwad, "a", {"MAP05/THINGS:200", "MAP06/THINGS:200"}, {},
       "Adding MAP05\\THINGS\nCan't be placed MAP06/THINGS - skipped\n",
       {"#0-32", "MAP05", "THINGS<MAP05/THINGS"}},
  };
  for (const auto& c : cases) Check(c);
}

// Where the directory ends inside a group, new top-level lumps, maps and
// namespaces go before that group.
TEST(DoomWadAdd, ADirectoryEndingInsideAGroupKeepsItLast) {
  const AddCase cases[] = {
      {"an open namespace", "PWAD", &kOpenNamespace, "a",
       Cat({{"TOP:200", "X_START/A:200"}, MapFiles("MAP05", 100), {"F_START/FLAT3:100"}}),
       {"TOP", "X_START", "MAP05", "F_START"},
       "Adding TOP\nAdding X_START\\A\n" + MapLines("MAP05") + "Adding F_START\\FLAT3\n",
       Cat({{"#0", "TOP<TOP", "X_START", "A<X_START/A", "X_END"}, MapEntries("MAP05"),
                         {"#1-3", "FLAT3<F_START/FLAT3"}})},
      {"a short map", "PWAD", &kShortMapLast, "a", {"TOP:200", "Y_START/A:200", "E1M1/SECTORS:200"}, {},
       "Adding TOP\nAdding Y_START\\A\nMap exists E1M1/SECTORS - skipped\n",
       {"#0", "TOP<TOP", "Y_START", "A<Y_START/A", "Y_END", "#1-3"}},
      {"no place for a short map", "PWAD", &kShortMapLast, "a", {"E1M2/THINGS:200"}, {},
       "Can't be placed E1M2/THINGS - skipped\n", {}},
  };
  for (const auto& c : cases) Check(c);
}

// Entries that share their data keep sharing it where the run leaves them
// alone, also when the run reclaims dead space behind its commit.
TEST(DoomWadAdd, SharedDataStaysShared) {
  for (bool reclaim : {false, true}) {
    SCOPED_TRACE(reclaim ? "with the dead space reclaimed" : "appended");
    TempDir dir;
    const std::string first = Pattern(reclaim ? 40000 : 200, 1), second = Pattern(3000, 2);
    Bytes w;
    w.Raw("IWAD").U32(6).U32(12 + uint32_t(first.size() + second.size())).Raw(first).Raw(second);
    const uint32_t at = 12 + uint32_t(first.size());
    w.U32(12).U32(uint32_t(first.size())).Name("FIRST", 8);
    w.U32(at).U32(3000).Name("SECOND", 8).U32(at).U32(3000).Name("ALIAS", 8).U32(at + 50).U32(120).Name("PART", 8);
    w.U32(at).U32(0).Name("S_START", 8).U32(at).U32(0).Name("S_END", 8);
    dir.Write("a.wad", w.str());
    dir.Write("FIRST", Pattern(100, 3));
    dir.Write("NEW", Pattern(100, 4));
    RunResult r = Vrex(dir.path(), {"a", "a.wad", "FIRST", "NEW"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, Banner() + "Searching IWAD (6 files)\nReplacing FIRST\nAdding NEW\n\n2 files stored\n");
    std::string after = dir.Read("a.wad");
    std::vector<WadEntry> e = WadDirectory(after);
    ASSERT_EQ(e.size(), 7u);
    EXPECT_EQ(e[1].offset, e[2].offset) << "SECOND and ALIAS";
    EXPECT_EQ(e[3].offset, e[1].offset + 50) << "PART";
    EXPECT_EQ(e[1].data, second);
    EXPECT_EQ(e[3].data, second.substr(50, 120));
    if (reclaim) {
      EXPECT_EQ(after.size(), 12u + 100 + 3000 + 100 + 7 * 16) << "every byte once";
    } else {
      EXPECT_EQ(e[1].offset, at) << "left where it was";
    }
    // Replacing one of them leaves the others the old bytes.
    dir.Write("ALIAS", Pattern(150, 5));
    ASSERT_EQ(Vrex(dir.path(), {"a", "a.wad", "ALIAS"}).exitCode, 0);
    e = WadDirectory(dir.Read("a.wad"));
    EXPECT_EQ(e[1].data, second);
    EXPECT_EQ(e[2].data, Pattern(150, 5));
    EXPECT_EQ(e[3].data, second.substr(50, 120));
  }
}

// What x writes, a puts back: the same directory, names as stored, every
// lump's bytes; with a pattern, x writes upper-cased paths.
TEST(DoomWadAdd, AddingWhatExtractionWroteGivesTheSameWad) {
  const std::vector<std::string> wad = {
      "PLAYPAL:200", "S_START",  "trooa1:150", "VILE\\1:120", "TINY:5",       "S_END",  "MAP01", "THINGS:120",
      "LINEDEFS:0",  "SIDEDEFS:100", "E1M1",   "THINGS:130", "INFO.TXT:100", "X_START", "ONE:110", "MAP02",
      "THINGS:111",  "X_END",   "ENDOOM:200", "F_START",    "FLAT:4096",
  };
  for (const char* pattern : {"", "*"}) {
    SCOPED_TRACE(*pattern ? "x with a pattern" : "x");
    TempDir dir;
    const std::string before = BuildWad("IWAD", wad);
    dir.Write("a.wad", before);
    std::vector<std::string> x = {"x", "a.wad"};
    if (*pattern) x.push_back(pattern);
    ASSERT_EQ(Vrex(dir.path(), x).exitCode, 0);
    std::vector<std::string> args = {"a", "a.wad"};
    for (const auto& f : dir.Tree()) {
      std::string top = f.first.substr(0, f.first.find('/'));
      if (top != "a.wad" && top != args.back()) args.push_back(top);
    }
    RunResult r = Vrex(dir.path(), args);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(r.out.find("Adding"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n11 files stored\n"), std::string::npos) << r.out;
    std::string after = dir.Read("a.wad");
    EXPECT_EQ(after.substr(0, 4), "IWAD");
    EXPECT_EQ(Described(after), Described(before));
    EXPECT_EQ(Extracted(after), Extracted(before));
  }
}

// A missing .wad is made as a PWAD: whole, or, with nothing stored or a
// failing write or sync, not at all.
TEST(DoomWadAdd, ANewWadIsAPwadMadeWholeOrNotAtAll) {
  TempDir dir;
  for (const auto& f : MapFiles("MAP01", 100)) Put(dir, f.substr(0, f.find(':')), FileBytes(f.substr(0, f.find(':')), 100));
  Put(dir, "S_START/SPRA0", FileBytes("S_START/SPRA0", 120));
  Put(dir, "TOP", FileBytes("TOP", 130));
  RunResult r = Vrex(dir.path(), {"a", "new.wad", "MAP01", "TOP", "S_START"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, Banner() + "Creating new.wad\n" + MapLines("MAP01") + "Adding TOP\nAdding S_START\\SPRA0\n" +
                       "\n12 files stored\n");
  std::string made = dir.Read("new.wad");
  EXPECT_EQ(made.substr(0, 4), "PWAD");
  std::vector<std::string> want = {Describe("TOP", FileBytes("TOP", 130)), Describe("MAP01", "")};
  for (const char* lump : kMapOrder)
    want.push_back(Describe(lump, FileBytes(std::string("MAP01/") + lump, 100)));
  want.push_back(Describe("S_START", ""));
  want.push_back(Describe("SPRA0", FileBytes("S_START/SPRA0", 120)));
  want.push_back(Describe("S_END", ""));
  EXPECT_EQ(Described(made), want);

  RunResult none = Vrex(dir.path(), {"a", "none.wad", "MAP01/NOTALUMP9", "S_END"});
  EXPECT_EQ(none.exitCode, 9);
  EXPECT_FALSE(dir.Exists("none.wad")) << "nothing stored: nothing made";

  Faults count;
  ASSERT_EQ(VrexInProcess(dir.path(), {"a", "counted.wad", "MAP01", "TOP", "S_START"}, &count).exitCode, 0);
  EXPECT_EQ(dir.Read("counted.wad"), made);
  for (int syncs = 0; syncs < 2; ++syncs) {
    for (unsigned long k = 1; k <= (syncs ? count.syncs : count.writes); ++k) {
      SCOPED_TRACE(std::string(syncs ? "sync " : "write ") + std::to_string(k));
      Faults faults;
      (syncs ? faults.failSync : faults.failWrite) = k;
      RunResult failed = VrexInProcess(dir.path(), {"a", "f.wad", "MAP01", "TOP", "S_START"}, &faults);
      EXPECT_EQ(failed.exitCode, 7) << failed.out;
      EXPECT_FALSE(dir.Exists("f.wad"));
      EXPECT_FALSE(dir.Exists("f.wad.vrex-new"));
    }
  }
}

}  // namespace

namespace {
// A marker is told by its whole name field: "\0_START" (a NUL, then
// "_START") opens a namespace with an empty name, listed as "\". The
// directory ends inside it, so a new top-level lump goes before it.
TEST(DoomWadAdd, AMarkerIsToldByTheBytesBehindItsNul) {
  TempDir dir;
  const std::string wad = BuildWad("PWAD", {"A:150", std::string("\0_START", 7), "B:120"});
  dir.Write("a.wad", wad);
  dir.Write("TOP", Pattern(130, 9));
  RunResult r = Vrex(dir.path(), {"a", "a.wad", "TOP"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  std::vector<WadEntry> after = WadDirectory(dir.Read("a.wad"));
  ASSERT_EQ(after.size(), 4u);
  EXPECT_EQ(after[1].name, "TOP");
  RunResult l = Vrex(dir.path(), {"l", "a.wad"});
  EXPECT_NE(l.out.find("\nTOP              \t130    \t"), std::string::npos) << l.out;
  EXPECT_NE(l.out.find("\n\\B               \t120    \t"), std::string::npos) << l.out;
}
}  // namespace
