// a on WAD2 and WAD3 files end to end: which entry a file replaces and what
// of it is kept, the type a new entry gets from its extension or from a
// miptex inside, names that fit, padding, dead space reclaimed, -wad2 and
// -wad3 for a new archive, and x followed by a giving back the same entries.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/support/bytes_builder.h"
#include "tests/support/doom_wad_image.h"
#include "tests/support/e2e.h"
#include "tests/support/wad_add_run.h"

namespace {
std::string Describe(const std::string& name, uint32_t packed, uint32_t flags, const std::string& data) {
  char line[80];
  snprintf(line, sizeof line, "%s packed %u flags %08X data ", name.c_str(), packed, flags);
  return line + Digest(data);
}

// Each entry of a WAD2 or WAD3 described (name, packedSize, flags, bytes),
// and where its data start.
std::vector<std::string> Directory(const std::string& wad, std::vector<uint32_t>* offsets = nullptr) {
  std::vector<std::string> out;
  const uint32_t count = wad.size() < 12 ? 0 : WadU32(wad, 4);
  for (uint32_t i = 0, at = count ? WadU32(wad, 8) : 0; i < count && at + 32ull <= wad.size(); ++i, at += 32) {
    const uint32_t offset = WadU32(wad, at), size = WadU32(wad, at + 4);
    const std::string name = wad.substr(at + 16, 16);
    out.push_back(Describe(name.substr(0, name.find('\0')), WadU32(wad, at + 8), WadU32(wad, at + 12),
                           offset + uint64_t(size) <= wad.size() ? wad.substr(offset, size) : "<past the end>"));
    if (offsets) offsets->push_back(offset);
  }
  return out;
}

// A miptex of w x h pixels and its three smaller mip levels.
std::string Miptex(const std::string& name, uint32_t w, uint32_t h) {
  const uint32_t pixels = w * h;
  Bytes b;
  b.Name(name, 16).U32(w).U32(h).U32(40).U32(40 + pixels).U32(40 + pixels + pixels / 4);
  b.U32(40 + pixels + pixels / 4 + pixels / 16).Raw(Pattern(pixels + pixels / 4 + pixels / 16 + pixels / 64, w));
  return b.str();
}

struct Stored {
  std::string name, data;
  uint32_t packed, flags;
};

// The entries' data behind the header in entry order, the directory behind.
std::string BuildQuakeWad(const std::string& magic, const std::vector<Stored>& entries) {
  std::string data;
  Bytes dir;
  for (const auto& e : entries) {
    dir.U32(12 + uint32_t(data.size())).U32(uint32_t(e.data.size())).U32(e.packed).U32(e.flags).Name(e.name, 16);
    data += e.data;
  }
  return Bytes().Raw(magic).U32(uint32_t(entries.size())).U32(12 + uint32_t(data.size())).Raw(data).Raw(dir.str()).str();
}

// Data packed without padding (comp has an odd length), so that new or moved
// data needs some.
const std::vector<Stored> kEntries = {
    {"palette", Pattern(768, 1), 768, 0x40},
    {"Wall1", Miptex("Wall1", 16, 16), 380, 0x44},
    {"comp", Pattern(201, 2), 150, 0x0144},             // compressed: packedSize is not size
    {"flagged", Pattern(100, 3), 100, 0x12340042},       // pad bytes set
    {"ABCDEFGHIJKLMNOP", Pattern(120, 4), 120, 0x42},    // 16 characters, no NUL
};
const std::vector<Stored> kTwice = {{"dup", Pattern(100, 5), 100, 0x42}, {"DUP", Pattern(101, 6), 101, 0x42}};

// A file for each "PATH:SIZE" (bytes distinct for each path) or "PATH:mip"
// (a miptex of 16 x 16), "PATH:short" (the same a byte short of its last mip
// level), "PATH:flat" (a miptex 0 pixels wide).
std::vector<std::pair<std::string, std::string>> Files(const std::string& described) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& f : Split(described)) {
    const std::string path = f.substr(0, f.rfind(':')), kind = f.substr(f.rfind(':') + 1);
    const std::string mip = Miptex(path, kind == "flat" ? 0 : 16, 16);
    out.push_back({path, kind == "mip" || kind == "flat" ? mip : kind == "short" ? mip.substr(0, mip.size() - 1)
                                                                                : Pattern(std::stoul(kind), Fnv(f))});
  }
  return out;
}

