// Doom WADs end to end: labels and members (with -all too), map and
// namespace prefixes, full names of any length, patterns against full names,
// extraction with and without folders, and deletion that keeps the
// directory's structure: whole maps or nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/support/bytes_builder.h"
#include "tests/support/e2e.h"

namespace {
// A crafted IWAD/PWAD: lump data back to back behind the header, the
// directory behind the data, entries in the order they were added.
class DoomWad {
 public:
  explicit DoomWad(const char* magic = "PWAD") : magic_(magic) {}
  DoomWad& Lump(const std::string& name, const std::string& data) {
    entries_.push_back({name, 12 + uint32_t(data_.size()), uint32_t(data.size())});
    data_ += data;
    return *this;
  }
  // A marker of 0 bytes stored with offset 0, as many real WADs have them.
  DoomWad& Marker(const std::string& name) { return Entry(name, 0, 0); }
  DoomWad& Entry(const std::string& name, uint32_t offset, uint32_t size) {
    entries_.push_back({name, offset, size});
    return *this;
  }
  uint32_t OffsetOf(size_t i) const { return entries_[i].offset; }
  std::string Bytes() const {
    ::Bytes out;
    out.Raw(magic_).U32(uint32_t(entries_.size())).U32(12 + uint32_t(data_.size())).Raw(data_);
    for (const auto& e : entries_) out.U32(e.offset).U32(e.size).Name(e.name, 8);
    return out.str();
  }

