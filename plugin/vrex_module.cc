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
//
// A header read that comes back short (the file ends inside the header)
// leaves the missing bytes zero; only a failing read fails the open.
#include "plugin/vrex_module.h"

PluginState plugin;

namespace {
constexpr int32_t kHeaderMinimum = 12;
constexpr uint32_t kTagBytes = 4;
constexpr uint32_t kLowThreeBytes = 0x00FFFFFF;
constexpr uint32_t kSlotCount = 15;

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
};

// Command templates by slot. "%%A" stands for the archive, "%%LM" for a list
// file of the selected names, "%%LMS" for one whose names use "/" for "\".
// The formats vrex writes get delete (3) and add slots (10 to 13); the
// formats with flat names keep the mask "*.*" and no slot 9.
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
      return 1;
  }
  return 0;
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

// Reads the header by the tag; returns 0 when a read fails, the tag is not
// one the module knows, or an OSDS file's stored size is not its size.
int ReadHeader() {
  uint32_t dropped = 0;
  if (plugin.formatTag != TAG_STK && !ReadField(&plugin.formatTag, kTagBytes)) return 0;
  if ((plugin.formatTag & kLowThreeBytes) == TAG_DHF) {
    plugin.formatTag = TAG_DHF;
    SetLayout(3, 17);
    return 1;
  }
  switch (plugin.formatTag) {
    case TAG_PACK:
      if (!ReadField(&plugin.position, 4) || !ReadField(&plugin.itemCount, 4)) return 0;
      plugin.itemCount >>= 6;
      plugin.recordSize = 64;
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
  if (IsFourByteTag(plugin.formatTag)) return 1;
  if ((plugin.formatTag & kLowThreeBytes) == TAG_DHF) return 1;
  return 0;
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
  if (tag == TAG_PACK) table = PACK_COMMANDS;
  if (tag == TAG_IWAD || tag == TAG_PWAD || tag == TAG_WAD2 || tag == TAG_WAD3) table = WAD_COMMANDS;
  if (tag == TAG_LOD || tag == TAG_DMVL || tag == TAG_CSID || tag == TAG_DHF || tag == TAG_STK) table = FLAT_COMMANDS;
  if (index >= kSlotCount) return 0;
  if (command) CopyText(command, table[index]);
  return 1;
}

#ifdef _WIN32
// The module does nothing when it is loaded or unloaded.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
#endif
