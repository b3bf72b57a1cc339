// LOD archives end to end: listing, stored and compressed members, testing,
// hostile sizes and streams; adding (sorted table, type words, zlib where
// smaller, the room of a new archive and its limit) and deleting.
#include <gtest/gtest.h>
#include <zlib.h>

#include <vector>

#include "core/bytes.h"
#include "tests/support/archive_members.h"
#include "tests/support/faults.h"
#include "tests/support/bytes_builder.h"
#include "tests/support/e2e.h"

namespace {
const std::string kHeading = "\nname\t\t\tsize\treal\tseek\tflags\n" + std::string(49, '-') + "\n";

std::string Zlib(const std::string& data) {
  uLongf length = compressBound(data.size());
  std::string out(length, '\0');
  compress(reinterpret_cast<Bytef*>(&out[0]), &length, reinterpret_cast<const Bytef*>(data.data()),
           data.size());
  out.resize(length);
  return out;
}

// Crafted LOD archives: header, directory at 92, member bytes behind it.
class Lod {
 public:
  Lod& Stored(const std::string& name, const std::string& data, uint32_t flags = 0) {
    return Member(name, data, uint32_t(data.size()), 0, flags);
  }
  Lod& Packed(const std::string& name, const std::string& data, uint32_t flags = 0) {
    std::string stream = Zlib(data);
    return Member(name, stream, uint32_t(data.size()), uint32_t(stream.size()), flags);
  }
  // An entry whose stored bytes are `bytes`, with the given sizes.
  Lod& Member(const std::string& name, const std::string& bytes, uint32_t realSize, uint32_t packedSize,
              uint32_t flags = 0) {
    entries_.push_back({name, bytes, 0, realSize, packedSize, flags, false});
    return *this;
  }
  // An entry with an explicit offset and no bytes of its own.
  Lod& Entry(const std::string& name, uint32_t offset, uint32_t realSize, uint32_t packedSize) {
    entries_.push_back({name, "", offset, realSize, packedSize, 0, true});
    return *this;
  }
  std::string Bytes() const {
    uint32_t at = 92 + 32 * uint32_t(entries_.size());
    ::Bytes dir, data;
    for (const auto& e : entries_) {
      dir.Name(e.name, 16).U32(e.raw ? e.offset : at).U32(e.realSize).U32(e.flags).U32(e.packedSize);
      data.Raw(e.bytes);
      at += uint32_t(e.bytes.size());
    }
    ::Bytes out;
    out.Raw(std::string("LOD\0", 4)).U32(200).U32(uint32_t(entries_.size())).Fill(80);
    return out.str() + dir.str() + data.str();
  }