struct Row {
  const char* label;
  const std::vector<Stored>* wad;  // null: a.wad does not exist
  std::string cmd;                 // the letter, then the names behind the archive (the letter alone: the files)
  std::string files;               // as Files takes them
  std::string lines;               // between the heading and the summary
  // The directory afterwards: "#A-B" old entries A to B, "NAME<PATH,FLAGS" an
  // entry holding the file PATH (flags in hex, "mip" the miptex type), with
  // ",PACKED" one whose packedSize is not the file's length; empty: the WAD
  // byte for byte as it was.
  std::string after;
};

// Runs each row; returns the WAD the last one left.
std::string Check(const std::string& magic, std::initializer_list<Row> rows) {
  std::string after;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.label);
    const std::string before = r.wad ? BuildQuakeWad(magic, *r.wad) : "";
    const auto files = Files(r.files);
    after = RunAdd(before, files, r.cmd, r.lines);
    if (r.after.empty()) {
      EXPECT_EQ(after, before) << "untouched, byte for byte";
      continue;
    }
    EXPECT_EQ(after.substr(0, 4), magic);
    std::map<std::string, std::string> bytes(files.begin(), files.end());
    std::vector<uint32_t> was, now;
    std::vector<std::string> old = Directory(before, &was), want;
    auto x = r.wad ? Extracted(before) : std::map<std::string, std::string>();
    for (const auto& e : Split(r.after)) {
      if (e[0] == '#') {
        for (size_t k = std::stoul(e.substr(1)); k <= std::stoul(e.substr(e.find_last_of("#-") + 1)); ++k)
          want.push_back(old.at(k));
        continue;
      }
      const std::string name = e.substr(0, e.find('<'));
      const std::vector<std::string> f = Split(e.substr(e.find('<') + 1), ',');
      const std::string& data = bytes.at(f[0]);
      const uint32_t flags = f[1] == "mip" ? (magic == "WAD3" ? 0x43 : 0x44) : std::stoul(f[1], nullptr, 16);
      want.push_back(Describe(name, f.size() > 2 ? std::stoul(f[2]) : data.size(), flags, data));
      x[name] = Digest(data);
    }
    EXPECT_EQ(Directory(after, &now), want);
    EXPECT_EQ(WadU32(after, 8) % 4, 0u) << "the directory on a multiple of 4 (the last data padded)";
    for (size_t i = 0; i < now.size(); ++i)
      EXPECT_TRUE((i < was.size() && now[i] == was[i]) || now[i] % 4 == 0) << "new or moved data at " << now[i];
    EXPECT_EQ(Extracted(after), x) << "x of the result";
  }
  return after;
}

class QuakeWadAdd : public ::testing::TestWithParam<std::string> {};

// A file named as x wrote it replaces that entry in place: name and flags
// kept, size the file's length, packedSize too unless the entry is compressed.
// (Both replacing rows leave enough dead space for it to be reclaimed.)
TEST_P(QuakeWadAdd, ReplacingKeepsNameAndFlags) {
  Check(GetParam(), {
      {"letter case ignored, any folder; every byte of flags; a stored name of 16 characters", &kEntries, "a",
       "sub/WALL1:mip FLAGGED:3 abcdefghijklmnop:301", "Replacing Wall1\nReplacing flagged\nReplacing ABCDEFGHIJKLMNOP\n",
       "#0 Wall1<sub/WALL1,44 #2 flagged<FLAGGED,12340042 ABCDEFGHIJKLMNOP<abcdefghijklmnop,42"},
      {"a known extension dropped; compressed; the same entry twice", &kEntries, "a", "wall1.lmp:301 comp:301 x/COMP:3",
       "Replacing Wall1\nReplacing comp\nDuplicate name x/COMP - skipped\n",
       "#0 Wall1<wall1.lmp,44 comp<comp,144,150 #3-4"},
      {"a name stored twice", &kTwice, "a", "Dup:301", "Ambiguous name Dup - skipped\n", ""},
  });
}

