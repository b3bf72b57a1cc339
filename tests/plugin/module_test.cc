// The VREX module through its six exports, loaded from the built library:
// detection, opening, every record layout, Doom WAD folders, and the bounds
// of what the module writes into the host's buffers.
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/item_record.h"
#include "common/tags.h"
#include "tests/support/bytes_builder.h"
#include "tests/support/e2e.h"
#include "tests/support/rff_builder.h"

namespace {
typedef int32_t (*IsArchiveFn)(const char*, const uint8_t*, int32_t);
typedef int32_t (*OpenArchiveFn)(const char*, uint32_t*);
typedef int32_t (*GetArcItemFn)(uint8_t*, int32_t);
typedef int32_t (*CloseArchiveFn)(int32_t);
typedef int32_t (*GetFormatNameFn)(uint32_t, char*, char*);
typedef int32_t (*GetDefaultCommandsFn)(uint32_t, uint32_t, char*);

struct Api {
  IsArchiveFn IsArchive;
  OpenArchiveFn OpenArchive;
  GetArcItemFn GetArcItem;
  CloseArchiveFn CloseArchive;
  GetFormatNameFn GetFormatName;
  GetDefaultCommandsFn GetDefaultCommands;
};

const Api& Module() {
  static Api api = [] {
    void* lib = dlopen(VREX_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
      fprintf(stderr, "dlopen %s: %s\n", VREX_MODULE_PATH, dlerror());
      abort();
    }
    Api a;
    a.IsArchive = reinterpret_cast<IsArchiveFn>(dlsym(lib, "IsArchive"));
    a.OpenArchive = reinterpret_cast<OpenArchiveFn>(dlsym(lib, "OpenArchive"));
    a.GetArcItem = reinterpret_cast<GetArcItemFn>(dlsym(lib, "GetArcItem"));
    a.CloseArchive = reinterpret_cast<CloseArchiveFn>(dlsym(lib, "CloseArchive"));
    a.GetFormatName = reinterpret_cast<GetFormatNameFn>(dlsym(lib, "GetFormatName"));
    a.GetDefaultCommands = reinterpret_cast<GetDefaultCommandsFn>(dlsym(lib, "GetDefaultCommands"));
    if (!a.IsArchive || !a.OpenArchive || !a.GetArcItem || !a.CloseArchive || !a.GetFormatName ||
        !a.GetDefaultCommands)
      abort();
    return a;
  }();
  return api;
}

constexpr uint8_t kSentinel = 0xA5;
constexpr size_t kRecordBytes = 400;

// The item record belongs to the file manager: its layout never moves.
static_assert(ITEM_SIZE_AT == 32 && ITEM_NAME_AT == 44 && ITEM_NAME_LIMIT == 260 && ITEM_PACKED_SIZE_AT == 322,
              "the host's item record layout is fixed");
static_assert(ITEM_NAME_AT + ITEM_NAME_LIMIT <= ITEM_PACKED_SIZE_AT && ITEM_RECORD_MINIMUM == ITEM_PACKED_SIZE_AT + 4,
              "the record's fields do not overlap and its minimum ends with packedSize");
static_assert(kRecordBytes >= ITEM_RECORD_MINIMUM, "the test's record is long enough");
static_assert(ITEM_END == 0 && ITEM_READY == 1 && ITEM_PAST_END == 3 && ITEM_IO_ERROR == 4,
              "GetArcItem's results are fixed by the host");

struct Item {
  std::string name;
  uint32_t size, packedSize;
  bool operator==(const Item& o) const { return name == o.name && size == o.size && packedSize == o.packedSize; }
};

std::ostream& operator<<(std::ostream& os, const Item& i) {
  return os << "{\"" << i.name << "\", " << i.size << ", " << i.packedSize << "}";
}

uint32_t U32At(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

bool InField(size_t at) {
  return (at >= ITEM_SIZE_AT && at < ITEM_SIZE_AT + 4) || (at >= ITEM_NAME_AT && at < ITEM_NAME_AT + ITEM_NAME_LIMIT) ||
         (at >= ITEM_PACKED_SIZE_AT && at < ITEM_PACKED_SIZE_AT + 4);
}

// One GetArcItem call on a sentinel-filled record; fails the test on any
// write outside the three fields. `nameBytes` receives the ITEM_NAME_LIMIT
// name bytes.
int32_t NextItem(Item* item, std::string* nameBytes = nullptr) {
  std::vector<uint8_t> record(kRecordBytes, kSentinel);
  int32_t result = Module().GetArcItem(record.data(), 0);
  for (size_t at = 0; at < record.size(); ++at) {
    if (InField(at)) continue;
    EXPECT_EQ(record[at], kSentinel) << "byte " << at << " written";
  }
  if (result == ITEM_READY) {
    const char* name = reinterpret_cast<const char*>(record.data() + ITEM_NAME_AT);
    EXPECT_NE(memchr(name, 0, ITEM_NAME_LIMIT), nullptr) << "name not terminated";
    item->name = std::string(name, strnlen(name, ITEM_NAME_LIMIT));
    item->size = U32At(record.data() + ITEM_SIZE_AT);
    item->packedSize = U32At(record.data() + ITEM_PACKED_SIZE_AT);
    if (nameBytes) nameBytes->assign(name, ITEM_NAME_LIMIT);
  }
  return result;
}

struct Browse {
  int32_t isArchive = 0;
  int32_t opened = 0;
  uint32_t tag = 0;
  std::vector<Item> items;
  int32_t last = -1;
};

// The host's sequence on a file: IsArchive with its first bytes (up to
// 1024), OpenArchive, GetArcItem until other than 1, CloseArchive.
Browse BrowseFile(const std::string& path, const std::string& bytes) {
  Browse b;
  std::vector<uint8_t> header(bytes.begin(), bytes.begin() + long(std::min<size_t>(bytes.size(), 1024)));
  b.isArchive = Module().IsArchive(path.c_str(), header.data(), int32_t(header.size()));
  if (!b.isArchive) return b;
  b.opened = Module().OpenArchive(path.c_str(), &b.tag);
  if (!b.opened) return b;
  Item item;
  for (int guard = 0; guard < 1000; ++guard) {
    b.last = NextItem(&item);
    if (b.last != 1) break;
    b.items.push_back(item);
  }
  EXPECT_NE(Module().CloseArchive(0), 0);
  return b;
}

Browse BrowseBytes(const std::string& fileName, const std::string& bytes) {
  TempDir dir;
  dir.Write(fileName, bytes);
  return BrowseFile(dir.Join(fileName), bytes);
}

std::string Header12(const std::string& magic) { return Bytes().Raw(magic).Fill(12 - magic.size()).str(); }

size_t OpenDescriptors() {
  size_t n = 0;
  DIR* d = opendir("/proc/self/fd");
  while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
  closedir(d);
  return n;
}

// ---- detection

TEST(Detection, EveryTagIsItsMagicReadLittleEndian) {
  struct Row {
    const char* magic;  // four bytes
    uint32_t tag;
  } rows[] = {
      {"PACK", TAG_PACK}, {"IWAD", TAG_IWAD}, {"PWAD", TAG_PWAD},  {"WAD2", TAG_WAD2}, {"WAD3", TAG_WAD3},
      {"LOD\0", TAG_LOD}, {"STK\0", TAG_STK}, {"DMVL", TAG_DMVL},  {"CSid", TAG_CSID}, {"DATO", TAG_DATO},
      {"DSND", TAG_DSND}, {"OSDS", TAG_OSDS}, {"DHF\0", TAG_DHF},  {"RFF\0", TAG_RFF}, {"GOB\0", TAG_GOB},
      {"GOB2", TAG_GOB2}, {"SPAK", TAG_SPAK}, {"SLB\0", TAG_SLB},  {"GRP\0", TAG_GRP},
  };
  for (const Row& r : rows) EXPECT_EQ(U32At(reinterpret_cast<const uint8_t*>(r.magic)), r.tag) << r.magic;
}

TEST(Detection, EveryTagNeedsTwelveHeaderBytes) {
  std::vector<std::string> headers;
  for (const char* m : {"PACK", "IWAD", "PWAD", "WAD2", "WAD3", "DMVL", "CSid", "DSND", "OSDS"})
    headers.push_back(Header12(m));
  headers.push_back(Header12(std::string("LOD\0", 4)));
  for (char fourth : {'\0', 'Z', '\xFF'}) headers.push_back(Header12(std::string("DHF") + fourth));
  for (uint32_t v : {0x0200, 0x0300, 0x0301}) headers.push_back(Bytes().Raw("RFF\x1A").U16(v).Fill(6).str());
  for (const char* m : {"SPAK", "GOB\x0A", "GOB \x14", "KenSilverman"}) headers.push_back(Header12(m));
  for (const std::string& h : headers) {
    std::vector<uint8_t> bytes(h.begin(), h.end());
    EXPECT_EQ(Module().IsArchive("a.bin", bytes.data(), 12), 1) << h.substr(0, 4);
    EXPECT_EQ(Module().IsArchive("a.bin", bytes.data(), 11), 0) << h.substr(0, 4);
  }
  // Tags that detection sets are not magics; RFF and GOB v2 need their versions.
  for (std::string unknown : {"DATO", "PAK ", "STK\0", "DH\0\0", "\0\0\0\0", "RFF\0", "GOB\0", "GOB2", "SLB\0",
                              "GRP\0", "RFF\x1A\x02\x03", "RFF\x1A\x00\x01", "GOB \x13", "KenSilverma!"}) {
    std::string h = Header12(unknown);  // the zeros a literal's NUL cuts are the padding
    EXPECT_EQ(Module().IsArchive("a.bin", reinterpret_cast<const uint8_t*>(h.data()), 12), 0) << unknown;
  }
}

TEST(Detection, StkAndItkOnlyByTheWholeExtension) {
  std::string junk = Header12("JUNK");
  const uint8_t* h = reinterpret_cast<const uint8_t*>(junk.data());
  for (const char* name : {"a.stk", "A.STK", "dir/b.Itk", "c.iTK", "x.pak.stk"})
    EXPECT_EQ(Module().IsArchive(name, h, 12), 1) << name;
  for (const char* name : {"a.stk1", "a.st", "stk", "dir.stk/file", "a.stk.bin"})
    EXPECT_EQ(Module().IsArchive(name, h, 12), 0) << name;
  EXPECT_EQ(Module().IsArchive("a.stk", h, 11), 0);
}

TEST(Detection, ReadsOnlyTheHeaderBytesGiven) {
  // Exactly sized buffers: a read past them shows under the address sanitizer.
  std::vector<uint8_t> two = {'P', 'A'};
  EXPECT_EQ(Module().IsArchive("a.pak", two.data(), 2), 0);
  EXPECT_EQ(Module().IsArchive("a.pak", nullptr, 0), 0);
  EXPECT_EQ(Module().IsArchive("a.pak", two.data(), -5), 0);
  // Bytes past the count are zero: three bytes "STK" leave the STK tag, so
  // the next open takes the file as STK without reading a magic.
  TempDir dir;
  dir.Write("a.bin", Bytes().Raw("PACK").U32(12).U32(0).str());
  std::vector<uint8_t> stkx = {'S', 'T', 'K', 'X'};
  EXPECT_EQ(Module().IsArchive("a.bin", stkx.data(), 3), 0);
  uint32_t tag = 0;
  ASSERT_EQ(Module().OpenArchive(dir.Join("a.bin").c_str(), &tag), 1);
  EXPECT_EQ(tag, TAG_STK);
  Module().CloseArchive(0);
}

// ---- opening

TEST(Open, PackItemCountIsDirectoryLengthOver64) {
  Bytes b;
  b.Raw("PACK").U32(12).U32(130);
  for (const char* n : {"one", "two", "three"}) b.Name(n, 56).U32(0).U32(7);
  Browse r = BrowseBytes("a.pak", b.str());
  EXPECT_EQ(r.tag, TAG_PACK);
  ASSERT_EQ(r.items.size(), 2u);
  EXPECT_EQ(r.items[1], (Item{"two", 7, 7}));
  EXPECT_EQ(r.last, 0);
}

TEST(Open, StkByExtensionReadsTheCountFromTheFirstTwoBytes) {
  Bytes b;
  b.U16(1).Name("INTRO.TOT", 13).U32(5).U32(24).U8(0).Raw("hello");
  Browse r = BrowseBytes("game.ITK", b.str());
  EXPECT_EQ(r.isArchive, 1);
  EXPECT_EQ(r.tag, TAG_STK);
  EXPECT_EQ(r.items, (std::vector<Item>{{"INTRO.TOT", 5, 5}}));
  EXPECT_EQ(r.last, 0);
  // The same bytes with "STK" in front and no such extension: not an archive.
  EXPECT_EQ(BrowseBytes("game.dat", std::string("STK\0", 4) + b.str()).isArchive, 0);
}

TEST(Open, HogDropsTheFourthMagicByte) {
  Browse r = BrowseBytes("d.hog", Bytes().Raw("DHF").Name("!a", 13).U32(0).str());
  EXPECT_EQ(r.tag, TAG_DHF);
  // The fourth byte is where the first entry begins.
  EXPECT_EQ(r.items, (std::vector<Item>{{"!a", 0, 0}}));
  char name[32], ext[8];
  EXPECT_EQ(Module().GetFormatName(r.tag, name, ext), 1);
  EXPECT_STREQ(name, "Descent HOG");
  EXPECT_STREQ(ext, "HOG");
}

TEST(Open, ZipStorageNeedsItsStoredSizeToBeTheFileSize) {
  Bytes good;
  good.Raw("OSDS").U32(16).U32(16).U32(0);
  Browse r = BrowseBytes("z.osd", good.str());
  EXPECT_EQ(r.opened, 1);
  EXPECT_EQ(r.tag, TAG_OSDS);
  EXPECT_EQ(r.last, 0);
  EXPECT_EQ(BrowseBytes("z.osd", Bytes().Raw("OSDS").U32(15).U32(16).U32(0).str()).opened, 0);
}

TEST(Open, FailsOnMissingFilesAndUnknownTags) {
  uint32_t tag = 7;
  EXPECT_EQ(Module().OpenArchive("/nonexistent/a.pak", &tag), 0);
  TempDir dir;
  dir.Write("a.bin", Header12("JUNK"));
  std::string h = Header12("JUNK");
  Module().IsArchive("a.bin", reinterpret_cast<const uint8_t*>(h.data()), 12);
  EXPECT_EQ(Module().OpenArchive(dir.Join("a.bin").c_str(), &tag), 0);
  EXPECT_EQ(Module().OpenArchive(dir.path().c_str(), &tag), 0);  // a folder
  EXPECT_EQ(tag, 7u);
}

TEST(Open, NeverLeavesAHandleBehind) {
  TempDir dir;
  dir.Write("good.pak", Bytes().Raw("PACK").U32(12).U32(0).str());
  dir.Write("bad.osd", Bytes().Raw("OSDS").U32(99).U32(16).U32(0).str());
  std::string h = Header12("PACK");
  const uint8_t* header = reinterpret_cast<const uint8_t*>(h.data());
  uint32_t tag = 0;
  size_t before = OpenDescriptors();
  // A failed open closes the file it opened.
  Module().IsArchive("bad.osd", header, 12);
  EXPECT_EQ(Module().OpenArchive(dir.Join("bad.osd").c_str(), &tag), 0);
  EXPECT_EQ(OpenDescriptors(), before);
  // An open while another archive is open closes the earlier one.
  Module().IsArchive("good.pak", header, 12);
  ASSERT_EQ(Module().OpenArchive(dir.Join("good.pak").c_str(), &tag), 1);
  ASSERT_EQ(Module().OpenArchive(dir.Join("good.pak").c_str(), &tag), 1);
  EXPECT_EQ(OpenDescriptors(), before + 1);
  EXPECT_NE(Module().CloseArchive(0), 0);
  EXPECT_EQ(OpenDescriptors(), before);
  // Nothing open: closing again reports failure, GetArcItem a read error.
  EXPECT_EQ(Module().CloseArchive(0), 0);
  Item item;
  EXPECT_EQ(NextItem(&item), 4);
}

TEST(Open, ShortHeaderFieldsAreZeroNotLeftovers) {
  // First an archive that sets a position and a count, then one that ends
  // inside its header: its directory offset and count read as 0, so the
  // first record read (the file's own bytes at 0) ends the list.
  Bytes first;
  first.Raw("OSDS").U32(48).U32(16).U32(1).Fill(16).Fill(16, '\x11');
  EXPECT_EQ(BrowseBytes("a.osd", first.str()).items.size(), 1u);
  TempDir dir;
  dir.Write("b.osd", Bytes().Raw("OSDS").U16(6).str());
  std::string h = Header12("OSDS");
  Module().IsArchive("b.osd", reinterpret_cast<const uint8_t*>(h.data()), 12);
  uint32_t tag = 0;
  ASSERT_EQ(Module().OpenArchive(dir.Join("b.osd").c_str(), &tag), 1);
  Item item;
  EXPECT_EQ(NextItem(&item), 0);
  Module().CloseArchive(0);
}

// ---- items, one layout per format

TEST(Items, EveryFormatsRecordLayout) {
  struct Case {
    const char* file;
    std::string bytes;
    uint32_t tag;
    std::vector<Item> items;
    int32_t last;
  };
  std::vector<Case> cases;
  cases.push_back({"a.pak",
                   Bytes().Raw("PACK").U32(12).U32(128).Name("maps/e1m1.bsp", 56).U32(0).U32(1234)
                       .Name("x", 56).U32(0).U32(0).str(),
                   TAG_PACK, {{"maps/e1m1.bsp", 1234, 1234}, {"x", 0, 0}}, 0});
  cases.push_back({"h.wad",
                   Bytes().Raw("WAD3").U32(2).U32(12).U32(0).U32(5000).U32(1000).U32(0x44).Name("{blue", 16)
                       .U32(0).U32(1).U32(2).U32(0).Name("sky", 16).str(),
                   TAG_WAD3, {{"{blue", 5000, 1000}, {"sky", 1, 2}}, 0});
  cases.push_back({"q.wad", Bytes().Raw("WAD2").U32(1).U32(12).U32(0).U32(9).U32(8).U32(0).Name("conchars", 16).str(),
                   TAG_WAD2, {{"conchars", 9, 8}}, 0});
  cases.push_back({"h.lod",
                   Bytes().Raw(std::string("LOD\0", 4)).U32(500).U32(2).Fill(80)
                       .Name("stored.def", 16).U32(0).U32(300).U32(1).U32(0)
                       .Name("packed.pcx", 16).U32(0).U32(9000).U32(1).U32(700).str(),
                   TAG_LOD, {{"stored.def", 300, 0}, {"packed.pcx", 9000, 700}}, 0});
  cases.push_back({"a.stk", Bytes().U16(2).Name("A.TOT", 13).U32(10).U32(0).U8(1).Name("B.TOT", 13).U32(20).U32(0).U8(0).str(),
                   TAG_STK, {{"A.TOT", 10, 10}, {"B.TOT", 20, 20}}, 0});
  cases.push_back({"d.mvl", Bytes().Raw("DMVL").U32(2).Name("robot.pof", 13).U32(77).Name("b.pof", 13).U32(5).str(),
                   TAG_DMVL, {{"robot.pof", 77, 77}, {"b.pof", 5, 5}}, 0});
  // Chasm: a two-byte count at 4, then 21-byte entries behind a length byte.
  cases.push_back({"c.bin",
                   Bytes().Raw("CSid").U16(2).U8(5).Name("a.obj", 12).U32(3).U32(48).U8(6).Name("bb.3o", 12)
                       .U32(4).U32(51).Raw("xyzdata").str(),
                   TAG_CSID, {{"a.obj", 3, 3}, {"bb.3o", 4, 4}}, 0});
  cases.push_back({"s.s11",
                   Bytes().Raw("DSND").U32(0).U32(2).Name("laser", 8).U32(100).U32(50).U32(0)
                       .Name("boom", 8).U32(7).U32(6).U32(0).str(),
                   TAG_DSND, {{"laser", 100, 50}, {"boom", 7, 6}}, 0});
  cases.push_back({"d.hog",
                   Bytes().Raw("DHF").Name("a.txt", 13).U32(3).Raw("abc").Name("b.pcx", 13).U32(0).str(),
                   TAG_DHF, {{"a.txt", 3, 3}, {"b.pcx", 0, 0}}, 0});
  Bytes zip;
  zip.Raw("OSDS").U32(48).U32(16).U32(1).U32(0).U32(600).U32(400).U32(0);
  for (int i = 0; i < 16; ++i) zip.U8(uint32_t(i));
  cases.push_back({"z.osd", zip.str(), TAG_OSDS, {{"{0x03020100-0x0504-0x0706-08090A0B0C0D0E0F}", 600, 400}}, 0});
  // RFF in each version; 0x0300 also with the other tools' key 2 * dirOffset + 1.
  const std::vector<RffEntry> rff = {{"TILES000", "ART", 32, 6, 0x10}, {"README", "", 38, 0, 0}, {"ABCDEFGH", "XYZ", 0, 1, 2}};
  const std::vector<Item> rffItems = {{"TILES000.ART", 6, 6}, {"README", 0, 0}, {"ABCDEFGH.XYZ", 1, 1}};
  for (uint32_t version : {0x0200, 0x0300, 0x0301})
    cases.push_back({"a.rff", RffBytes(version, "tiles!", rff), TAG_RFF, rffItems, 0});
  cases.push_back({"b.rff", RffBytes(0x0300, "tiles!", rff, 2 * 38 + 1), TAG_RFF, rffItems, 0});
  cases.push_back({"d.gob", Bytes().Raw("GOB\x0A").U32(11).Raw("lev").U32(1).U32(8).U32(3).Name("SECBASE.LEV", 13).str(),
                   TAG_GOB, {{"SECBASE.LEV", 3, 3}}, 0});
  cases.push_back({"j.goo",
                   Bytes().Raw("GOB ").U32(20).U32(12).U32(2).U32(0).U32(9).Name("3do\\mat\\dflt.mat", 128)
                       .U32(0).U32(4).Name("a.bm", 128).str(),
                   TAG_GOB2, {{"3do\\mat\\dflt.mat", 9, 9}, {"a.bm", 4, 4}}, 0});
  cases.push_back({"s.sin", Bytes().Raw("SPAK").U32(12).U32(128 + 100).Name("maps/a.bsp", 120).U32(0).U32(77).str(),
                   TAG_SPAK, {{"maps/a.bsp", 77, 77}}, 0});
  // SLB: by the extension and a header that fits; the leading "\" is not shown.
  cases.push_back({"i.SLB", Bytes().U32(0).U32(1).U32(12).Name("\\data\\ships.dat", 64).U32(0).U32(5).str(),
                   TAG_SLB, {{"data\\ships.dat", 5, 5}}, 0});
  cases.push_back({"e.slb", Bytes().U32(0).U32(0).U32(12).str(), TAG_SLB, {}, 0});
  cases.push_back({"p.slb", Bytes().Raw("PACK").U32(12).U32(0).str(), TAG_PACK, {}, 0});
  cases.push_back({"b.grp",
                   Bytes().Raw("KenSilverman").U32(3).Raw("TILES000.ART").U32(2).Raw("GAME.CON    ").U32(1)
                       .Name("A B", 12).U32(0).str(),
                   TAG_GRP, {{"TILES000.ART", 2, 2}, {"GAME.CON", 1, 1}, {"A B", 0, 0}}, 0});
  for (const Case& c : cases) {
    Browse r = BrowseBytes(c.file, c.bytes);
    EXPECT_EQ(r.opened, 1) << c.file;
    EXPECT_EQ(r.tag, c.tag) << c.file;
    EXPECT_EQ(r.items, c.items) << c.file;
    EXPECT_EQ(r.last, c.last) << c.file;
  }
}

TEST(Items, EndPastEndAndEmpty) {
  // A directory that starts beyond the end of the file.
  EXPECT_EQ(BrowseBytes("a.pak", Bytes().Raw("PACK").U32(13).U32(64).str()).last, 3);
  // A directory that starts exactly at the end reads nothing: the end.
  EXPECT_EQ(BrowseBytes("a.pak", Bytes().Raw("PACK").U32(12).U32(64).str()).last, 0);
  // A header stating no records.
  Browse none = BrowseBytes("a.wad", Bytes().Raw("PWAD").U32(0).U32(12).Fill(32, 'x').str());
  EXPECT_TRUE(none.items.empty());
  EXPECT_EQ(none.last, 0);
  // A HOG entry whose size runs past the end: the entry, then 3.
  Browse hog = BrowseBytes("d.hog", Bytes().Raw("DHF").Name("big", 13).U32(100).Raw("short").str());
  EXPECT_EQ(hog.items, (std::vector<Item>{{"big", 100, 100}}));
  EXPECT_EQ(hog.last, 3);
  // A HOG size that would wrap the position around ends with 3, not a loop.
  Browse wrap = BrowseBytes("d.hog", Bytes().Raw("DHF").Name("w", 13).U32(0xFFFFFFF0).str());
  EXPECT_EQ(wrap.items.size(), 1u);
  EXPECT_EQ(wrap.last, 3);
  // A Chasm file that ends right after its directory: the last step lands
  // one byte past the end.
  Browse chasm = BrowseBytes("c.bin", Bytes().Raw("CSid").U16(1).U8(3).Name("abc", 12).U32(0).U32(0).str());
  EXPECT_EQ(chasm.items.size(), 1u);
  EXPECT_EQ(chasm.last, 3);
  // A count larger than the records present: the end of the file ends it.
  EXPECT_EQ(BrowseBytes("d.mvl", Bytes().Raw("DMVL").U32(9).Name("a", 13).U32(1).str()).last, 0);
  // So it does for an RFF 0x0300 directory, whose key choice reads only
  // entries inside the file; a GOB directory beyond the end gives 3.
  std::string rff = RffBytes(0x0300, "", {{"A", "", 0, 0, 0}});
  Browse many = BrowseBytes("a.rff", rff.replace(12, 4, "\xFF\xFF\xFF\xFF"));
  EXPECT_EQ(many.items, (std::vector<Item>{{"A", 0, 0}}));
  EXPECT_EQ(many.last, 0);
  EXPECT_EQ(BrowseBytes("d.gob", Bytes().Raw("GOB\x0A").U32(900).Fill(4).str()).last, 3);
}

TEST(Open, RefusesSlbHeadersThatDoNotFit) {
  for (const std::string& bytes : {
           Bytes().U32(0).U32(1).U32(12).Name("\\short", 40).str(),  // the table runs past the end
           Bytes().U32(0).U32(0x40000000).U32(12).Name("\\a", 72).str(),
           Bytes().U32(0).U32(0).U32(13).str(),  // an empty table beyond the end
           Bytes().U32(0).U32(2).U32(12).Name("\\a", 72).Name("b", 72).str()})  // a name without "\"
    EXPECT_EQ(BrowseBytes("a.slb", bytes).opened, 0) << bytes.size();
}

TEST(Items, NamesThatFillTheirFieldAreTerminated) {
  std::string n56(56, 'p'), n16(16, 'w'), n13(13, 'd'), n12(12, 's'), n8(8, 'n'), n128(128, 'g'), n120(120, 'q'),
      n63(63, 'i');
  struct Case {
    const char* file;
    std::string bytes;
    std::string name;
  } cases[] = {
      {"a.pak", Bytes().Raw("PACK").U32(12).U32(64).Raw(n56).U32(0).U32(1).str(), n56},
      {"a.wad", Bytes().Raw("WAD2").U32(1).U32(12).U32(0).U32(1).U32(1).U32(0).Raw(n16).str(), n16},
      {"a.lod", Bytes().Raw(std::string("LOD\0", 4)).U32(0).U32(1).Fill(80).Raw(n16).Fill(16).str(), n16},
      {"a.mvl", Bytes().Raw("DMVL").U32(1).Raw(n13).U32(1).str(), n13},
      {"a.hog", Bytes().Raw("DHF").Raw(n13).U32(0).str(), n13},
      {"a.stk", Bytes().U16(1).Raw(n12).Raw("X").U32(1).U32(0).U8(0).str(), n12},  // byte 12 is not read
      {"a.bin", Bytes().Raw("CSid").U16(1).U8(12).Raw(n12).U32(1).U32(0).Raw("tail").str(), n12},
      {"a.s11", Bytes().Raw("DSND").U32(0).U32(1).Raw(n8).U32(1).U32(1).U32(0).str(), n8},
      {"a.rff", RffBytes(0x0301, "", {{n8, "XYZ", 0, 0, 0}}), n8 + ".XYZ"},
      {"a.gob", Bytes().Raw("GOB\x0A").U32(8).U32(1).U32(0).U32(0).Raw(n13).str(), n13},
      {"a.goo", Bytes().Raw("GOB ").U32(20).U32(12).U32(1).U32(0).U32(0).Raw(n128).str(), n128},
      {"a.sin", Bytes().Raw("SPAK").U32(12).U32(128).Raw(n120).U32(0).U32(0).str(), n120},
      {"a.slb", Bytes().U32(0).U32(1).U32(12).Raw("\\" + n63).U32(0).U32(0).str(), n63},
      {"a.grp", Bytes().Raw("KenSilverman").U32(1).Raw(n12).U32(0).str(), n12},
  };
  for (const Case& c : cases) {
    TempDir dir;
    dir.Write(c.file, c.bytes);
    std::vector<uint8_t> h(c.bytes.begin(), c.bytes.begin() + 12);
    ASSERT_EQ(Module().IsArchive(c.file, h.data(), 12), 1) << c.file;
    uint32_t tag = 0;
    ASSERT_EQ(Module().OpenArchive(dir.Join(c.file).c_str(), &tag), 1) << c.file;
    Item item;
    std::string nameBytes;
    ASSERT_EQ(NextItem(&item, &nameBytes), 1) << c.file;
    EXPECT_EQ(item.name, c.name) << c.file;
    EXPECT_EQ(nameBytes[c.name.size()], '\0') << c.file;
    Module().CloseArchive(0);
  }
}

TEST(Items, ShortLastRecordReadsAsZeros) {
  // Two PACK entries; the file ends 40 bytes into the second, so its size
  // field is missing and must not repeat the first entry's 300.
  std::string bytes = Bytes().Raw("PACK").U32(12).U32(128).Name("first", 56).U32(0).U32(300)
                          .Name("second", 40).str();
  Browse r = BrowseBytes("a.pak", bytes);
  EXPECT_EQ(r.items, (std::vector<Item>{{"first", 300, 300}, {"second", 0, 0}}));
  EXPECT_EQ(r.last, 3);
  // Bytes an encrypted RFF directory lacks are zeros too, not decrypted zeros.
  std::string rff = RffBytes(0x0301, "", {{"A", "", 0, 0, 0}, {"B", "", 0, 0, 0}});
  EXPECT_EQ(BrowseBytes("a.rff", rff.substr(0, rff.size() - 11)).items, (std::vector<Item>{{"A", 0, 0}, {"B", 0, 0}}));
}

// ---- Doom WAD folders

class DoomWad {
 public:
  DoomWad& Lump(const std::string& name, uint32_t size) {
    entries_.push_back({name, size});
    return *this;
  }
  std::string Bytes() const {
    ::Bytes b;
    b.Raw("IWAD").U32(uint32_t(entries_.size())).U32(12);
    for (const auto& e : entries_) b.U32(0).U32(e.second).Name(e.first, 8);
    return b.str();
  }

 private:
  std::vector<std::pair<std::string, uint32_t>> entries_;
};

std::vector<std::string> DoomNames(const DoomWad& wad) {
  Browse r = BrowseBytes("doom.wad", wad.Bytes());
  EXPECT_EQ(r.last, 0);
  std::vector<std::string> names;
  for (const Item& i : r.items) names.push_back(i.name);
  return names;
}

TEST(DoomWad, MapMarkerHoldsForTenRecords) {
  DoomWad wad;
  wad.Lump("MAP01", 0);
  std::vector<std::string> expected;
  for (int i = 0; i < 10; ++i) {
    std::string n = "LUMP" + std::to_string(i);
    wad.Lump(n, 200);
    expected.push_back("MAP01\\" + n);
  }
  wad.Lump("ELEVENTH", 4000);
  expected.push_back("ELEVENTH");
  EXPECT_EQ(DoomNames(wad), expected);
  Browse r = BrowseBytes("doom.wad", wad.Bytes());
  EXPECT_EQ(r.items.back(), (Item{"ELEVENTH", 4000, 4000}));
}

TEST(DoomWad, SmallLumpsAreNeverItems) {
  EXPECT_EQ(DoomNames(DoomWad().Lump("SMALL", 99).Lump("EXACT", 100).Lump("MAPINFO", 10).Lump("A", 100)),
            (std::vector<std::string>{"EXACT", "MAPINFO\\A"}));
}

TEST(DoomWad, NamespacesAndTheirEnds) {
  EXPECT_EQ(DoomNames(DoomWad().Lump("S_START", 0).Lump("A", 500).Lump("S_END", 0).Lump("B", 500)),
            (std::vector<std::string>{"S_START\\A", "B"}));
  // Only one letter before _START / _END counts; bytes after them do not matter.
  EXPECT_EQ(DoomNames(DoomWad().Lump("FF_START", 0).Lump("A", 500).Lump("S_STARTX", 0).Lump("B", 500)
                          .Lump("FF_END", 0).Lump("C", 500).Lump("F_ENDING", 0).Lump("D", 500)),
            (std::vector<std::string>{"A", "S_STARTX\\B", "S_STARTX\\C", "D"}));
  EXPECT_EQ(DoomNames(DoomWad().Lump("E1M1", 0).Lump("THINGS", 300).Lump("e1m2", 0).Lump("X", 300)),
            (std::vector<std::string>{"E1M1\\THINGS", "E1M1\\X"}));
}

TEST(DoomWad, BackslashInALumpNameShowsAsTilde) {
  EXPECT_EQ(DoomNames(DoomWad().Lump("S_START", 0).Lump("VILE\\1", 1200).Lump("S_END", 0).Lump("A\\B\\", 300)),
            (std::vector<std::string>{"S_START\\VILE~1", "A~B~"}));
}

TEST(DoomWad, NestedMarkersAppendAndClearTogether) {
  DoomWad wad;
  wad.Lump("F_START", 0).Lump("MAP01", 0).Lump("X", 200);
  for (int i = 0; i < 8; ++i) wad.Lump("PAD", 1);
  wad.Lump("Y", 200).Lump("Z", 200);
  EXPECT_EQ(DoomNames(wad), (std::vector<std::string>{"F_START\\MAP01\\X", "F_START\\MAP01\\Y", "Z"}));
}

TEST(DoomWad, FolderPrefixStaysWithinNineteenCharacters) {
  // Three seven-letter namespace starts: the third would make 24 characters.
  EXPECT_EQ(DoomNames(DoomWad().Lump("A_START", 0).Lump("B_START", 0).Lump("C_START", 0).Lump("LONGNAME", 100)),
            (std::vector<std::string>{"A_START\\B_START\\LONGNAME"}));
  // Four map markers of five letters within ten records of each other.
  EXPECT_EQ(DoomNames(DoomWad().Lump("MAP01", 0).Lump("MAP02", 0).Lump("MAP03", 0).Lump("MAP04", 0)
                          .Lump("THINGS", 100)),
            (std::vector<std::string>{"MAP01\\MAP02\\MAP03\\THINGS"}));
  // Exactly 19 characters still fit; the next marker does not.
  EXPECT_EQ(DoomNames(DoomWad().Lump("E1M", 0).Lump("MAP0123", 0).Lump("E1M1XY", 0).Lump("E2M", 0)
                          .Lump("ABCDEFGH", 100)),
            (std::vector<std::string>{"E1M\\MAP0123\\E1M1XY\\ABCDEFGH"}));
}

// ---- names and templates

TEST(Texts, FormatNamesAndExtensions) {
  struct Row {
    uint32_t tag;
    const char* name;
    const char* extension;
  } rows[] = {
      {TAG_PACK, "Quake Pack", "Pak"},      {TAG_IWAD, "DooM Main WAD", "WAD"},
      {TAG_PWAD, "DooM Patch WAD", "WAD"},  {TAG_WAD2, "Quake WAD", "WAD"},
      {TAG_WAD3, "Half-Life WAD", "WAD"},   {TAG_LOD, "3DO LOD (heroes)", "LOD"},
      {TAG_DMVL, "Descent DMVL", "MVL"},    {TAG_CSID, "CHASM BIN", "BIN"},
      {TAG_DSND, "Descent Sounds", "S11"},  {TAG_OSDS, "Lionhearth ZipStorage", "OSD"},
      {TAG_DHF, "Descent HOG", "HOG"},      {TAG_STK, "Coctel STK", "STK"},
      {TAG_RFF, "Blood RFF", "RFF"},        {TAG_GOB, "Dark Forces GOB", "GOB"},
      {TAG_GOB2, "Jedi Knight GOB", "GOB"}, {TAG_SPAK, "SiN Pack", "SIN"},
      {TAG_SLB, "I-War SLB", "SLB"},        {TAG_GRP, "Build GRP", "GRP"},
  };
  for (const Row& r : rows) {
    std::string name(40, '\x5A'), ext(10, '\x5A');
    EXPECT_EQ(Module().GetFormatName(r.tag, &name[0], &ext[0]), 1);
    EXPECT_EQ(name, std::string(r.name) + '\0' + std::string(40 - strlen(r.name) - 1, '\x5A'));
    EXPECT_EQ(ext, std::string(r.extension) + '\0' + std::string(10 - strlen(r.extension) - 1, '\x5A'));
  }
  for (uint32_t unknown : {0u, uint32_t(TAG_DATO), 0x21464844u, 0x4B435041u}) {
    std::string name(40, '\x5A'), ext(10, '\x5A');
    EXPECT_EQ(Module().GetFormatName(unknown, &name[0], &ext[0]), 0);
    EXPECT_EQ(name, std::string(40, '\x5A'));
    EXPECT_EQ(ext, std::string(10, '\x5A'));
  }
}

TEST(Texts, CommandTemplatesOfEverySlot) {
  auto table = [](const char* list, bool deletes, const char* mask) {
    std::vector<std::string> t(15);
    t[0] = std::string("vrex x %%A @%%") + list;
    t[1] = std::string("vrex e %%A @%%") + list;
    t[2] = std::string("vrex t %%A @%%") + list;
    if (deletes) {
      t[3] = std::string("vrex d %%A @%%") + list;
      t[9] = std::string("vrex r %%A @%%") + list;
      t[10] = std::string("vrex af %%A @%%") + list;
      t[11] = std::string("vrex mf %%A @%%") + list;
      t[12] = std::string("vrex a %%A @%%") + list;
      t[13] = std::string("vrex m %%A @%%") + list;
    }
    t[14] = mask;
    return t;
  };
  std::vector<std::string> pack = table("LMS", true, "*.*");
  std::vector<std::string> wad = table("LM", true, "*");
  std::vector<std::string> other = table("LM", false, "*.*");
  std::vector<std::string> flat = table("LM", true, "*.*");
  flat[9] = "";
  std::vector<std::string> writable = table("LM", true, "*.*");
  struct Case {
    uint32_t tag;
    const std::vector<std::string>* slots;
  } cases[] = {
      {TAG_PACK, &pack},  {TAG_IWAD, &wad},   {TAG_PWAD, &wad},  {TAG_WAD2, &wad},
      {TAG_WAD3, &wad},   {TAG_LOD, &flat},   {TAG_DMVL, &flat}, {TAG_CSID, &flat},
      {TAG_DSND, &other}, {TAG_OSDS, &other}, {TAG_DHF, &flat},  {TAG_STK, &flat},
      {0x12345678, &other}, {TAG_SPAK, &pack},  {TAG_RFF, &writable}, {TAG_GOB, &writable},
      {TAG_GOB2, &writable}, {TAG_SLB, &writable}, {TAG_GRP, &writable},
  };
  for (const Case& c : cases) {
    for (uint32_t slot = 0; slot < 15; ++slot) {
      std::string buffer(32, '\x5A');
      EXPECT_EQ(Module().GetDefaultCommands(c.tag, slot, &buffer[0]), 1);
      const std::string& text = (*c.slots)[slot];
      EXPECT_EQ(buffer, text + '\0' + std::string(32 - text.size() - 1, '\x5A')) << c.tag << " " << slot;
    }
    for (uint32_t slot : {15u, 16u, 0xFFFFFFFFu}) {
      std::string buffer(32, '\x5A');
      EXPECT_EQ(Module().GetDefaultCommands(c.tag, slot, &buffer[0]), 0);
      EXPECT_EQ(buffer, std::string(32, '\x5A'));
    }
  }
}
}  // namespace
