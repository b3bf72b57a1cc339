// Detection, opening and closing, format names and command templates.
//
// Header fields read at open, per tag (u16/u32 little-endian, absolute
// offsets; every read continues from the file position the last one left):
//
//   tag    reads                                  itemCount  first record  record
//   PACK   dirOffset u32@4, dirLength u32@8       length/64  dirOffset     64
//   I/PWAD count u32@4, dirOffset u32@8           count      dirOffset     16
//   WAD2/3 count u32@4, dirOffset u32@8           count      dirOffset     32
//   LOD    u32@4 (dropped), count u32@8           count      92            32
//   STK    count u16@0 (no magic is read)         count      2             22
//   DMVL   count u32@4                            count      8             17
//   CSid   count u16@4                            count      7             20
//   DSND   u32@4 (dropped), count u32@8           count      12            20
//   OSDS   fileSize u32@4, dirOffset u32@8,       count      dirOffset     32
//          count u32@12
//   DHF    nothing: entries follow the magic      -          3             17
//   RFF    version u16@4 (0x0200, 0x0300,         count      dirOffset     48
//          0x0301), u16@6 (dropped),
//          dirOffset u32@8, count u32@12
//   GOB    dirOffset u32@4, count u32@dirOffset   count      dirOffset+4   21
//   GOB2   version u32@4 (20), dirOffset u32@8,   count      dirOffset+4   136
//          count u32@dirOffset
//   SPAK   dirOffset u32@4, dirLength u32@8       length/128 dirOffset     128
//   SLB    u32@0 (0), count u32@4, toc u32@8      count      toc           72
//   GRP    magic bytes 4 to 11, count u32@12      count      16            16
//
// A header read that comes back short (the file ends inside the header)
// leaves the missing bytes zero; only a failing read fails the open.
//
// The tags RFF, GOB, GOB2 and GRP stand for a magic (RFF\x1A, GOB\x0A,
// "GOB ", KenSilverman) and are never read from a file as they stand. An
// SLB file has no magic: IsArchive takes it by the extension slb and a first
// word 0, and the open checks the rest: the table lies inside the file and
// every name in it begins with "\". An RFF directory of version 0x03xx is
// encrypted with the key dirOffset + (version & 0xFF) * dirOffset (16 bits);
// some tools write version 0x0300 with the key 2 * dirOffset + 1, which the
// open takes when the first key puts some member's data outside the file and
// that key puts none there.
#include "plugin/vrex_module.h"

PluginState plugin;