 private:
  struct E {
    std::string name, bytes;
    uint32_t offset, realSize, packedSize, flags;
    bool raw;
  };
  std::vector<E> entries_;
};

// Listing rows: the name padded to 16 columns, a tab, the packed size padded
// to 7, a tab, the real size padded to 7, a tab, the offset as 8 hex digits,
// a space, the flags in hex. Where a compressed stream comes before a
// column, its size decides the column, so those rows are put together from
// the pieces below.
std::string Pad7(const std::string& s) { return s + std::string(s.size() < 7 ? 7 - s.size() : 0, ' '); }

std::string Hex8(uint32_t v) {
  std::string out(8, '0');
  for (int i = 7; i >= 0; --i, v >>= 4) out[i] = "0123456789ABCDEF"[v & 15];
  return out;
}

std::string Searching(int n) { return Banner() + "Searching  LOD (" + std::to_string(n) + " files)\n"; }

std::map<std::string, std::string> With(std::map<std::string, std::string> tree, const std::string& archive,
                                        const std::string& bytes) {
  tree[archive] = bytes;
  return tree;
}

TEST(Lod, ListsHeadingAndOneLinePerMember) {
  TempDir dir;
  std::string text = Pattern(300, 1);
  std::string stream = Zlib(text);
  std::string lod = Lod()
                        .Stored("plain.txt", "hello", 0x9C)
                        .Packed("PackedFullWidth!", text, 0xFFFFFFFF)
                        .Stored("z", "", 0x80)
                        .Bytes();
  dir.Write("a.lod", lod);
  RunResult r = Vrex(dir.path(), {"l", "a.lod"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, Searching(3) + kHeading +
                       "plain.txt       \t0      \t5      \t000000BC 9C\n"
                       "PackedFullWidth!\t" + Pad7(std::to_string(stream.size())) + "\t300    \t000000C1 FFFFFFFF\n" +
                       "z               \t0      \t0      \t" + Hex8(uint32_t(0xC1 + stream.size())) + " 80\n" +
                       "\n3 matches found\n");

  RunResult x = Vrex(dir.path(), {"x", "a.lod"});
  EXPECT_EQ(x.out, Searching(3) + "Extracting plain.txt\nUnzipping PackedFullWidth!\nExtracting z\n\n3 matches found\n");
  EXPECT_EQ(dir.Tree(), With({{"plain.txt", "hello"}, {"PackedFullWidth!", text}, {"z", ""}}, "a.lod", lod));
}

TEST(Lod, PatternsListAndExtractUnderTheStoredNames) {
  TempDir dir;
  std::string lod = Lod().Packed("Read.me", "packed text").Stored("Data.bin", "stored").Stored("skip", "x").Bytes();
  dir.Write("a.lod", lod);
  uint32_t streamSize = uint32_t(Zlib("packed text").size());
  RunResult l = Vrex(dir.path(), {"l", "a.lod", "read.*", "*.BIN"});
  EXPECT_EQ(l.out, Searching(3) + kHeading +
                       "Read.me         \t" + Pad7(std::to_string(streamSize)) + "\t11     \t000000BC 00\n" +
                       "Data.bin        \t0      \t6      \t" + Hex8(188 + streamSize) + " 00\n" +
                       "\n2 matches found\n");

  RunResult x = Vrex(dir.path(), {"x", "a.lod", "read.*", "*.BIN"});
  EXPECT_EQ(x.out, Searching(3) + "Unzipping READ.ME\nExtracting DATA.BIN\n\n2 matches found\n");
  EXPECT_EQ(dir.Tree(), With({{"Read.me", "packed text"}, {"Data.bin", "stored"}}, "a.lod", lod));

  TempDir plain;
  plain.Write("a.lod", lod);
  RunResult e = Vrex(plain.path(), {"e", "a.lod"});
  EXPECT_EQ(e.out, Searching(3) + "Unzipping Read.me\nExtracting Data.bin\nExtracting skip\n\n3 matches found\n");
  EXPECT_EQ(plain.Tree(), With({{"Read.me", "packed text"}, {"Data.bin", "stored"}, {"skip", "x"}}, "a.lod", lod));
}

TEST(Lod, CompressedMembersKeepTheirWholeNameUnderEAndXStoredOnesFollowTheFolderRule) {
  for (const char* letter : {"e", "x"}) {
    TempDir dir;
    std::string lod = Lod().Packed("sub\\packed.bin", "zzzzzz").Stored("sub\\stored.bin", "ss").Bytes();
    dir.Write("a.lod", lod);
    RunResult first = Vrex(dir.path(), {letter, "a.lod"});
    // No folder is made for a compressed member: without "sub" it can't be opened.
    EXPECT_EQ(first.out, Searching(2) + "Unzipping sub\\packed.bin\nCan't open sub\\packed.bin - skiped\n" +
                             "Extracting sub\\stored.bin\n\n2 matches found\n");
    TempDir again;
    again.Write("a.lod", lod);
    ASSERT_EQ(system(("mkdir '" + again.Join("sub") + "'").c_str()), 0);
    RunResult r = Vrex(again.path(), {letter, "a.lod"});
    EXPECT_EQ(r.out, Searching(2) + "Unzipping sub\\packed.bin\nExtracting sub\\stored.bin\n\n2 matches found\n");
    std::map<std::string, std::string> expected = {{"sub/", ""}, {"sub/packed.bin", "zzzzzz"}};
    if (std::string(letter) == "x") expected["sub/stored.bin"] = "ss";
    else expected["stored.bin"] = "ss";
    EXPECT_EQ(again.Tree(), With(expected, "a.lod", lod)) << letter;
  }
}

TEST(Lod, BadStreamsAreUncompressErrorsThatLeaveNoFile) {
  TempDir dir;
  std::string text = Pattern(2000, 7);
  std::string corrupt = Zlib(text);
  corrupt[corrupt.size() / 2] ^= 0x55;
  std::string lod = Lod()
                        .Member("notzlib", "plain bytes", 11, 11)          // same sizes, not a stream
                        .Member("toolong", Zlib("0123456789"), 5, uint32_t(Zlib("0123456789").size()))
                        .Member("corrupt", corrupt, 2000, uint32_t(corrupt.size()))
                        .Member("short", Zlib("abc"), 100, uint32_t(Zlib("abc").size()))
                        .Member("empty", Zlib(""), 0, uint32_t(Zlib("").size()))
                        .Bytes();
  dir.Write("a.lod", lod);
  RunResult r = Vrex(dir.path(), {"x", "a.lod"});
  EXPECT_EQ(r.exitCode, 4);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, Searching(5) + "Unzipping notzlib\n\t--- uncompress error ---\n" +
                       "Unzipping toolong\n\t--- uncompress error ---\n" +
                       "Unzipping corrupt\n\t--- uncompress error ---\n" + "Unzipping short\nUnzipping empty\n" +
                       "\n5 matches found\n");
  // A stream shorter than realSize is written at its own length.
  EXPECT_EQ(dir.Tree(), With({{"short", "abc"}, {"empty", ""}}, "a.lod", lod));
}

TEST(Lod, AStreamMayInflateToRealSizeOrLessButNeverMore) {
  const std::string ten = "0123456789";
  const std::string big = Pattern(5000, 11);
  struct Row {
    const char* name;
    std::string data;   // what the stream inflates to
    uint32_t realSize;  // what the directory promises
    const char* message;  // none: the member is written whole
  };
  const Row rows[] = {
      {"zero", "A", 0, "\t--- uncompress error ---\n"},
      {"zerobig", big, 0, "\t--- uncompress error ---\n"},
      {"onemore", ten, 9, "\t--- uncompress error ---\n"},
      {"onemorebig", big, 4999, "\t--- uncompress error ---\n"},
      {"exact", ten, 10, ""},
      {"exactone", "A", 1, ""},
      {"fiveless", ten, 15, ""},
  };
  for (const Row& row : rows) {
    std::string stream = Zlib(row.data);
    std::string lod = Lod().Member(row.name, stream, row.realSize, uint32_t(stream.size())).Bytes();
    TempDir dir;
    dir.Write("a.lod", lod);

    const int exitCode = *row.message ? 4 : 0;
    RunResult t = Vrex(dir.path(), {"t", "a.lod"});
    EXPECT_EQ(t.exitCode, exitCode) << row.name;
    EXPECT_EQ(t.err, "") << row.name;
    EXPECT_EQ(t.out, Searching(1) + "Testing " + row.name + "\n" + row.message + "\n1 matches found\n") << row.name;
    EXPECT_EQ(dir.Tree(), With({}, "a.lod", lod)) << row.name;

    RunResult x = Vrex(dir.path(), {"x", "a.lod"});
    EXPECT_EQ(x.exitCode, exitCode) << row.name;
    EXPECT_EQ(x.err, "") << row.name;
    EXPECT_EQ(x.out, Searching(1) + "Unzipping " + row.name + "\n" + row.message + "\n1 matches found\n") << row.name;
    EXPECT_EQ(dir.Tree(), With(*row.message ? std::map<std::string, std::string>{}
                                            : std::map<std::string, std::string>{{row.name, row.data}},
                               "a.lod", lod))
        << row.name;
  }
}

TEST(Lod, TestInflatesCompressedMembersAndWritesNothing) {
  TempDir dir;
  std::string text = Pattern(5000, 3);
  std::string stream = Zlib(text);
  std::string corrupt = stream;
  corrupt[corrupt.size() / 2] ^= 0x55;
  std::string truncated = stream.substr(0, stream.size() - 10);
  std::string lod = Lod()
                        .Member("corrupt", corrupt, 5000, uint32_t(corrupt.size()))
                        .Member("truncated", truncated, 5000, uint32_t(truncated.size()))
                        .Stored("stored", "abc")
                        .Entry("pastend", 100, 10, 0xFFFFFF00)
                        .Packed("good", text)  // last in the file: fewer than realSize bytes follow it
                        .Bytes();
  dir.Write("a.lod", lod);
  RunResult r = Vrex(dir.path(), {"t", "a.lod"});
  EXPECT_EQ(r.exitCode, 4);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, Searching(5) + "Testing corrupt\n\t--- uncompress error ---\n" +
                       "Testing truncated\n\t--- uncompress error ---\n" + "Testing stored\n" +
                       "Testing pastend\n\t--- read error ---\n" + "Testing good\n" + "\n5 matches found\n");
  EXPECT_EQ(dir.Tree(), With({}, "a.lod", lod));
}

