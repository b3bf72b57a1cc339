// Descent sound files end to end: offsets counted from the end of the
// directory, 8-character names, compressed sounds and data outside the file.
#include <gtest/gtest.h>

#include "tests/support/bytes_builder.h"
#include "tests/support/e2e.h"

namespace {
const std::string kHeading = "\nname\t\tsize\tseek\n--------------------------------\n";

struct Sound {
  std::string name;
  uint32_t length, storedLength, offset;  // offset from the end of the directory
};

std::string Dsnd(const std::vector<Sound>& sounds, const std::string& data) {
  Bytes b;
  b.Raw("DSND").U32(1).U32(uint32_t(sounds.size()));
  for (const auto& s : sounds) b.Name(s.name, 8).U32(s.length).U32(s.storedLength).U32(s.offset);
  return b.Raw(data).str();
}

std::string Searching(int n) { return Banner() + "Searching DSND (" + std::to_string(n) + " files)\n"; }

TEST(Dsnd, ListsAndExtractsFromTheEndOfTheDirectory) {
  TempDir dir;
  // Directory of 3 entries ends at 12 + 60 = 72 (0x48).
  std::string file = Dsnd({{"laser", 5, 5, 0}, {"explode1", 4, 4, 5}, {"quiet", 0, 0, 9}}, "LASERBOOM");
  dir.Write("d.s11", file);
  RunResult l = Vrex(dir.path(), {"l", "d.s11"});
  EXPECT_EQ(l.exitCode, 0);
  EXPECT_EQ(l.out, Searching(3) + kHeading +
                       "laser   \t5      \t00000048\n"
                       "explode1\t4      \t0000004D\n"
                       "quiet   \t0      \t00000051\n"
                       "\n3 matches found\n");
  RunResult x = Vrex(dir.path(), {"x", "d.s11"});
  EXPECT_EQ(x.out, Searching(3) + "Extracting laser\nExtracting explode1\nExtracting quiet\n\n3 matches found\n");
  EXPECT_EQ(dir.Tree(), (std::map<std::string, std::string>{
                            {"d.s11", file}, {"laser", "LASER"}, {"explode1", "BOOM"}, {"quiet", ""}}));
}

// Compressed sounds are listed but never written; sounds outside the file
// are reported and skipped; the others are extracted.
TEST(Dsnd, CompressedAndMisplacedSoundsAreSkipped) {
  TempDir dir;
  std::string file = Dsnd({{"packed", 100, 6, 0},
                           {"past", 10, 10, 4},
                           {"wrapped", 1, 1, 0xFFFFFFF0},
                           {"ok", 3, 3, 6}},
                          "PACKEDOK!");
  dir.Write("d.s22", file);
  for (const char* letter : {"x", "t"}) {
    const std::string verb = std::string(letter) == "x" ? "Extracting " : "Testing ";
    RunResult r = Vrex(dir.path(), {letter, "d.s22"});
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_EQ(r.out, Searching(4) + verb + "packed\nCompressed sound packed - skipped\n" + verb +
                         "past\nData past the end of the file past - skipped\n" + verb +
                         "wrapped\nData past the end of the file wrapped - skipped\n" + verb + "ok\n" +
                         "\n4 matches found\n")
        << letter;
  }
  EXPECT_EQ(dir.Tree(), (std::map<std::string, std::string>{{"d.s22", file}, {"ok", "OK!"}}));
}

TEST(Dsnd, ACountTheFileCantHoldLoadsNothing) {
  TempDir dir;
  dir.Write("d.s11", Bytes().Raw("DSND").U32(1).U32(0xFFFFFFFF).str());
  RunResult r = Vrex(dir.path(), {"l", "d.s11"});
  EXPECT_EQ(r.exitCode, 6);
  EXPECT_EQ(r.err, "\tread failed: unexpected end of file\n");
}
}  // namespace
