// a, af, m and mf on WAD2 and WAD3 files end to end: which entry a file
// replaces and what of it is kept, the type a new entry gets from its
// extension or from a miptex inside, names that fit and names that don't,
// padding, -wad2 and -wad3 for a new archive, and x followed by a giving
// back the same entries.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/support/bytes_builder.h"
#include "tests/support/e2e.h"

namespace {
using Tree = std::map<std::string, std::string>;

uint32_t U32At(const std::string& s, size_t at) {
  return uint32_t(uint8_t(s[at])) | uint32_t(uint8_t(s[at + 1])) << 8 | uint32_t(uint8_t(s[at + 2])) << 16 |
         uint32_t(uint8_t(s[at + 3])) << 24;
}

struct QEntry {
  std::string name;
  uint32_t offset, size, packed, flags;
  std::string data;
};

std::vector<QEntry> Directory(const std::string& wad) {
  std::vector<QEntry> out;
  uint32_t count = U32At(wad, 4), at = U32At(wad, 8);
  for (uint32_t i = 0; i < count && uint64_t(at) + 32 <= wad.size(); ++i, at += 32) {
    std::string name = wad.substr(at + 16, 16);
    name = name.substr(0, name.find('\0'));
    uint32_t offset = U32At(wad, at), size = U32At(wad, at + 4);
    std::string data = uint64_t(offset) + size <= wad.size() ? wad.substr(offset, size) : "<past the end>";
    out.push_back({name, offset, size, U32At(wad, at + 8), U32At(wad, at + 12), data});
  }
  return out;
}

std::string Digest(const std::string& data);

std::string Describe(const std::string& name, uint32_t size, uint32_t packed, uint32_t flags, const std::string& data) {
  char line[80];
  snprintf(line, sizeof line, "%s size %u packed %u flags %08X data ", name.c_str(), size, packed, flags);
  return line + Digest(data);
}

std::vector<std::string> Described(const std::vector<QEntry>& entries) {
  std::vector<std::string> out;
  for (const auto& e : entries) out.push_back(Describe(e.name, e.size, e.packed, e.flags, e.data));
  return out;
}

// A miptex of w x h pixels and its three smaller mip levels.
std::string Miptex(const std::string& name, uint32_t w, uint32_t h) {
  uint32_t pixels = w * h;
  Bytes b;
  b.Name(name, 16).U32(w).U32(h).U32(40).U32(40 + pixels).U32(40 + pixels + pixels / 4);
  b.U32(40 + pixels + pixels / 4 + pixels / 16).Raw(Pattern(pixels + pixels / 4 + pixels / 16 + pixels / 64, w));
  return b.str();
}

// Member data behind the header in entry order, the directory behind it.
struct Stored {
  std::string name;
  std::string data;
  uint32_t packed, flags;
};

std::string BuildQuakeWad(const std::string& magic, const std::vector<Stored>& entries) {
  std::string data;
  Bytes dir;
  for (const auto& e : entries) {
    dir.U32(12 + uint32_t(data.size())).U32(uint32_t(e.data.size())).U32(e.packed).U32(e.flags).Name(e.name, 16);
    data += e.data;
  }
  Bytes out;
  out.Raw(magic).U32(uint32_t(entries.size())).U32(12 + uint32_t(data.size())).Raw(data).Raw(dir.str());
  return out.str();
}

// An odd length before the directory, so that new data needs padding.
const std::vector<Stored> kEntries = {
    {"palette", Pattern(768, 1), 768, 0x40},
    {"Wall1", Miptex("Wall1", 16, 16), 380, 0x44},
    {"comp", Pattern(201, 2), 150, 0x0144},                // compressed: packedSize is not size
    {"flagged", Pattern(100, 3), 100, 0x12340042},          // pad bytes set
    {"ABCDEFGHIJKLMNOP", Pattern(120, 4), 120, 0x42},       // 16 characters, no NUL
};
const std::vector<Stored> kTwice = {{"dup", Pattern(100, 5), 100, 0x42}, {"DUP", Pattern(101, 6), 101, 0x42}};

const uint32_t kSame = 0xFFFFFFFF;  // packedSize: the file's length

struct Want {
  Want(const char* oldEntries) : old(oldEntries) {}  // "#A-B": old entries A to B as they were
  Want(std::string n, uint32_t p, uint32_t f, std::string file) : name(n), packed(p), flags(f), path(file) {}
  std::string old;
  std::string name;
  uint32_t packed = 0;  // or kSame
  uint32_t flags = 0;
  std::string path;     // the file it holds
};

struct QuakeCase {
  const char* label;
  const char* magic;
  const std::vector<Stored>* wad;
  std::vector<std::pair<std::string, std::string>> files;  // path, bytes
  std::vector<std::string> args;  // empty: the files' paths
  std::string lines;
  std::vector<Want> after;  // empty: byte for byte as before
};

std::string Digest(const std::string& data) {
  uint32_t hash = 2166136261u;
  for (char c : data) hash = (hash ^ uint8_t(c)) * 16777619u;
  char text[32];
  snprintf(text, sizeof text, "%zu/%08X", data.size(), hash);
  return text;
}

// What x writes for a WAD: every file, with a digest of its bytes.
Tree Extracted(const std::string& wad) {
  TempDir dir;
  dir.Write("w.wad", wad);
  RunResult r = Vrex(dir.path(), {"x", "w.wad"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  Tree tree;
  for (const auto& f : dir.Tree())
    if (f.first != "w.wad") tree[f.first] = Digest(f.second);
  return tree;
}

void Check(const QuakeCase& c) {
  SCOPED_TRACE(std::string(c.label) + " (" + c.magic + ")");
  TempDir dir;
  const std::string before = BuildQuakeWad(c.magic, *c.wad);
  dir.Write("a.wad", before);
  std::map<std::string, std::string> files(c.files.begin(), c.files.end());
  for (const auto& f : c.files) Put(dir, f.first, f.second);
  std::vector<std::string> args = {"a", "a.wad"};
  if (c.args.empty())
    for (const auto& f : c.files) args.push_back(f.first);
  args.insert(args.end(), c.args.begin(), c.args.end());

  size_t stored = 0, skipped = 0;
  for (size_t at = 0; at < c.lines.size(); at = c.lines.find('\n', at) + 1) {
    if (c.lines.compare(at, 6, "Adding") == 0 || c.lines.compare(at, 9, "Replacing") == 0)
      ++stored;
    else
      ++skipped;
  }
  RunResult r = Vrex(dir.path(), args);
  std::string summary = stored ? std::to_string(stored) + " files stored" : "(no files stored";
  if (skipped) summary += ", " + std::to_string(skipped) + " skipped";
  if (!stored) summary += ")";
  EXPECT_EQ(r.out, Banner() + "Searching " + c.magic + " (" + std::to_string(c.wad->size()) + " files)\n" + c.lines +
                       "\n" + summary + "\n");
  EXPECT_EQ(r.exitCode, skipped ? 9 : 0);

  const std::string after = dir.Read("a.wad");
  EXPECT_EQ(after.substr(0, 4), c.magic);
  if (c.after.empty()) {
    EXPECT_EQ(after, before) << "untouched, byte for byte";
    return;
  }
  std::vector<QEntry> old = Directory(before), now = Directory(after);
  std::vector<std::string> expected;
  Tree tree = Extracted(before);
  for (const Want& w : c.after) {
    if (!w.old.empty()) {
      size_t dash = w.old.find('-');
      size_t from = std::stoul(w.old.substr(1)), to = dash == std::string::npos ? from : std::stoul(w.old.substr(dash + 1));
      for (size_t k = from; k <= to; ++k)
        expected.push_back(Describe(old[k].name, old[k].size, old[k].packed, old[k].flags, old[k].data));
      continue;
    }
    const std::string& bytes = files.at(w.path);
    uint32_t size = uint32_t(bytes.size());
    expected.push_back(Describe(w.name, size, w.packed == kSame ? size : w.packed, w.flags, bytes));
    tree[w.name] = Digest(bytes);
  }
  EXPECT_EQ(Described(now), expected);
  EXPECT_EQ(U32At(after, 8) % 4, 0u) << "the last data padded too";
  for (size_t i = 0; i < now.size(); ++i)
    if (i >= old.size() || now[i].offset != old[i].offset) {
      EXPECT_EQ(now[i].offset % 4, 0u) << now[i].name;
    }
  EXPECT_EQ(Extracted(after), tree) << "x of the result";
}

std::string Miptex16(const std::string& name) { return Miptex(name, 16, 16); }

// The same file, a byte short of its last mip level: not a miptex.
std::string Short(const std::string& miptex) { return miptex.substr(0, miptex.size() - 1); }

class QuakeWadAdd : public ::testing::TestWithParam<const char*> {
 protected:
  bool Wad3() const { return std::string(GetParam()) == "WAD3"; }
  uint32_t MiptexType() const { return Wad3() ? 0x43 : 0x44; }
};

// A file named as x wrote it replaces that entry in place: name and flags
// kept, size the file's length, packedSize too unless the entry is
// compressed.
TEST_P(QuakeWadAdd, ReplacingKeepsNameAndFlags) {
  const std::string wall = Miptex16("new"), text = Pattern(301, 7), small = Pattern(3, 8);
  const QuakeCase cases[] = {
      {"letter case ignored, any folder", GetParam(), &kEntries, {{"sub/WALL1", wall}}, {}, "Replacing Wall1\n",
       {{"#0"}, {"Wall1", kSame, 0x44, "sub/WALL1"}, {"#2-4"}}},
      {"a known extension dropped", GetParam(), &kEntries, {{"wall1.lmp", text}}, {}, "Replacing Wall1\n",
       {{"#0"}, {"Wall1", kSame, 0x44, "wall1.lmp"}, {"#2-4"}}},
      {"compressed", GetParam(), &kEntries, {{"comp", text}}, {}, "Replacing comp\n",
       {{"#0-1"}, {"comp", 150, 0x0144, "comp"}, {"#3-4"}}},
      {"every byte of flags", GetParam(), &kEntries, {{"FLAGGED", small}}, {}, "Replacing flagged\n",
       {{"#0-2"}, {"flagged", kSame, 0x12340042, "FLAGGED"}, {"#4"}}},
      {"a stored name of 16 characters", GetParam(), &kEntries, {{"abcdefghijklmnop", text}}, {},
       "Replacing ABCDEFGHIJKLMNOP\n", {{"#0-3"}, {"ABCDEFGHIJKLMNOP", kSame, 0x42, "abcdefghijklmnop"}}},
      {"a name stored twice", GetParam(), &kTwice, {{"Dup", text}}, {}, "Ambiguous name Dup - skipped\n", {}},
      {"the same entry twice", GetParam(), &kEntries, {{"comp", text}, {"x/COMP", small}}, {},
       "Replacing comp\nDuplicate name x/COMP - skipped\n", {{"#0-1"}, {"comp", 150, 0x0144, "comp"}, {"#3-4"}}},
  };
  for (const auto& c : cases) Check(c);
}

// A new entry: its name without a known extension, which sets the type;
// without one a miptex inside makes it a miptex.
TEST_P(QuakeWadAdd, NewEntriesTakeTheirTypeFromTheExtensionOrAMiptexInside) {
  const std::string pal = Pattern(768, 9), pic = Pattern(101, 10), font = Pattern(259, 11), tex = Miptex16("x");
  QuakeCase byExtension = {"known extensions", GetParam(), &kEntries,
                           {{"New.Pal", pal}, {"dir/conback.lmp", pic}, {"Brick.MIP", pic}, {"conchars.fnt", font}},
                           {}, "", {{"#0-4"}, {"New", kSame, 0x40, "New.Pal"}, {"conback", kSame, 0x42, "dir/conback.lmp"},
                                    {"Brick", kSame, MiptexType(), "Brick.MIP"}}};
  byExtension.lines = "Adding New\nAdding conback\nAdding Brick\n";
  if (Wad3()) {
    byExtension.lines += "Adding conchars\n";
    byExtension.after.push_back({"conchars", kSame, 0x46, "conchars.fnt"});
  } else {
    byExtension.lines += "Unknown lump type conchars.fnt - skipped\n";  // no font type in WAD2
  }
  const QuakeCase cases[] = {
      byExtension,
      {"a miptex inside", GetParam(), &kEntries,
       {{"stone", tex}, {"stone.tex", tex}, {"short", Short(tex)}, {"flat", Miptex("flat", 0, 16)},
        {"readme.txt", Pattern(500, 12)}},
       {},
       "Adding stone\nAdding stone.tex\nUnknown lump type short - skipped\nUnknown lump type flat - skipped\n"
       "Unknown lump type readme.txt - skipped\n",
       {{"#0-4"}, {"stone", kSame, MiptexType(), "stone"}, {"stone.tex", kSame, MiptexType(), "stone.tex"}}},
      {"15 characters fit, 16 don't", GetParam(), &kEntries,
       {{"ABCDEFGHIJKLMNO.lmp", pic}, {"QBCDEFGHIJKLMNOP.lmp", pic}, {"zbcdefghijklmno", tex}, {"QBCDEFGHIJKLMNOP", tex}},
       {},
       "Adding ABCDEFGHIJKLMNO\nName too long QBCDEFGHIJKLMNOP.lmp - skipped\nAdding zbcdefghijklmno\n"
       "Name too long QBCDEFGHIJKLMNOP - skipped\n",
       {{"#0-4"}, {"ABCDEFGHIJKLMNO", kSame, 0x42, "ABCDEFGHIJKLMNO.lmp"},
        {"zbcdefghijklmno", kSame, MiptexType(), "zbcdefghijklmno"}}},
      {"one new name twice, case ignored", GetParam(), &kEntries, {{"sky.lmp", pic}, {"SKY.pal", pal}}, {},
       "Adding sky\nDuplicate name SKY.pal - skipped\n", {{"#0-4"}, {"sky", kSame, 0x42, "sky.lmp"}}},
  };
  for (const auto& c : cases) Check(c);
}

// What x writes, a puts back: every entry as it was but for its offset;
// x with a pattern writes upper-cased names, which replace the same entries.
TEST_P(QuakeWadAdd, AddingWhatExtractionWroteGivesTheSameEntries) {
  for (const char* pattern : {"*"}) {
    SCOPED_TRACE(*pattern ? "x with a pattern" : "x");
    TempDir dir;
    const std::string before = BuildQuakeWad(GetParam(), kEntries);
    dir.Write("a.wad", before);
    std::vector<std::string> x = {"x", "a.wad"};
    if (*pattern) x.push_back(pattern);
    ASSERT_EQ(Vrex(dir.path(), x).exitCode, 0);
    std::vector<std::string> args = {"a", "a.wad"};
    for (const auto& f : dir.Tree())
      if (f.first != "a.wad") args.push_back(f.first);
    RunResult r = Vrex(dir.path(), args);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("\n5 files stored\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Adding"), std::string::npos) << r.out;
    std::string after = dir.Read("a.wad");
    EXPECT_EQ(after.substr(0, 4), GetParam());
    EXPECT_EQ(Described(Directory(after)), Described(Directory(before)));
  }
}

// Dead space reclaimed behind a replacing run keeps the directory in its
// order, though the data lie in another, and the data on 4-byte boundaries.
TEST_P(QuakeWadAdd, ReclaimingDeadSpaceKeepsTheDirectoryOrder) {
  TempDir dir;
  const std::string big = Pattern(40000, 13), a = Pattern(120, 14), b = Pattern(130, 15);
  Bytes w;
  w.Raw(GetParam()).U32(3).U32(12 + 120 + 130 + 40000).Raw(a).Raw(b).Raw(big);
  w.U32(12 + 250).U32(40000).U32(40000).U32(0x44).Name("big", 16);
  w.U32(12 + 120).U32(130).U32(130).U32(0x42).Name("b", 16);
  w.U32(12).U32(120).U32(120).U32(0x40).Name("a", 16);
  dir.Write("a.wad", w.str());
  dir.Write("big", "tiny");
  RunResult r = Vrex(dir.path(), {"a", "a.wad", "big"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, Banner() + "Searching " + GetParam() + " (3 files)\nReplacing big\n\n1 files stored\n");
  std::string after = dir.Read("a.wad");
  // The moved data keeps its 4-byte boundary: 2 bytes of padding behind b.
  EXPECT_EQ(after.size(), 12u + 120 + 130 + 2 + 4 + 3 * 32) << "dead space reclaimed";
  EXPECT_EQ(Described(Directory(after)),
            (std::vector<std::string>{Describe("big", 4, 4, 0x44, "tiny"), Describe("b", 130, 130, 0x42, b),
                                      Describe("a", 120, 120, 0x40, a)}));
}

INSTANTIATE_TEST_SUITE_P(Magic, QuakeWadAdd, ::testing::Values("WAD2", "WAD3"));

// A missing archive is a WAD2 or WAD3 only with -wad2 or -wad3 among the
// names (any letter case); without, a .wad is a Doom PWAD.
TEST(QuakeWadCreate, TheOptionChoosesTheKind) {
  const std::string tex = Miptex16("t"), pic = Pattern(101, 16);
  struct Case {
    const char* option;
    const char* magic;
    std::string lines;
    std::vector<std::string> entries;
  } cases[] = {
      {"-wad2", "WAD2", "Adding pic\nAdding tex\n",
       {Describe("pic", 101, 101, 0x42, pic), Describe("tex", 380, 380, 0x44, tex)}},
      {"-WAD3", "WAD3", "Adding pic\nAdding tex\n",
       {Describe("pic", 101, 101, 0x42, pic), Describe("tex", 380, 380, 0x43, tex)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.option);
    TempDir dir;
    dir.Write("pic.lmp", pic);
    dir.Write("tex", tex);
    RunResult r = Vrex(dir.path(), {"a", "new.wad", "pic.lmp", c.option, "tex"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, Banner() + "Creating new.wad\n" + c.lines + "\n2 files stored\n");
    std::string made = dir.Read("new.wad");
    EXPECT_EQ(made.substr(0, 4), c.magic);
    EXPECT_EQ(Described(Directory(made)), c.entries);
    EXPECT_EQ(Directory(made)[1].offset % 4, 0u);
    EXPECT_EQ(Vrex(dir.path(), {"l", "new.wad"}).exitCode, 0);
  }

  TempDir doom;
  doom.Write("pic.lmp", pic);
  RunResult r = Vrex(doom.path(), {"a", "new.wad", "pic.lmp"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, Banner() + "Creating new.wad\nAdding PIC\n\n1 files stored\n");
  EXPECT_EQ(doom.Read("new.wad").substr(0, 4), "PWAD");

  // An existing archive keeps its kind whatever the option.
  doom.Write("tex", tex);
  r = Vrex(doom.path(), {"a", "new.wad", "-wad3", "tex"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, Banner() + "Searching PWAD (1 files)\nAdding TEX\n\n1 files stored\n");
  EXPECT_EQ(doom.Read("new.wad").substr(0, 4), "PWAD");
}
}  // namespace