TEST(Lod, HostileSizesAllocateNothingLarge) {
  TempDir dir;
  std::string lod = Lod()
                        .Member("huge", Zlib("tiny"), 0xFFFFFFFF, uint32_t(Zlib("tiny").size()))
                        .Entry("pastend", 120, 50, 0x7FFFFFF0)
                        .Entry("storedpast", 0xFFFFFF00, 0x1000000, 0)
                        .Bytes();
  dir.Write("a.lod", lod);
  Faults faults = {};
  faults.failAllocAbove = 1 << 20;
  for (const char* letter : {"x", "t"}) {
    RunResult r = VrexInProcess(dir.path(), {letter, "a.lod"}, &faults);
    bool test = std::string(letter) == "t";
    std::string verb = test ? "Testing " : "Unzipping ";
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_EQ(r.out, Searching(3) + verb + "huge\n\t--- uncompress error ---\n" + verb +
                         "pastend\n\t--- read error ---\n" + (test ? "Testing" : "Extracting") +
                         " storedpast\n\t--- read error ---\n\n3 matches found\n")
        << letter;
  }
  EXPECT_EQ(dir.Tree(), With({}, "a.lod", lod));
}

// A compressed member is read and inflated through two buffers, each at most
// the member's own size: a small one that can't have them is skipped (the
// message names both), a large one streams under the same kind of limit.
TEST(Lod, MembersStreamThroughBuffersNoLargerThanThemselves) {
  TempDir dir;
  std::string text(20000, 'a');
  std::string stream = Zlib(text);
  std::string large = Pattern(4 << 20, 9);
  std::string lod = Lod().Packed("big", text).Packed("large", large).Bytes();
  dir.Write("a.lod", lod);
  Faults faults = {};
  faults.failAllocAbove = 10000;
  RunResult r = VrexInProcess(dir.path(), {"x", "a.lod", "big"}, &faults);
  EXPECT_EQ(r.exitCode, 4);
  EXPECT_EQ(r.out, Searching(2) + "Unzipping BIG\nCan't allocate " + std::to_string(20000 + stream.size()) +
                       "l bytes for BIG - skiped\n\n1 matches found\n");
  EXPECT_EQ(dir.Tree(), With({}, "a.lod", lod));

  faults = {};
  faults.failAllocAbove = 1 << 20;
  r = VrexInProcess(dir.path(), {"x", "a.lod"}, &faults);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(dir.Tree(), With({{"big", text}, {"large", large}}, "a.lod", lod));
}

