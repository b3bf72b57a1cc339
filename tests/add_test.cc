// a, af, m and mf on PACK archives end to end: which member a file becomes,
// what is refused, folders, list files, making a new archive, and the move;
// and the flat names of LOD, CSid, STK, HOG and DMVL.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/archive_members.h"
#include "tests/support/bytes_builder.h"
#include "tests/support/e2e.h"
#include "tests/support/pack_builder.h"

namespace {
typedef std::pair<std::string, std::string> Entry;  // name, bytes

std::vector<Entry> Members(const std::string& file) { return PackMembers(file); }

// The formats with flat names: an archive's name, its "Searching" tag, the
// longest new name.
struct FlatFormat {
  const char* archive;
  const char* tag;
  size_t longest;
};
const FlatFormat kFlatFormats[] = {
    {"a.lod", " LOD", 15}, {"a.bin", "CSid", 12}, {"a.stk", " STK", 12}, {"a.hog", " DHF", 12}, {"a.mvl", "DMVL", 12},
    {"a.gob", " GOB", 12},
};

struct NameCase {
  const char* label;
  std::vector<std::string> stored;  // member names of the archive
  const char* letter;
  std::vector<std::string> files;   // written with content "new", then named in order
  std::string lines;                // lines vrex prints between Searching and the summary
  std::vector<std::string> after;   // member names afterwards; a replaced one holds "new"
  int exitCode;
};

// Exact names replace in place; one name that differs only in case is
// replaced under its stored spelling; anything more is ambiguous; new names
// are appended in the order given.
TEST(Add, NamesReplaceOrAppend) {
  const std::string n56 = "dir/" + std::string(52, 'n');
  const NameCase cases[] = {
      {"exact", {"maps/e1m1.bsp", "readme.txt"}, "a", {"readme.txt"}, "Replacing readme.txt\n",
       {"maps/e1m1.bsp", "readme.txt"}, 0},
      {"case differs", {"Maps/E1M1.bsp"}, "a", {"MAPS/E1M1.BSP"}, "Replacing Maps/E1M1.bsp\n", {"Maps/E1M1.bsp"}, 0},
      {"exact wins over case", {"a.txt", "A.txt"}, "a", {"A.txt"}, "Replacing A.txt\n", {"a.txt", "A.txt"}, 0},
      {"two case variants", {"a.txt", "A.txt"}, "a", {"A.TXT"}, "Ambiguous name A.TXT - skipped\n",
       {"a.txt", "A.txt"}, 9},
      {"stored twice", {"a.txt", "a.txt"}, "a", {"a.txt"}, "Ambiguous name a.txt - skipped\n", {"a.txt", "a.txt"}, 9},
      {"appended in order", {"x"}, "a", {"z/2", "y/1"}, "Adding z/2\nAdding y/1\n", {"x", "z/2", "y/1"}, 0},
      {"af takes the last component", {"sub/b"}, "af", {"p/q/b", "p/c"}, "Adding b\nAdding c\n",
       {"sub/b", "b", "c"}, 0},
      {"same member twice", {}, "a", {"d/k", "D/K"}, "Adding d/k\nDuplicate name D/K - skipped\n", {"d/k"}, 9},
      {"56 is too long for a new name", {"x"}, "a", {n56}, "Name too long " + n56 + " - skipped\n", {"x"}, 9},
      {"a stored 56-byte name is replaced", {n56}, "a", {n56}, "Replacing " + n56 + "\n", {n56}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    Pack p;
    for (const auto& name : c.stored) p.Member(name, "old:" + name);
    std::string before = p.Bytes();
    Put(dir, "a.pak", before);
    for (const auto& f : c.files) Put(dir, f, "new");
    std::vector<std::string> args = {c.letter, "a.pak"};
    args.insert(args.end(), c.files.begin(), c.files.end());
    RunResult r = Vrex(dir.path(), args);
    EXPECT_EQ(r.exitCode, c.exitCode);
    size_t stored = 0;
    for (size_t i = 0; i < c.lines.size(); i = c.lines.find('\n', i) + 1) stored += c.lines.compare(i, 3, "Add") == 0 || c.lines.compare(i, 3, "Rep") == 0;
    std::string summary = stored ? std::to_string(stored) + " files stored" : "(no files stored";
    if (c.exitCode == 9) summary += stored ? ", 1 skipped" : ", 1 skipped)";
    EXPECT_EQ(r.out, Banner() + "Searching PACK (" + std::to_string(c.stored.size()) + " files)\n" + c.lines + "\n" +
                         summary + "\n");
    std::vector<Entry> want;
    for (const auto& name : c.after) {
      bool replaced = std::find(c.stored.begin(), c.stored.end(), name) == c.stored.end() ||
                      c.lines.find("Replacing " + name + "\n") != std::string::npos;
      want.push_back({name, replaced ? "new" : "old:" + name});
    }
    if (stored == 0) {
      EXPECT_EQ(dir.Read("a.pak"), before) << "untouched, byte for byte";
    }
    EXPECT_EQ(Members(dir.Read("a.pak")), want);
  }
}

// The five formats store the last component whatever the letter; names
// replace as PACK names do, without folders.
TEST(Add, FlatNamesReplaceOrAppend) {
  const NameCase cases[] = {
      {"exact wins over case", {"a.txt", "A.txt"}, "a", {"A.txt"}, "Replacing A.txt\n", {"a.txt", "A.txt"}, 0},
      {"case differs", {"Read.Me"}, "af", {"READ.ME"}, "Replacing Read.Me\n", {"Read.Me"}, 0},
      {"two case variants", {"a.txt", "A.TXT"}, "a", {"a.Txt"}, "Ambiguous name a.Txt - skipped\n",
       {"a.txt", "A.TXT"}, 9},
      {"a takes the last component too", {"x"}, "a", {"sub/x", "sub/y"}, "Replacing x\nAdding y\n", {"x", "y"}, 0},
      {"same name twice", {}, "a", {"p/k.bin", "q/K.BIN"}, "Adding k.bin\nDuplicate name q/K.BIN - skipped\n",
       {"k.bin"}, 9},
  };
  for (const FlatFormat& f : kFlatFormats) {
    std::vector<NameCase> rows(std::begin(cases), std::end(cases));
    std::string longest(f.longest, 'n'), longer(f.longest + 1, 'm');
    rows.push_back({"longest name", {}, "a", {longest}, "Adding " + longest + "\n", {longest}, 0});
    rows.push_back({"too long", {"x"}, "af", {longer}, "Name too long " + longer + " - skipped\n", {"x"}, 9});
    for (const NameCase& c : rows) {
      SCOPED_TRACE(std::string(f.archive) + ": " + c.label);
      TempDir dir;
      std::vector<Entry> before;
      for (const auto& name : c.stored) before.push_back({name, "old:" + name});
      Put(dir, f.archive, MakeArchive(f.archive, before));
      for (const auto& file : c.files) Put(dir, file, "new");
      std::vector<std::string> args = {c.letter, f.archive};
      args.insert(args.end(), c.files.begin(), c.files.end());
      RunResult r = Vrex(dir.path(), args);
      EXPECT_EQ(r.exitCode, c.exitCode);
      size_t stored = c.after.size() - c.stored.size() + (c.lines.find("Replacing") != std::string::npos);
      std::string summary = stored ? std::to_string(stored) + " files stored" : "(no files stored";
      if (c.exitCode == 9) summary += stored ? ", 1 skipped" : ", 1 skipped)";
      EXPECT_EQ(r.out, Banner() + "Searching " + f.tag + " (" + std::to_string(c.stored.size()) + " files)\n" + c.lines +
                           "\n" + summary + "\n");
      std::vector<Entry> want, after;
      for (const auto& name : c.after) {
        bool old = std::find(c.stored.begin(), c.stored.end(), name) != c.stored.end();
        want.push_back({name, old && c.lines.find("Replacing " + name + "\n") == std::string::npos ? "old:" + name : "new"});
      }
      ASSERT_TRUE(ReadMembers(f.archive, dir.Read(f.archive), &after));
      EXPECT_EQ(after, want);
    }
  }
}

// What x writes, a puts back: after x and a of every file, the directory and
// every member are as they were (names in their stored spelling).
TEST(Add, WhatExtractionWritesAddingPutsBack) {
  TempDir dir;
  std::string full = "dir/" + std::string(52, 'f');
  std::string before = Pack()
                           .Member("maps/e1m1.bsp", Pattern(3000, 1))
                           .Member("Sound/Beep.wav", Pattern(10, 2))
                           .Member("readme.txt", "")
                           .Member(full, "56")
                           .Bytes();
  for (const char* pattern : {"", "*"}) {  // with a pattern too, x writes the stored names
    SCOPED_TRACE(pattern);
    Put(dir, "a.pak", before);
    std::vector<std::string> x = {"x", "a.pak"};
    if (*pattern) x.push_back(pattern);
    ASSERT_EQ(Vrex(dir.path(), x).exitCode, 0);
    RunResult r = Vrex(dir.path(), {"a", "a.pak", "maps", "Sound", "readme.txt", "dir"});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(r.out.find("Adding"), std::string::npos) << r.out;
    EXPECT_EQ(Members(dir.Read("a.pak")), Members(before));
  }
}

// What a stores, x writes back byte for byte: SPAK, SLB and GOB v2 with
// their folders ("/" and "\" between them), GRP and RFF flat with
// upper-cased names, GOB v1 flat.
TEST(Add, ExtractionGivesBackTheBytesAStored) {
  const std::string deep = Pattern(70000, 3), top = Pattern(10, 4);
  const struct {
    const char* archive;
    std::vector<Entry> stored;
    std::map<std::string, std::string> extracted;
  } rows[] = {
      {"a.sin", {{"t/sub/deep.bin", deep}, {"t/top.txt", top}},
       {{"t/", ""}, {"t/sub/", ""}, {"t/sub/deep.bin", deep}, {"t/top.txt", top}}},
      {"a.slb", {{"t\\sub\\deep.bin", deep}, {"t\\top.txt", top}},
       {{"t/", ""}, {"t/sub/", ""}, {"t/sub/deep.bin", deep}, {"t/top.txt", top}}},
      {"a.grp", {{"DEEP.BIN", deep}, {"TOP.TXT", top}}, {{"DEEP.BIN", deep}, {"TOP.TXT", top}}},
      {"a.rff", {{"DEEP.BIN", deep}, {"TOP.TXT", top}}, {{"DEEP.BIN", deep}, {"TOP.TXT", top}}},
      {"a.gob", {{"deep.bin", deep}, {"top.txt", top}}, {{"deep.bin", deep}, {"top.txt", top}}},
      {"a.goo", {{"t\\sub\\deep.bin", deep}, {"t\\top.txt", top}},
       {{"t/", ""}, {"t/sub/", ""}, {"t/sub/deep.bin", deep}, {"t/top.txt", top}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.archive);
    TempDir dir, out;
    Put(dir, "t/sub/deep.bin", deep);
    Put(dir, "t/top.txt", top);
    ASSERT_EQ(Vrex(dir.path(), {"a", row.archive, "t"}).exitCode, 0);
    std::vector<Entry> stored;
    ASSERT_TRUE(ReadMembers(row.archive, dir.Read(row.archive), &stored));
    EXPECT_EQ(stored, row.stored);
    out.Write(row.archive, dir.Read(row.archive));
    ASSERT_EQ(Vrex(out.path(), {"x", row.archive}).exitCode, 0);
    std::map<std::string, std::string> extracted = out.Tree();
    extracted.erase(row.archive);
    EXPECT_EQ(extracted, row.extracted);
  }
}

// Folders add every file below them in the byte order of their paths;
// a list file names paths one a line, bytes kept as they are.
TEST(Add, FoldersAndListFiles) {
  TempDir dir;
  Put(dir, "t/b/z", "z");
  Put(dir, "t/B", "B");
  Put(dir, "t/a.txt", "a");
  Put(dir, "t/b/a", "ba");
  Put(dir, "one.txt", "1");
  dir.Write("list", "one.txt\r\n\r\n/etc/passwd\r\nt/../one.txt\nmissing");
  RunResult r = Vrex(dir.path(), {"a", "new.pak", "./t/", "@list", "-switch"});
  EXPECT_EQ(r.exitCode, 9);
  EXPECT_EQ(r.out, Banner() + "Creating new.pak\nAdding t/B\nAdding t/a.txt\nAdding t/b/a\nAdding t/b/z\n"
                              "Adding one.txt\nUnsafe path /etc/passwd - skipped\nUnsafe path t/../one.txt - skipped\n"
                              "Can't read missing - skipped\n\n5 files stored, 3 skipped\n");
  EXPECT_EQ(Members(dir.Read("new.pak")),
            (std::vector<Entry>{{"t/B", "B"}, {"t/a.txt", "a"}, {"t/b/a", "ba"}, {"t/b/z", "z"}, {"one.txt", "1"}}));
  EXPECT_EQ(Vrex(dir.path(), {"l", "new.pak"}).exitCode, 0);
}

// Nor what a killed run leaves: a new archive's file, an extraction's
// temporary file.
TEST(Add, TheArchiveAndTemporaryFilesAreNeverStored) {
  TempDir dir;
  Put(dir, "a.pak", Pack().Member("x", "x").Bytes());
  Put(dir, "a.pak.vrex-new", "left by a run that was killed");
  Put(dir, ".1.vrex-part", "left by an extraction that was killed");
  RunResult r = Vrex(dir.path(), {"a", "a.pak", "a.pak", "."});
  EXPECT_EQ(r.exitCode, 9);
  EXPECT_EQ(r.out, Banner() + "Searching PACK (1 files)\nThe archive itself a.pak - skipped\n"
                              "Temporary file ./.1.vrex-part - skipped\n"
                              "The archive itself ./a.pak - skipped\nThe archive itself ./a.pak.vrex-new - skipped\n"
                              "\n(no files stored, 4 skipped)\n");
}

TEST(Add, MakingArchives) {
  TempDir dir;
  Put(dir, "f", "data");
  RunResult unknown = Vrex(dir.path(), {"a", "new.zip", "f"});
  EXPECT_EQ(unknown.exitCode, 2);
  EXPECT_EQ(unknown.err, "\topen failed: No such file or directory\n");
  EXPECT_EQ(unknown.out, Banner() + "\tnew.zip: no such archive; vrex makes new archives named .pak, .wad, .lod, "
                                    ".stk, .itk, .hog, .mvl, .sin, .slb, .grp, .rff, .gob and .goo (-wad2, -wad3, -iwad, "
                                    "-csid or -gob2 for a Quake WAD, a Half-Life WAD, a Doom IWAD, a Chasm BIN or a Jedi "
                                    "Knight GOB)\n");
  EXPECT_FALSE(dir.Exists("new.zip"));

  RunResult nothing = Vrex(dir.path(), {"a", "NEW.PAK", "missing"});
  EXPECT_EQ(nothing.exitCode, 9);
  EXPECT_FALSE(dir.Exists("NEW.PAK")) << "nothing to store: nothing made";

  // An existing PACK without a single entry takes members too.
  Put(dir, "empty.pak", Bytes().Raw("PACK").U32(12).U32(0).str());
  RunResult empty = Vrex(dir.path(), {"a", "empty.pak", "f"});
  EXPECT_EQ(empty.exitCode, 0);
  EXPECT_EQ(empty.out, Banner() + "Searching PACK (0 files)\nAdding f\n\n1 files stored\n");
  EXPECT_EQ(Members(dir.Read("empty.pak")), (std::vector<Entry>{{"f", "data"}}));
  EXPECT_EQ(Vrex(dir.path(), {"l", "empty.pak"}).exitCode, 0);
  EXPECT_EQ(dir.Tree().size(), 2u) << "no temporary file left";
}

// m removes what was stored, and the folders it emptied; refused files and
// the folders that hold them stay.
TEST(Add, MoveRemovesOnlyWhatWasStored) {
  TempDir dir;
  Put(dir, "a.pak", Pack().Member("x.txt", "x").Member("X.TXT", "X").Bytes());
  Put(dir, "gone/deep/f1", "1");
  Put(dir, "kept/f2", "2");
  Put(dir, "kept/X.Txt", "refused: ambiguous");
  Put(dir, "X.tXt", "refused too");
  RunResult r = Vrex(dir.path(), {"mf", "a.pak", "gone", "kept", "X.tXt"});
  EXPECT_EQ(r.exitCode, 9);
  EXPECT_EQ(r.out, Banner() + "Searching PACK (2 files)\nAdding f1\nAmbiguous name kept/X.Txt - skipped\n"
                              "Adding f2\nAmbiguous name X.tXt - skipped\n\n2 files stored, 2 skipped\n");
  EXPECT_EQ(dir.Tree(), (std::map<std::string, std::string>{{"a.pak", dir.Read("a.pak")},
                                                           {"kept/", ""},
                                                           {"kept/X.Txt", "refused: ambiguous"},
                                                           {"X.tXt", "refused too"}}));
  EXPECT_EQ(Members(dir.Read("a.pak")),
            (std::vector<Entry>{{"x.txt", "x"}, {"X.TXT", "X"}, {"f1", "1"}, {"f2", "2"}}));
}
}  // namespace