// A new entry: its name without a known extension, which sets the type;
// without one a miptex inside makes it a miptex.
TEST_P(QuakeWadAdd, NewEntriesTakeTheirTypeFromTheExtensionOrAMiptexInside) {
  const bool wad3 = GetParam() == "WAD3";  // WAD2 has no font type
  Check(GetParam(), {
      {"known extensions", &kEntries, "a", "New.Pal:768 dir/conback.lmp:101 Brick.MIP:101 conchars.fnt:259",
       "Adding New\nAdding conback\nAdding Brick\n" +
           std::string(wad3 ? "Adding conchars\n" : "Unknown lump type conchars.fnt - skipped\n"),
       "#0-4 New<New.Pal,40 conback<dir/conback.lmp,42 Brick<Brick.MIP,mip" +
           std::string(wad3 ? " conchars<conchars.fnt,46" : "")},
      {"a miptex inside", &kEntries, "a", "stone:mip stone.tex:mip short:short flat:flat readme.txt:500",
       "Adding stone\nAdding stone.tex\nUnknown lump type short - skipped\nUnknown lump type flat - skipped\n"
       "Unknown lump type readme.txt - skipped\n",
       "#0-4 stone<stone,mip stone.tex<stone.tex,mip"},
      {"15 characters fit, 16 don't; one new name twice, case ignored", &kEntries, "a",
       "ABCDEFGHIJKLMNO.lmp:101 QBCDEFGHIJKLMNOP.lmp:101 zbcdefghijklmno:mip QBCDEFGHIJKLMNOP:mip sky.lmp:101 "
       "SKY.pal:768",
       "Adding ABCDEFGHIJKLMNO\nName too long QBCDEFGHIJKLMNOP.lmp - skipped\nAdding zbcdefghijklmno\n"
       "Name too long QBCDEFGHIJKLMNOP - skipped\nAdding sky\nDuplicate name SKY.pal - skipped\n",
       "#0-4 ABCDEFGHIJKLMNO<ABCDEFGHIJKLMNO.lmp,42 zbcdefghijklmno<zbcdefghijklmno,mip sky<sky.lmp,42"},
  });
}

// A missing archive is a WAD2 or WAD3 only with -wad2 or -wad3 (any letter
// case) among the names, the last creation option winning; else a .wad is a
// Doom PWAD (see the Doom WAD tests).
TEST_P(QuakeWadAdd, AnOptionMakesANewArchiveOfItsKind) {
  Check(GetParam(), {{"a new archive", nullptr, GetParam() == "WAD3" ? "a pic.lmp -iwad -WAD3 tex" : "a pic.lmp -iwad -wad2 tex",
                      "pic.lmp:101 tex:mip", "Adding pic\nAdding tex\n", "pic<pic.lmp,42 tex<tex,mip"}});
}

// What x writes with a pattern (upper-cased names), a puts back: every entry
// as it was but for its offset.
TEST_P(QuakeWadAdd, AddingWhatExtractionWroteGivesTheSameEntries) {
  const std::string before = BuildQuakeWad(GetParam(), kEntries), after = ExtractAndAddBack(before, "*", 5);
  EXPECT_EQ(after.substr(0, 4), GetParam());
  EXPECT_EQ(Directory(after), Directory(before));
}

// Replacing the first two entries leaves dead space in front, which is
// reclaimed: the rest move down, each from a multiple of 4, the new data
// behind them, and the directory keeps its order though the data now lie in
// another.
TEST_P(QuakeWadAdd, ReclaimingDeadSpaceKeepsTheDirectoryOrder) {
  const std::string after = Check(GetParam(), {{"the first two replaced", &kEntries, "a", "palette.pal:3 wall1:3",
                                                "Replacing palette\nReplacing Wall1\n",
                                                "palette<palette.pal,40 Wall1<wall1,44 #2-4"}});
  std::vector<uint32_t> at;
  Directory(after, &at);
  EXPECT_EQ(at, (std::vector<uint32_t>{436, 440, 12, 216, 316})) << "comp 201 bytes, flagged 100, ABCD... 120";
  EXPECT_EQ(after.size(), 444u + 5 * 32) << "every byte once, but for the padding";
}

INSTANTIATE_TEST_SUITE_P(Magic, QuakeWadAdd, ::testing::Values("WAD2", "WAD3"));
}  // namespace