namespace {
constexpr int32_t kHeaderMinimum = 12;
constexpr uint32_t kTagBytes = 4;
constexpr uint32_t kLowThreeBytes = 0x00FFFFFF;
constexpr uint32_t kSlotCount = 15;
constexpr uint32_t kRffMagic = 0x1A464652;   // "RFF\x1A"
constexpr uint32_t kGobMagic = 0x0A424F47;   // "GOB\x0A"
constexpr uint32_t kGob2Magic = 0x20424F47;  // "GOB "
constexpr uint32_t kGrpMagic = 0x536E654B;   // "KenS", the first word of "KenSilverman"
constexpr char kGrpMagicText[] = "KenSilverman";
constexpr uint32_t kGrpMagicSize = 12;
constexpr uint32_t kGob2Version = 20;
constexpr uint32_t kRffPlain = 0x0200;
constexpr uint32_t kRffEncrypted = 0x0300;   // also written with the other tools' key
constexpr uint32_t kRffEncrypted1 = 0x0301;
constexpr uint32_t kRffEntrySize = 48;
constexpr uint32_t kRffOffsetAt = 16;
constexpr uint32_t kRffSizeAt = 20;
constexpr uint32_t kSlbEntrySize = 72;
constexpr uint32_t kScanBytes = 48 * 72;  // whole RFF and SLB entries at a time

struct FormatRow {
  uint32_t tag;
  const char* name;
  const char* extension;
};

const FormatRow kFormats[] = {
    {TAG_PACK, "Quake Pack", "Pak"},
    {TAG_IWAD, "DooM Main WAD", "WAD"},
    {TAG_PWAD, "DooM Patch WAD", "WAD"},
    {TAG_WAD2, "Quake WAD", "WAD"},
    {TAG_WAD3, "Half-Life WAD", "WAD"},
    {TAG_LOD, "3DO LOD (heroes)", "LOD"},
    {TAG_DMVL, "Descent DMVL", "MVL"},
    {TAG_CSID, "CHASM BIN", "BIN"},
    {TAG_DSND, "Descent Sounds", "S11"},
    {TAG_OSDS, "Lionhearth ZipStorage", "OSD"},
    {TAG_DHF, "Descent HOG", "HOG"},
    {TAG_STK, "Coctel STK", "STK"},
    {TAG_RFF, "Blood RFF", "RFF"},
    {TAG_GOB, "Dark Forces GOB", "GOB"},
    {TAG_GOB2, "Jedi Knight GOB", "GOB"},
    {TAG_SPAK, "SiN Pack", "SIN"},
    {TAG_SLB, "I-War SLB", "SLB"},
    {TAG_GRP, "Build GRP", "GRP"},
};

// Command templates by slot. "%%A" stands for the archive, "%%LM" for a list
// file of the selected names, "%%LMS" for one whose names use "/" for "\".
// PACK and SPAK take PACK_COMMANDS, the Doom and Quake WADs WAD_COMMANDS,
// LOD, CSid, STK, HOG and DMVL FLAT_COMMANDS (slot 9 empty), the other
// formats vrex writes WRITABLE_COMMANDS, every other tag OTHER_COMMANDS.
const char* const PACK_COMMANDS[kSlotCount] = {
    "vrex x %%A @%%LMS", "vrex e %%A @%%LMS", "vrex t %%A @%%LMS", "vrex d %%A @%%LMS",
    "", "", "", "", "",
    "vrex r %%A @%%LMS", "vrex af %%A @%%LMS", "vrex mf %%A @%%LMS", "vrex a %%A @%%LMS",
    "vrex m %%A @%%LMS", "*.*"};
const char* const WAD_COMMANDS[kSlotCount] = {
    "vrex x %%A @%%LM", "vrex e %%A @%%LM", "vrex t %%A @%%LM", "vrex d %%A @%%LM",
    "", "", "", "", "",
    "vrex r %%A @%%LM", "vrex af %%A @%%LM", "vrex mf %%A @%%LM", "vrex a %%A @%%LM",
    "vrex m %%A @%%LM", "*"};
const char* const FLAT_COMMANDS[kSlotCount] = {
    "vrex x %%A @%%LM", "vrex e %%A @%%LM", "vrex t %%A @%%LM", "vrex d %%A @%%LM",
    "", "", "", "", "",
    "", "vrex af %%A @%%LM", "vrex mf %%A @%%LM", "vrex a %%A @%%LM",
    "vrex m %%A @%%LM", "*.*"};
const char* const WRITABLE_COMMANDS[kSlotCount] = {
    "vrex x %%A @%%LM", "vrex e %%A @%%LM", "vrex t %%A @%%LM", "vrex d %%A @%%LM",
    "", "", "", "", "",
    "vrex r %%A @%%LM", "vrex af %%A @%%LM", "vrex mf %%A @%%LM", "vrex a %%A @%%LM",
    "vrex m %%A @%%LM", "*.*"};
const char* const OTHER_COMMANDS[kSlotCount] = {
    "vrex x %%A @%%LM", "vrex e %%A @%%LM", "vrex t %%A @%%LM", "", "", "", "", "", "",
    "", "", "", "", "", "*.*"};

void CopyText(char* to, const char* from) {
  while ((*to++ = *from++) != 0) {
  }
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// True when the text after the last dot of `fileName` is `extension`
// (lower case) as a whole, in any letter case.
int HasExtension(const char* fileName, const char* extension) {
  const char* dot = nullptr;
  for (const char* p = fileName; *p; ++p)
    if (*p == '.') dot = p;
  if (!dot) return 0;
  const char* p = dot + 1;
  for (; *p && *extension; ++p, ++extension)
    if (LowerAscii(*p) != *extension) return 0;
  return *p == 0 && *extension == 0;
}

int IsFourByteTag(uint32_t tag) {
  switch (tag) {
    case TAG_IWAD: case TAG_PWAD: case TAG_DMVL: case TAG_DSND: case TAG_WAD2:
    case TAG_PACK: case TAG_CSID: case TAG_WAD3: case TAG_LOD: case TAG_OSDS:
    case TAG_SPAK:
      return 1;
  }
  return 0;
}

int IsRffVersion(uint32_t version) {
  return version == kRffPlain || version == kRffEncrypted || version == kRffEncrypted1;
}

// The tag of a format known by more than its first four bytes, from the
// first 12 bytes of a file; 0 for none.
uint32_t TagOfMagic(const uint8_t* header) {
  uint32_t first = GetU32(header);
  if (first == kRffMagic && IsRffVersion(GetU16(header + 4))) return TAG_RFF;
  if (first == kGobMagic) return TAG_GOB;
  if (first == kGob2Magic && GetU32(header + 4) == kGob2Version) return TAG_GOB2;
  for (uint32_t i = 0; i < kGrpMagicSize; ++i)
    if (header[i] != uint8_t(kGrpMagicText[i])) return 0;
  return TAG_GRP;
}

// Reads `width` (at most 4) bytes at the file position into *value. Bytes
// the file does not have count as zero; only a failing read returns 0.
int ReadField(uint32_t* value, DWORD width) {
  uint8_t bytes[4] = {0, 0, 0, 0};
  DWORD got = 0;
  if (!ReadFile(plugin.archiveHandle, bytes, width, &got, nullptr)) return 0;
  *value = GetU32(bytes);
  return 1;
}

void SetLayout(uint32_t position, uint32_t recordSize) {
  plugin.position = position;
  plugin.recordSize = recordSize;
}

// Calls visit(entry, index) for entry `index` of the `count` entries of
// `entrySize` bytes at `at`, as read, in order, for those that lie wholly
// inside the file, until visit returns 0. Returns 0 when a seek or read
// fails, else 1.
template <typename Visit>
int ScanEntries(uint32_t at, uint32_t count, uint32_t entrySize, Visit visit) {
  uint8_t chunk[kScanBytes];
  uint64_t inside = at > plugin.fileSize ? 0 : (plugin.fileSize - at) / entrySize;
  uint32_t total = count < inside ? count : uint32_t(inside);
  uint32_t perChunk = kScanBytes / entrySize;
  if (total && SeekArchive(at) == INVALID_SET_FILE_POINTER) return 0;
  for (uint32_t done = 0; done < total;) {
    uint32_t n = total - done < perChunk ? total - done : perChunk;
    DWORD got = 0;
    if (!ReadFile(plugin.archiveHandle, chunk, n * entrySize, &got, nullptr) || got != n * entrySize) return 0;
    for (uint32_t k = 0; k < n; ++k)
      if (!visit(chunk + k * entrySize, done + k)) return 1;
    done += n;
  }
  return 1;
}

// True when RFF entry `index`, decrypted with `key`, puts its data beyond
// the end of the file.
int RffDataOutside(const uint8_t* entry, uint32_t index, uint32_t key) {
  uint8_t field[8];
  for (uint32_t i = 0; i < 8; ++i) field[i] = entry[kRffOffsetAt + i];
  DecryptDirectory(field, 8, key, index * kRffEntrySize + kRffOffsetAt);
  static_assert(kRffSizeAt == kRffOffsetAt + 4, "the size follows the offset");
  return uint64_t(GetU32(field)) + GetU32(field + 4) > plugin.fileSize;
}

// Version 0x0300: the key other tools write with, when the first key puts
// some member's data outside the file and that key puts none there.
int ChooseRffKey() {
  uint32_t other = (2 * plugin.directoryAt + 1) & 0xFFFF;
  int firstOutside = 0, otherOutside = 0;
  int read = ScanEntries(plugin.directoryAt, plugin.itemCount, kRffEntrySize, [&](const uint8_t* entry, uint32_t i) {
    firstOutside |= RffDataOutside(entry, i, plugin.directoryKey);
    otherOutside |= RffDataOutside(entry, i, other);
    return !(firstOutside && otherOutside);
  });
  if (firstOutside && !otherOutside) plugin.directoryKey = other;
  return read;
}

int ReadRffHeader() {
  uint32_t version = 0, dropped = 0;
  if (!ReadField(&version, 2) || !IsRffVersion(version)) return 0;
  if (!ReadField(&dropped, 2) || !ReadField(&plugin.position, 4) || !ReadField(&plugin.itemCount, 4)) return 0;
  plugin.formatTag = TAG_RFF;
  plugin.recordSize = kRffEntrySize;
  plugin.directoryAt = plugin.position;
  plugin.encrypted = version != kRffPlain;
  plugin.directoryKey = (plugin.position + (version & 0xFF) * plugin.position) & 0xFFFF;
  return version != kRffEncrypted || ChooseRffKey();
}

// GOB v1 and v2: the directory's offset, then its count at that offset; the
// records follow the count.
int ReadGobHeader(uint32_t tag, uint32_t recordSize) {
  uint32_t version = 0, directory = 0;
  if (tag == TAG_GOB2 && (!ReadField(&version, 4) || version != kGob2Version)) return 0;
  if (!ReadField(&directory, 4)) return 0;
  if (SeekArchive(directory) == INVALID_SET_FILE_POINTER || !ReadField(&plugin.itemCount, 4)) return 0;
  plugin.formatTag = tag;
  SetLayout(PositionAfter(directory, 4), recordSize);
  return 1;
}

int ReadGrpHeader() {
  uint8_t rest[kGrpMagicSize - kTagBytes] = {};
  DWORD got = 0;
  if (!ReadFile(plugin.archiveHandle, rest, sizeof rest, &got, nullptr)) return 0;
  for (uint32_t i = 0; i < sizeof rest; ++i)
    if (rest[i] != uint8_t(kGrpMagicText[kTagBytes + i])) return 0;
  if (!ReadField(&plugin.itemCount, 4)) return 0;
  plugin.formatTag = TAG_GRP;
  SetLayout(16, 16);
  return 1;
}

// An SLB file fits when its first word is 0, its table lies inside the file
// and every name in the table begins with "\".
int ReadSlbHeader() {
  uint32_t first = 1, toc = 0;
  if (!ReadField(&first, 4) || first != 0) return 0;
  if (!ReadField(&plugin.itemCount, 4) || !ReadField(&toc, 4)) return 0;
  if (uint64_t(toc) + uint64_t(plugin.itemCount) * kSlbEntrySize > plugin.fileSize) return 0;
  int named = 1;
  int read = ScanEntries(toc, plugin.itemCount, kSlbEntrySize, [&](const uint8_t* entry, uint32_t) {
    named = entry[0] == '\\';
    return named;
  });
  if (!read || !named) return 0;
  SetLayout(toc, kSlbEntrySize);
  return 1;
}

// Reads the header by the tag; returns 0 when a read fails, the tag is not
// one the module knows, the header does not fit its format, or an OSDS
// file's stored size is not its size.
int ReadHeader() {
  uint32_t dropped = 0;
  if (plugin.formatTag == TAG_SLB) return ReadSlbHeader();
  if (plugin.formatTag != TAG_STK && !ReadField(&plugin.formatTag, kTagBytes)) return 0;
  if ((plugin.formatTag & kLowThreeBytes) == TAG_DHF) {
    plugin.formatTag = TAG_DHF;
    SetLayout(3, 17);
    return 1;
  }
  switch (plugin.formatTag) {
    case TAG_PACK:
    case TAG_SPAK:
      if (!ReadField(&plugin.position, 4) || !ReadField(&plugin.itemCount, 4)) return 0;
      plugin.recordSize = plugin.formatTag == TAG_PACK ? 64 : 128;
      plugin.itemCount /= plugin.recordSize;
      return 1;
    case TAG_IWAD:
    case TAG_PWAD:
    case TAG_WAD2:
    case TAG_WAD3:
      if (!ReadField(&plugin.itemCount, 4) || !ReadField(&plugin.position, 4)) return 0;
      plugin.recordSize = (plugin.formatTag == TAG_IWAD || plugin.formatTag == TAG_PWAD) ? 16 : 32;
      return 1;
    case TAG_LOD:
      if (!ReadField(&dropped, 4) || !ReadField(&plugin.itemCount, 4)) return 0;
      SetLayout(92, 32);
      return 1;
    case TAG_STK:
      if (!ReadField(&plugin.itemCount, 2)) return 0;
      SetLayout(2, 22);
      return 1;
    case TAG_DMVL:
      if (!ReadField(&plugin.itemCount, 4)) return 0;
      SetLayout(8, 17);
      return 1;
    case TAG_CSID:
      if (!ReadField(&plugin.itemCount, 2)) return 0;
      SetLayout(7, 20);  // skips each entry's one-byte name length
      return 1;
    case TAG_DSND:
      if (!ReadField(&dropped, 4) || !ReadField(&plugin.itemCount, 4)) return 0;
      SetLayout(12, 20);
      return 1;
    case TAG_OSDS:
      if (!ReadField(&plugin.itemCount, 4)) return 0;
      if (plugin.itemCount != plugin.fileSize) return 0;
      if (!ReadField(&plugin.position, 4) || !ReadField(&plugin.itemCount, 4)) return 0;
      plugin.recordSize = 32;
      return 1;
    case kRffMagic:
      return ReadRffHeader();
    case kGobMagic:
      return ReadGobHeader(TAG_GOB, 21);
    case kGob2Magic:
      return ReadGobHeader(TAG_GOB2, 136);
    case kGrpMagic:
      return ReadGrpHeader();
  }
  return 0;
}

void CloseOpenArchive() {
  if (plugin.archiveHandle) CloseHandle(plugin.archiveHandle);
  plugin.archiveHandle = nullptr;
}
}  // namespace

VREX_EXPORT int32_t VREX_CALL IsArchive(const char* fileName, const uint8_t* header, int32_t headerSize) {
  // Only the bytes the host handed over are read; any others count as zero.
  uint8_t first[kTagBytes] = {0, 0, 0, 0};
  for (int32_t i = 0; header && i < headerSize && i < int32_t(kTagBytes); ++i) first[i] = header[i];
  plugin.formatTag = GetU32(first);
  if (headerSize < kHeaderMinimum) return 0;
  if (fileName && (HasExtension(fileName, "stk") || HasExtension(fileName, "itk"))) {
    plugin.formatTag = TAG_STK;
    return 1;
  }
  if (!header) return 0;
  if (fileName && HasExtension(fileName, "slb") && plugin.formatTag == 0) {
    plugin.formatTag = TAG_SLB;  // the open checks the rest of the header
    return 1;
  }
  if (IsFourByteTag(plugin.formatTag)) return 1;
  if ((plugin.formatTag & kLowThreeBytes) == TAG_DHF) return 1;
  uint32_t tag = TagOfMagic(header);
  if (tag) plugin.formatTag = tag;
  return tag != 0;
}

VREX_EXPORT int32_t VREX_CALL OpenArchive(const char* fileName, uint32_t* tagOut) {
  CloseOpenArchive();  // one archive at a time: never leak the previous handle
  if (!fileName) return 0;
  HANDLE file = CreateFileA(fileName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  plugin.archiveHandle = file;
  plugin.fileSize = GetFileSize(file, nullptr);
  if (!ReadHeader()) {
    CloseOpenArchive();
    return 0;
  }
  if (tagOut) *tagOut = plugin.formatTag;
  plugin.itemIndex = 0;
  plugin.groupCountdown = 1;
  plugin.folderPrefix[0] = 0;
  return 1;
}

VREX_EXPORT int32_t VREX_CALL CloseArchive(int32_t) {
  if (!plugin.archiveHandle) return 0;
  int32_t closed = CloseHandle(plugin.archiveHandle) ? 1 : 0;
  plugin.archiveHandle = nullptr;
  return closed;
}

VREX_EXPORT int32_t VREX_CALL GetFormatName(uint32_t tag, char* formatName, char* defaultExtension) {
  for (const FormatRow& row : kFormats) {
    if (row.tag != tag) continue;
    if (formatName) CopyText(formatName, row.name);
    if (defaultExtension) CopyText(defaultExtension, row.extension);
    return 1;
  }
  return 0;
}

VREX_EXPORT int32_t VREX_CALL GetDefaultCommands(uint32_t tag, uint32_t index, char* command) {
  const char* const* table = OTHER_COMMANDS;
  if (tag == TAG_PACK || tag == TAG_SPAK) table = PACK_COMMANDS;
  if (tag == TAG_IWAD || tag == TAG_PWAD || tag == TAG_WAD2 || tag == TAG_WAD3) table = WAD_COMMANDS;
  if (tag == TAG_LOD || tag == TAG_DMVL || tag == TAG_CSID || tag == TAG_DHF || tag == TAG_STK) table = FLAT_COMMANDS;
  if (tag == TAG_RFF || tag == TAG_GOB || tag == TAG_GOB2 || tag == TAG_SLB || tag == TAG_GRP)
    table = WRITABLE_COMMANDS;
  if (index >= kSlotCount) return 0;
  if (command) CopyText(command, table[index]);
  return 1;
}

#ifdef _WIN32
// The module does nothing when it is loaded or unloaded.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
#endif