TEST(Lod, UnsafeCompressedNamesAreRefusedButTested) {
  TempDir dir;
  std::string lod = Lod().Packed("..\\evil", "boom").Packed("/abs", "boom").Packed("C:x", "boom").Bytes();
  dir.Write("a.lod", lod);
  RunResult x = Vrex(dir.path(), {"x", "a.lod"});
  EXPECT_EQ(x.out, Searching(3) + "Unzipping ..\\evil\nUnsafe path ..\\evil - skipped\n" +
                       "Unzipping /abs\nUnsafe path /abs - skipped\nUnzipping C:x\nUnsafe path C:x - skipped\n" +
                       "\n3 matches found\n");
  RunResult t = Vrex(dir.path(), {"t", "a.lod"});
  EXPECT_EQ(t.out, Searching(3) + "Testing ..\\evil\nTesting /abs\nTesting C:x\n\n3 matches found\n");
  EXPECT_EQ(dir.Tree(), With({}, "a.lod", lod));

  // Below an output folder the same names are refused; a safe one lands inside it.
  std::string two = Lod().Packed("..\\evil", "boom").Packed("fine", "ok").Bytes();
  dir.Write("a.lod", two);
  RunResult o = Vrex(dir.path(), {"x", "a.lod", "-o", "out"});
  EXPECT_EQ(o.out, Searching(2) + "Unzipping ..\\evil\nUnsafe path ..\\evil - skipped\nUnzipping fine\n\n2 matches found\n");
  EXPECT_EQ(dir.Tree(), With({{"out/", ""}, {"out/fine", "ok"}}, "a.lod", two));
}

// Each entry of the table: name, type word, and "zlib" for a packed member.
std::vector<std::string> Table(const std::string& lod) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(lod.data());
  std::vector<std::string> rows;
  for (uint32_t i = 0; i < ReadU32LE(p + 8); ++i) {
    const uint8_t* e = p + 92 + 32 * i;
    char row[64];
    snprintf(row, sizeof row, "%.16s %02X%s", reinterpret_cast<const char*>(e), ReadU32LE(e + 24),
             ReadU32LE(e + 28) ? " zlib" : "");
    rows.push_back(row);
  }
  return rows;
}