 private:
  struct E {
    std::string name;
    uint32_t offset, size;
  };
  std::string magic_;
  std::string data_;
  std::vector<E> entries_;
};

struct ParsedEntry {
  uint32_t offset, size;
  std::string name;
  bool operator==(const ParsedEntry& o) const { return offset == o.offset && size == o.size && name == o.name; }
};

uint32_t U32At(const std::string& s, size_t at) {
  return uint32_t(uint8_t(s[at])) | uint32_t(uint8_t(s[at + 1])) << 8 |
         uint32_t(uint8_t(s[at + 2])) << 16 | uint32_t(uint8_t(s[at + 3])) << 24;
}

std::vector<ParsedEntry> ParseDirectory(const std::string& wad) {
  std::vector<ParsedEntry> out;
  uint32_t count = U32At(wad, 4), at = U32At(wad, 8);
  for (uint32_t i = 0; i < count && uint64_t(at) + 16 <= wad.size(); ++i, at += 16) {
    std::string name = wad.substr(at + 8, 8);
    name = name.substr(0, name.find('\0'));
    out.push_back({U32At(wad, at), U32At(wad, at + 4), name});
  }
  return out;
}

// The directory as one line per entry: name, size and a digest of the data
// it points at (readable when a comparison fails).
std::vector<std::string> Contents(const std::string& wad) {
  std::vector<std::string> out;
  for (const auto& e : ParseDirectory(wad)) {
    if (uint64_t(e.offset) + e.size > wad.size()) {
      out.push_back(e.name + " past the end");
      continue;
    }
    uint32_t hash = 2166136261u;
    for (uint32_t k = 0; k < e.size; ++k) hash = (hash ^ uint8_t(wad[e.offset + k])) * 16777619u;
    char line[64];
    snprintf(line, sizeof line, "%s %u %08X", e.name.c_str(), e.size, hash);
    out.push_back(line);
  }
  return out;
}

const std::string kHeading = "\nname\t\t\tsize\tseek\n" + std::string(40, '-') + "\n";
// Listing rows: the full name cut or padded to 17 columns, a tab, the size
// padded to 7, a tab, the offset as 8 hex digits. Lump data begins at 12,
// right behind the header.

std::string Searching(const char* magic, int count) {
  return Banner() + "Searching " + magic + " (" + std::to_string(count) + " files)\n";
}

std::string Found(int n) { return n ? "\n" + std::to_string(n) + " matches found\n" : "\n(no matches found)\n"; }

const char* const kMapLumps[] = {"THINGS", "LINEDEFS", "SIDEDEFS", "VERTEXES", "SEGS",
                                 "SSECTORS", "NODES", "SECTORS", "REJECT", "BLOCKMAP"};

TEST(DoomWad, LumpsUnder100BytesAreLabelsButMembersWithAll) {
  TempDir dir;
  DoomWad w("IWAD");
  w.Lump("SMALL", Pattern(99, 1)).Lump("EXACT", Pattern(100, 2)).Lump("ZERO", "");
  dir.Write("a.wad", w.Bytes());

  RunResult r = Vrex(dir.path(), {"l", "a.wad"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, Searching("IWAD", 3) + kHeading + "EXACT            \t100    \t0000006F\n" + Found(1));

  r = Vrex(dir.path(), {"x", "a.wad", "*"});
  EXPECT_EQ(r.out, Searching("IWAD", 3) + "Extracting EXACT\n" + Found(1));
  EXPECT_EQ(dir.Tree(), (std::map<std::string, std::string>{{"a.wad", w.Bytes()}, {"EXACT", Pattern(100, 2)}}));

  r = Vrex(dir.path(), {"l", "a.wad", "SMALL"});
  EXPECT_EQ(r.out, Searching("IWAD", 3) + kHeading + Found(0));

  // With -all (ASCII case ignored) every entry but a marker is a member.
  TempDir all;
  DoomWad m;
  m.Marker("F_START").Lump("F1_START", "").Lump("FLAT", Pattern(7, 3)).Marker("F_END").Lump("SMALL", "s");
  m.Marker("MAP01").Lump("THINGS", Pattern(100, 4)).Lump("REJECT", "");
  all.Write("a.wad", m.Bytes());
  r = Vrex(all.path(), {"l", "a.wad", "-all"});
  EXPECT_EQ(r.out, Searching("PWAD", 8) + kHeading +
                       "F_START\\F1_START \t0      \t0000000C\n"
                       "F_START\\FLAT     \t7      \t0000000C\n"
                       "SMALL            \t1      \t00000013\n"
                       "MAP01\\THINGS     \t100    \t00000014\n"
                       "MAP01\\REJECT     \t0      \t00000078\n" +
                       Found(5));
  r = Vrex(all.path(), {"x", "a.wad", "-ALL"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(all.Tree(), (std::map<std::string, std::string>{
                            {"a.wad", m.Bytes()}, {"F_START/", ""}, {"F_START/F1_START", ""},
                            {"F_START/FLAT", Pattern(7, 3)}, {"SMALL", "s"}, {"MAP01/", ""},
                            {"MAP01/THINGS", Pattern(100, 4)}, {"MAP01/REJECT", ""}}));
}

TEST(DoomWad, MapMarkerPrefixesTheNextTenEntries) {
  TempDir dir;
  DoomWad w;
  w.Marker("MAP01");
  for (const char* lump : kMapLumps) w.Lump(lump, Pattern(120, 3));
  w.Lump("ELEVENTH", Pattern(130, 4));
  dir.Write("a.wad", w.Bytes());

  RunResult r = Vrex(dir.path(), {"l", "a.wad"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, Searching("PWAD", 12) + kHeading +
                       "MAP01\\THINGS     \t120    \t0000000C\n"
                       "MAP01\\LINEDEFS   \t120    \t00000084\n"
                       "MAP01\\SIDEDEFS   \t120    \t000000FC\n"
                       "MAP01\\VERTEXES   \t120    \t00000174\n"
                       "MAP01\\SEGS       \t120    \t000001EC\n"
                       "MAP01\\SSECTORS   \t120    \t00000264\n"
                       "MAP01\\NODES      \t120    \t000002DC\n"
                       "MAP01\\SECTORS    \t120    \t00000354\n"
                       "MAP01\\REJECT     \t120    \t000003CC\n"
                       "MAP01\\BLOCKMAP   \t120    \t00000444\n"
                       "ELEVENTH         \t130    \t000004BC\n" +
                       Found(11));
}

TEST(DoomWad, LabelsInsideAMapCountTowardsItsTenEntries) {
  TempDir dir;
  DoomWad w;
  w.Marker("E1M1").Lump("THINGS", Pattern(100, 1)).Lump("REJECT", "tiny");
  for (int i = 0; i < 8; ++i) w.Lump("L" + std::to_string(i), Pattern(100, i));
  w.Lump("AFTER", Pattern(100, 9));
  dir.Write("a.wad", w.Bytes());

  RunResult r = Vrex(dir.path(), {"l", "a.wad", "E1M1\\*"});
  // REJECT (4 bytes) is a label: L0 lies at 12 + 100 + 4.
  EXPECT_EQ(r.out, Searching("PWAD", 12) + kHeading +
                       "E1M1\\THINGS      \t100    \t0000000C\n"
                       "E1M1\\L0          \t100    \t00000074\n"
                       "E1M1\\L1          \t100    \t000000D8\n"
                       "E1M1\\L2          \t100    \t0000013C\n"
                       "E1M1\\L3          \t100    \t000001A0\n"
                       "E1M1\\L4          \t100    \t00000204\n"
                       "E1M1\\L5          \t100    \t00000268\n"
                       "E1M1\\L6          \t100    \t000002CC\n"
                       "E1M1\\L7          \t100    \t00000330\n" +
                       Found(9));
}

TEST(DoomWad, MapinfoUnder100BytesIsAMapMarker) {
  TempDir dir;
  DoomWad w;
  w.Lump("MAPINFO", "map MAP01 \"Entryway\"\n").Lump("DEHACKED", Pattern(200, 5));
  dir.Write("a.wad", w.Bytes());
  RunResult r = Vrex(dir.path(), {"l", "a.wad"});
  EXPECT_EQ(r.out, Searching("PWAD", 2) + kHeading + "MAPINFO\\DEHACKED \t200    \t00000021\n" + Found(1));
}

TEST(DoomWad, NamespacesPrefixUntilTheEntryAfterTheirEnd) {
  TempDir dir;
  DoomWad w;
  w.Marker("S_START").Lump("TROOA1", Pattern(150, 1)).Lump("TROOB1", Pattern(160, 2)).Marker("S_END");
  w.Lump("PLAYPAL", Pattern(768, 3));
  // Only characters 2 to 7 decide: FF_START and F1_START open nothing, S_STARTX does.
  w.Marker("FF_START").Lump("FLAT1", Pattern(100, 4)).Marker("FF_END");
  w.Marker("F1_START").Lump("FLAT2", Pattern(100, 5));
  w.Marker("S_STARTX").Lump("FLAT3", Pattern(100, 6)).Marker("S_END").Lump("LAST", Pattern(100, 7));
  dir.Write("a.wad", w.Bytes());

  RunResult r = Vrex(dir.path(), {"l", "a.wad"});
  EXPECT_EQ(r.out, Searching("PWAD", 14) + kHeading +
                       "S_START\\TROOA1   \t150    \t0000000C\n"
                       "S_START\\TROOB1   \t160    \t000000A2\n"
                       "PLAYPAL          \t768    \t00000142\n"
                       "FLAT1            \t100    \t00000442\n"
                       "FLAT2            \t100    \t000004A6\n"
                       "S_STARTX\\FLAT3   \t100    \t0000050A\n"
                       "LAST             \t100    \t0000056E\n" +
                       Found(7));
}

TEST(DoomWad, NestedMarkersGiveFullNamesOfAnyLength) {
  TempDir dir;
  DoomWad w;
  w.Marker("S_START").Marker("MAP01").Marker("E1M1").Marker("X_START").Lump("LONGNAME", Pattern(100, 1));
  w.Lump("OTHER", Pattern(101, 2)).Marker("X_END").Lump("OUTSIDE", Pattern(102, 3));
  dir.Write("a.wad", w.Bytes());
  const std::string full = "S_START\\MAP01\\E1M1\\X_START\\LONGNAME";  // 35 characters

  // The listing shows the first 17 characters of a full name.
  RunResult r = Vrex(dir.path(), {"l", "a.wad"});
  EXPECT_EQ(r.out, Searching("PWAD", 8) + kHeading +
                       "S_START\\MAP01\\E1M\t100    \t0000000C\n"
                       "S_START\\MAP01\\E1M\t101    \t00000070\n"
                       "OUTSIDE          \t102    \t000000D5\n" +
                       Found(3));

  // Selection and extraction see the whole name.
  r = Vrex(dir.path(), {"x", "a.wad", "*\\X_START\\LONG*"});
  EXPECT_EQ(r.out, Searching("PWAD", 8) + "Extracting " + full + "\n" + Found(1));
  EXPECT_EQ(dir.Read("S_START/MAP01/E1M1/X_START/LONGNAME"), Pattern(100, 1));
  r = Vrex(dir.path(), {"l", "a.wad", "S_START\\MAP01\\E1M1\\X_START\\LONGNAM?"});
  EXPECT_EQ(r.out, Searching("PWAD", 8) + kHeading + "S_START\\MAP01\\E1M\t100    \t0000000C\n" + Found(1));
}

TEST(DoomWad, PatternsMatchFullNamesAndUpperCaseTheListing) {
  TempDir dir;
  DoomWad w;
  w.Marker("S_START").Lump("trooa1", Pattern(100, 1)).Lump("TROOB1", Pattern(100, 2)).Marker("S_END");
  w.Lump("TROOC1", Pattern(100, 3));
  dir.Write("a.wad", w.Bytes());

  RunResult r = Vrex(dir.path(), {"l", "a.wad", "s_start\\*"});
  EXPECT_EQ(r.out, Searching("PWAD", 5) + kHeading +
                       "S_START\\TROOA1   \t100    \t0000000C\n"
                       "S_START\\TROOB1   \t100    \t00000070\n" +
                       Found(2));
  // Without patterns the stored letters are kept; a bare lump name does not
  // match a member inside a namespace.
  r = Vrex(dir.path(), {"l", "a.wad"});
  EXPECT_NE(r.out.find("S_START\\trooa1   \t100    \t0000000C\n"), std::string::npos);
  r = Vrex(dir.path(), {"l", "a.wad", "TROO?1"});
  EXPECT_EQ(r.out, Searching("PWAD", 5) + kHeading + "TROOC1           \t100    \t000000D4\n" + Found(1));
  // Extraction with patterns names the files after the stored letters.
  r = Vrex(dir.path(), {"x", "a.wad", "s_start\\*"});
  EXPECT_EQ(r.out, Searching("PWAD", 5) + "Extracting S_START\\TROOA1\nExtracting S_START\\TROOB1\n" + Found(2));
  EXPECT_EQ(dir.Read("S_START/trooa1"), Pattern(100, 1));
  EXPECT_FALSE(dir.Exists("S_START/TROOA1"));
}

TEST(DoomWad, ExtractWithFoldersMakesMarkerFoldersAndFlatExtractionDoesNot) {
  TempDir dir;
  DoomWad w;
  w.Marker("MAP01").Lump("THINGS", Pattern(100, 1)).Marker("S_START").Lump("ABCDEFGH", Pattern(110, 2));
  w.Marker("S_END").Lump("TOP", Pattern(120, 3));
  const std::string wad = w.Bytes();
  dir.Write("a.wad", wad);

  RunResult r = Vrex(dir.path(), {"x", "a.wad"});
  EXPECT_EQ(r.exitCode, 0);
  // A name of exactly 8 characters has no NUL in its field.
  EXPECT_EQ(r.out, Searching("PWAD", 6) + "Extracting MAP01\\THINGS\nExtracting MAP01\\S_START\\ABCDEFGH\n"
                                          "Extracting TOP\n" + Found(3));
  EXPECT_EQ(dir.Tree(), (std::map<std::string, std::string>{{"a.wad", wad},
                                                            {"MAP01/", ""},
                                                            {"MAP01/THINGS", Pattern(100, 1)},
                                                            {"MAP01/S_START/", ""},
                                                            {"MAP01/S_START/ABCDEFGH", Pattern(110, 2)},
                                                            {"TOP", Pattern(120, 3)}}));

  TempDir flat;
  flat.Write("a.wad", wad);
  r = Vrex(flat.path(), {"e", "a.wad"});
  EXPECT_EQ(r.out, Searching("PWAD", 6) + "Extracting MAP01\\THINGS\nExtracting MAP01\\S_START\\ABCDEFGH\n"
                                          "Extracting TOP\n" + Found(3));
  EXPECT_EQ(flat.Tree(), (std::map<std::string, std::string>{{"a.wad", wad},
                                                             {"THINGS", Pattern(100, 1)},
                                                             {"ABCDEFGH", Pattern(110, 2)},
                                                             {"TOP", Pattern(120, 3)}}));

  TempDir test;
  test.Write("a.wad", wad);
  r = Vrex(test.path(), {"t", "a.wad"});
  EXPECT_EQ(r.out, Searching("PWAD", 6) + "Testing MAP01\\THINGS\nTesting MAP01\\S_START\\ABCDEFGH\n"
                                          "Testing TOP\n" + Found(3));
  EXPECT_EQ(test.Tree().size(), 1u);
}

TEST(DoomWad, BackslashesInALumpsOwnNameAreFoldersAndMayBeWrittenAsTilde) {
  TempDir dir;
  DoomWad w;
  w.Marker("S_START").Lump("VILE\\3", Pattern(100, 1)).Lump("VILE~3", Pattern(101, 2)).Marker("S_END");
  dir.Write("a.wad", w.Bytes());

  RunResult r = Vrex(dir.path(), {"x", "a.wad", "S_START\\VILE\\3"});
  EXPECT_EQ(r.out, Searching("PWAD", 4) + "Extracting S_START\\VILE\\3\n" + Found(1));
  EXPECT_EQ(dir.Read("S_START/VILE/3"), Pattern(100, 1));

  // The plug-in module shows the lump as S_START\VILE~3: that name selects
  // it too (and the lump really named VILE~3), and extraction keeps the
  // backslash.
  TempDir tilde;
  tilde.Write("a.wad", w.Bytes());
  r = Vrex(tilde.path(), {"x", "a.wad", "s_start\\vile~3"});
  EXPECT_EQ(r.out, Searching("PWAD", 4) + "Extracting S_START\\VILE\\3\nExtracting S_START\\VILE~3\n" + Found(2));
  EXPECT_EQ(tilde.Read("S_START/VILE/3"), Pattern(100, 1));
  EXPECT_EQ(tilde.Read("S_START/VILE~3"), Pattern(101, 2));

  // Only the lump's own backslashes may be written as "~", not the prefix's.
  r = Vrex(dir.path(), {"l", "a.wad", "S_START~VILE?3"});
  EXPECT_EQ(r.out, Searching("PWAD", 4) + kHeading + Found(0));

  TempDir flat;
  flat.Write("a.wad", w.Bytes());
  r = Vrex(flat.path(), {"e", "a.wad", "*\\3"});
  EXPECT_EQ(r.out, Searching("PWAD", 4) + "Extracting S_START\\VILE\\3\n" + Found(1));
  EXPECT_EQ(flat.Read("3"), Pattern(100, 1));
}

TEST(DoomWad, UnsafeFullNamesAreRefused) {
  TempDir dir;
  DoomWad w;
  w.Marker("S_START").Lump("..\\EVIL", Pattern(100, 1)).Marker("S_END").Lump("..\\EVIL", Pattern(100, 2));
  w.Lump("C:\\X", Pattern(100, 3));
  dir.Write("a.wad", w.Bytes());
  RunResult r = Vrex(dir.path(), {"x", "a.wad"});
  EXPECT_EQ(r.exitCode, 4);
  EXPECT_EQ(r.out, Searching("PWAD", 5) + "Extracting S_START\\..\\EVIL\nUnsafe path S_START\\..\\EVIL - skipped\n"
                                          "Extracting ..\\EVIL\nUnsafe path ..\\EVIL - skipped\n"
                                          "Extracting C:\\X\nUnsafe path C:\\X - skipped\n" + Found(3));
  EXPECT_EQ(dir.Tree().size(), 1u);
}

// ---- Deletion -------------------------------------------------------------

struct Deleted {
  RunResult run;
  std::string before, after;
};

Deleted Delete(const TempDir& dir, const std::string& wad, const std::vector<std::string>& patterns) {
  dir.Write("a.wad", wad);
  std::vector<std::string> args = {"d", "a.wad"};
  args.insert(args.end(), patterns.begin(), patterns.end());
  Deleted d{Vrex(dir.path(), args), wad, ""};
  d.after = dir.Read("a.wad");
  return d;
}

// The contents the archive should keep: every entry except those at the
// given directory indexes, in directory order.
std::vector<std::string> Without(const std::string& wad, std::vector<size_t> gone) {
  auto all = Contents(wad);
  std::vector<std::string> out;
  for (size_t i = 0; i < all.size(); ++i)
    if (std::find(gone.begin(), gone.end(), i) == gone.end()) out.push_back(all[i]);
  return out;
}

TEST(DoomWadDelete, NamespaceLumpsGoAndItsMarkersStay) {
  TempDir dir;
  DoomWad w("IWAD");
  w.Lump("PLAYPAL", Pattern(300, 1)).Marker("S_START").Lump("TROOA1", Pattern(150, 2));
  w.Lump("TROOB1", Pattern(160, 3)).Lump("TINY", "xy").Marker("S_END").Lump("ENDOOM", Pattern(400, 4));
  Deleted d = Delete(dir, w.Bytes(), {"S_START\\*"});
  EXPECT_EQ(d.run.exitCode, 0);
  EXPECT_EQ(d.run.out, Searching("IWAD", 7) + "Deleting S_START\\TROOA1\nDeleting S_START\\TROOB1\n" + Found(2));
  EXPECT_EQ(Contents(d.after), Without(d.before, {2, 3}));
  EXPECT_EQ(d.after.size(), 12u + 300 + 2 + 400 + 5 * 16);

  // The result is a WAD vrex reads again, with the same structure.
  RunResult r = Vrex(dir.path(), {"x", "a.wad"});
  EXPECT_EQ(r.out, Searching("IWAD", 5) + "Extracting PLAYPAL\nExtracting ENDOOM\n" + Found(2));
  EXPECT_EQ(dir.Read("PLAYPAL"), Pattern(300, 1));
  EXPECT_EQ(dir.Read("ENDOOM"), Pattern(400, 4));
}

TEST(DoomWadDelete, DirectoryOrderIsKeptWhateverTheDataOrder) {
  TempDir dir;
  // Markers at offset 0 and map lumps whose data lies in reverse order:
  // sorting the directory by offset would break both maps.
  ::Bytes data;
  std::vector<std::string> lumps;
  for (int i = 0; i < 6; ++i) lumps.push_back(Pattern(100 + i, 10 + i));
  DoomWad w;
  uint32_t at = 12;
  std::vector<uint32_t> offsets(6);
  for (int i = 5; i >= 0; --i) {
    offsets[i] = at;
    data.Raw(lumps[i]);
    at += uint32_t(lumps[i].size());
  }
  ::Bytes out;
  out.Raw("PWAD").U32(8).U32(at).Raw(data.str());
  auto entry = [&](const char* name, uint32_t offset, uint32_t size) { out.U32(offset).U32(size).Name(name, 8); };
  entry("MAP01", 0, 0);
  entry("THINGS", offsets[0], 100);
  entry("LINEDEFS", offsets[1], 101);
  entry("SIDEDEFS", offsets[2], 102);
  entry("MAP02", 0, 0);
  entry("THINGS", offsets[3], 103);
  entry("LINEDEFS", offsets[4], 104);
  entry("SIDEDEFS", offsets[5], 105);

  Deleted d = Delete(dir, out.str(), {"MAP01\\LINEDEFS"});
  EXPECT_EQ(d.run.out, Searching("PWAD", 8) + "Deleting MAP01\\LINEDEFS\n" + Found(1));
  EXPECT_EQ(Contents(d.after), Without(d.before, {2}));

  // Deleting nothing leaves the archive as it is.
  TempDir none;
  d = Delete(none, out.str(), {"NOTHERE"});
  EXPECT_EQ(d.run.exitCode, 0);
  EXPECT_EQ(d.run.out, Searching("PWAD", 8) + Found(0));
  EXPECT_EQ(d.after, d.before);
}

TEST(DoomWadDelete, EntriesSharingDataKeepTheirBytes) {
  TempDir dir;
  DoomWad w;
  w.Lump("FIRST", Pattern(200, 1)).Lump("SECOND", Pattern(300, 2));
  w.Entry("ALIAS", w.OffsetOf(1), 300).Entry("PART", w.OffsetOf(1) + 50, 120).Lump("THIRD", Pattern(150, 3));
  Deleted d = Delete(dir, w.Bytes(), {"SECOND"});
  EXPECT_EQ(d.run.exitCode, 0);
  EXPECT_EQ(d.run.out, Searching("PWAD", 5) + "Deleting SECOND\n" + Found(1));
  EXPECT_EQ(Contents(d.after), Without(d.before, {1}));

  TempDir first;
  d = Delete(first, w.Bytes(), {"FIRST"});
  EXPECT_EQ(Contents(d.after), Without(d.before, {0}));
  EXPECT_EQ(d.after.size(), 12u + 300 + 150 + 4 * 16);
}

TEST(DoomWadDelete, DeletingEveryMemberLeavesNamespaceMarkersAndNoMap) {
  TempDir dir;
  DoomWad w;
  w.Marker("MAP01").Lump("THINGS", Pattern(100, 1)).Lump("REJECT", "r").Lump("BLOCKMAP", Pattern(200, 2));
  Deleted d = Delete(dir, w.Bytes(), {"*"});
  EXPECT_EQ(d.run.out, Searching("PWAD", 4) + "Deleting MAP01\\THINGS\nDeleting MAP01\\BLOCKMAP\n" + Found(2));
  EXPECT_EQ(d.after, Bytes().Raw("PWAD").U32(0).U32(12).str()) << "the map's marker and label went with it";

  // With only 0-byte labels left the file is the header and the directory.
  TempDir bare;
  DoomWad m;
  m.Marker("F_START").Lump("FLAT", Pattern(4096, 3)).Marker("F_END");
  d = Delete(bare, m.Bytes(), {"F_START\\FLAT"});
  EXPECT_EQ(Contents(d.after), Without(d.before, {1}));
  EXPECT_EQ(d.after.size(), 12u + 2 * 16);
}

// A map's marker goes, with the labels in its ten places, when the run
// deletes a lump there and keeps none; a deletion that would give a kept
// member another name (what follows moving into a map's ten places) deletes
// nothing, by the member rule of the run.
TEST(DoomWadDelete, AMapGoesWholeOrNothingGoes) {
  DoomWad sprites, label;
  for (DoomWad* w : {&sprites, &label}) {
    w->Marker("MAP01");
    for (const char* lump : kMapLumps) w->Lump(lump, std::string(lump) == "REJECT" ? "r" : Pattern(120, 1));
  }
  sprites.Marker("S_START").Lump("VIL", Pattern(150, 2)).Marker("S_END");  // 11 to 13
  label.Lump("X", "x");                                                     // 11
  std::string whole;
  for (const char* lump : kMapLumps)
    if (std::string(lump) != "REJECT") whole += "Deleting MAP01\\" + std::string(lump) + "\n";
  struct Row {
    const char* label;
    const DoomWad& wad;
    std::vector<std::string> args;
    std::string lines;
    std::vector<size_t> gone;  // none: the archive as it was, exit 7
  } rows[] = {
      {"the whole map", sprites, {"MAP01\\*"}, whole, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
      {"one lump of it", sprites, {"MAP01\\THINGS"}, "Deleting MAP01\\THINGS\nWould rename S_START\\VIL - nothing deleted\n", {}},
      {"a label moves in", label, {"MAP01\\THINGS"}, "Deleting MAP01\\THINGS\n", {1}},
      {"-all: a member moves in", label, {"-all", "MAP01\\THINGS"}, "Deleting MAP01\\THINGS\nWould rename X - nothing deleted\n", {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    TempDir dir;
    Deleted d = Delete(dir, row.wad.Bytes(), row.args);
    int deleted = int(std::count(row.lines.begin(), row.lines.end(), '\n')) - (row.gone.empty() ? 1 : 0);
    EXPECT_EQ(d.run.out, Searching("PWAD", int(ParseDirectory(d.before).size())) + row.lines + Found(deleted));
    EXPECT_EQ(d.run.exitCode, row.gone.empty() ? 7 : 0);
    if (row.gone.empty()) EXPECT_EQ(dir.Tree(), (std::map<std::string, std::string>{{"a.wad", d.before}}));
    else EXPECT_EQ(Contents(d.after), Without(d.before, row.gone));
  }
}

TEST(DoomWadDelete, FullNamesOfAnyLengthAreDeletedWhole) {
  TempDir dir;
  DoomWad w;
  w.Marker("S_START").Marker("MAP01").Marker("E1M1").Lump("LONGNAME", Pattern(100, 1)).Lump("KEEP", Pattern(100, 2));
  Deleted d = Delete(dir, w.Bytes(), {"S_START\\MAP01\\E1M1\\LONGNAME"});
  EXPECT_EQ(d.run.out, Searching("PWAD", 5) + "Deleting S_START\\MAP01\\E1M1\\LONGNAME\n" + Found(1));
  EXPECT_EQ(Contents(d.after), Without(d.before, {3}));
}
}  // namespace