TEST(Lod, AddKeepsTheTableSortedTypesNewEntriesByExtensionAndPacksWhereSmaller) {
  TempDir dir;
  dir.Write("a.lod", Lod().Stored("B.def", "bb", 0x47).Stored("c.pcx", "c", 0x10).Stored("d.DEF", "dd", 0x47)
                         .Stored("e.def", "e", 0x49).Stored("f.x", "1", 5).Stored("g.x", "2", 3).Bytes());
  const std::string text(5000, 't'), noise = Pattern(3000, 1);
  dir.Write("A.def", text);
  dir.Write("cc.txt", noise);
  dir.Write("C.PCX", "new c");
  dir.Write("h.x", "");
  RunResult r = Vrex(dir.path(), {"a", "a.lod", "A.def", "cc.txt", "C.PCX", "h.x"});
  EXPECT_EQ(r.out, Searching(6) + "Adding A.def\nAdding cc.txt\nReplacing c.pcx\nAdding h.x\n\n4 files stored\n");
  // A new type: the most common of the extension (.def: 47 twice), on a tie
  // the lowest (.x: 05 and 03), else 0; a replaced entry keeps its own.
  std::string lod = dir.Read("a.lod");
  EXPECT_EQ(Table(lod), (std::vector<std::string>{"A.def 47 zlib", "B.def 47", "c.pcx 10", "cc.txt 00", "d.DEF 47",
                                                  "e.def 49", "f.x 05", "g.x 03", "h.x 03"}));
  Members members;
  ASSERT_TRUE(ReadMembers("a.lod", lod, &members));
  EXPECT_EQ(members[0].second, text);
  EXPECT_EQ(members[2].second, "new c");
  EXPECT_EQ(members[3].second, noise);

  // A table that is not sorted stays as it is: a new entry goes before the
  // first that sorts after it.
  dir.Write("u.lod", Lod().Stored("z", "z").Stored("a", "a").Bytes());
  dir.Write("m", "m");
  ASSERT_EQ(Vrex(dir.path(), {"a", "u.lod", "m"}).exitCode, 0);
  EXPECT_EQ(Table(dir.Read("u.lod")), (std::vector<std::string>{"m 00", "z 00", "a 00"}));
}

TEST(Lod, ANewArchiveHasRoomForTenThousandEntriesAndNoMore) {
  TempDir dir;
  dir.Write("f", "data");
  ASSERT_EQ(Vrex(dir.path(), {"a", "new.lod", "f"}).exitCode, 0);
  std::string lod = dir.Read("new.lod");
  EXPECT_EQ(lod.substr(0, 12), Bytes().Raw(std::string("LOD\0", 4)).U32(200).U32(1).str());
  EXPECT_EQ(lod.substr(12, 80), std::string(80, '\0'));
  EXPECT_EQ(ReadU32LE(reinterpret_cast<const uint8_t*>(lod.data()) + 92 + 16), 320092u) << "data behind the room";
  EXPECT_EQ(lod.size(), 320092u + 4);

  Lod full;
  for (int i = 0; i < 10000; ++i) full.Stored("m" + std::to_string(i), "");
  dir.Write("full.lod", full.Bytes());
  dir.Write("m7", "replaces");
  RunResult r = Vrex(dir.path(), {"a", "full.lod", "m7", "f"});
  EXPECT_EQ(r.exitCode, 9);
  EXPECT_EQ(r.out, Searching(10000) + "Replacing m7\nArchive full f - skipped\n\n1 files stored, 1 skipped\n");
}

// d deletes and reclaims, the table keeping its order and its room.
TEST(Lod, DeleteReclaimsKeepingTheOrderAndTheRoom) {
  TempDir dir;
  std::string lod = Lod().Packed("a", "aaaa").Stored("b", "bb").Stored("c", "ccc").Bytes();
  dir.Write("a.lod", lod);
  RunResult r = Vrex(dir.path(), {"d", "a.lod", "A"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, Searching(3) + "Deleting a\n\n1 matches found\n");
  std::string after = dir.Read("a.lod");
  EXPECT_EQ(Table(after), (std::vector<std::string>{"b 00", "c 00"}));
  // The data still begin where they did: the table's room grew by an entry.
  EXPECT_EQ(ReadU32LE(reinterpret_cast<const uint8_t*>(after.data()) + 92 + 16), 92u + 3 * 32);
  EXPECT_EQ(after.size(), 92u + 3 * 32 + 5);
  Members members;
  ASSERT_TRUE(ReadMembers("a.lod", after, &members));
  EXPECT_EQ(members, (Members{{"b", "bb"}, {"c", "ccc"}}));
  EXPECT_EQ(dir.Tree().size(), 1u);
}
}  // namespace
