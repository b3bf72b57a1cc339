// GetArcItem: one directory record per call, written into the host's item
// record (size@32, name@44, packedSize@322, nothing else).
//
// Records as the module reads them (u32 little-endian; offsets within the
// bytes read):
//
//   tag     read  name              size       packedSize  next record
//   PACK    64    0, 56 bytes       u32@60     u32@60      +64
//   I/PWAD  16    8, 8 bytes (*)    u32@4      u32@4       +16
//   WAD2/3  32    16, 16 bytes      u32@4      u32@8       +32
//   LOD     32    0, 16 bytes       u32@20     u32@28      +32
//   STK     22    0, 12 bytes       u32@13     u32@13      +22
//   DMVL    17    0, 13 bytes       u32@13     u32@13      +17
//   CSid    20    0, 12 bytes       u32@12     u32@12      +21 (skips a length byte)
//   DHF     17    0, 13 bytes       u32@13     u32@13      +17 + size (the data)
//   DSND    20    0, 8 bytes        u32@8      u32@12      +20
//   OSDS    32    identifier @16    u32@4      u32@8       +32
//   RFF     48    36, 8 bytes (+)   u32@20     u32@20      +48
//   GOB     21    8, 13 bytes       u32@4      u32@4       +21
//   GOB2    136   8, 128 bytes      u32@4      u32@4       +136
//   SPAK    128   0, 120 bytes      u32@124    u32@124     +128
//   SLB     72    1, 63 bytes (-)   u32@68     u32@68      +72
//   GRP     16    0, 12 bytes (=)   u32@12     u32@12      +16
//
//   (*) Doom WAD lumps below 100 bytes are never items; some of them are
//   markers that put the lumps behind them into folders (see below).
//   (+) An RFF item is named NAME.TYPE: the name, then a dot and the type
//   (3 bytes at 33) unless the type is empty. An encrypted directory is
//   decrypted record by record, each byte by its place in the directory.
//   (-) The name at byte 0 begins with "\", which is not shown.
//   (=) Trailing spaces are not part of the name.
//
// A ZipStorage identifier is 16 bytes laid out like a GUID: Data1 u32,
// Data2 u16, Data3 u16, then 8 bytes of Data4; the item is named
// {0x%08X-0x%04X-0x%04X-%02X%02X%02X%02X%02X%02X%02X%02X}.
//
// Names are copied up to their first zero byte or the field's width, padded
// with zeros to that width and always followed by one more zero byte, so a
// name that fills its field is still terminated (at most 129 bytes written,
// a GOB v2 name's).
#include <cstring>

#include "plugin/vrex_module.h"

namespace {
constexpr uint32_t kDoomSizeAt = 4;
constexpr uint32_t kDoomNameAt = 8;
constexpr uint32_t kDoomNameWidth = 8;
constexpr uint32_t kDoomItemMinimum = 100;  // smaller lumps are labels
constexpr int32_t kMapGroupLength = 11;     // the marker's next 10 records
constexpr uint32_t kCsidEntrySize = 21;
constexpr uint32_t kZipSizeAt = 4;
constexpr uint32_t kZipPackedSizeAt = 8;
constexpr uint32_t kZipIdentifierAt = 16;
constexpr uint32_t kRffSizeAt = 20;
constexpr uint32_t kRffTypeAt = 33;
constexpr uint32_t kRffTypeWidth = 3;
constexpr uint32_t kRffNameAt = 36;
constexpr uint32_t kRffNameWidth = 8;

// Where a record keeps its name, size and packed size.
struct RecordRow {
  uint32_t tag;
  uint32_t nameAt, nameWidth, sizeAt, packedSizeAt;
};

constexpr RecordRow kRecords[] = {
    {TAG_PACK, 0, 56, 60, 60},
    {TAG_WAD2, 16, 16, 4, 8},
    {TAG_WAD3, 16, 16, 4, 8},
    {TAG_LOD, 0, 16, 20, 28},
    {TAG_STK, 0, 12, 13, 13},  // the name field is 13 bytes; 12 are shown
    {TAG_DMVL, 0, 13, 13, 13},
    {TAG_CSID, 0, 12, 12, 12},  // read from the entry's second byte
    {TAG_DHF, 0, 13, 13, 13},
    {TAG_DSND, 0, 8, 8, 12},
    {TAG_GOB, 8, 13, 4, 4},
    {TAG_GOB2, 8, 128, 4, 4},
    {TAG_SPAK, 0, 120, 124, 124},
    {TAG_SLB, 1, 63, 68, 68},  // the name field is 64 bytes from its "\"
    {TAG_GRP, 0, 12, 12, 12},
};

// Every name written, with its terminator, fits the item record's name field.
constexpr bool NamesFitTheItemRecord() {
  for (const RecordRow& row : kRecords)
    if (row.nameWidth + 1 > ITEM_NAME_LIMIT) return false;
  return FOLDER_PREFIX_SIZE - 1 + kDoomNameWidth + 1 <= ITEM_NAME_LIMIT &&
         kRffNameWidth + 1 + kRffTypeWidth + 1 <= ITEM_NAME_LIMIT;
}
static_assert(NamesFitTheItemRecord(), "a name would run past the item record's name field");

const RecordRow* FindRecordRow(uint32_t tag) {
  for (const RecordRow& row : kRecords)
    if (row.tag == tag) return &row;
  return nullptr;
}

void WriteSizes(uint8_t* item, uint32_t size, uint32_t packedSize) {
  PutU32(item + ITEM_SIZE_AT, size);
  PutU32(item + ITEM_PACKED_SIZE_AT, packedSize);
}

uint32_t NameLength(const uint8_t* name, uint32_t width) {
  uint32_t n = 0;
  while (n < width && name[n]) ++n;
  return n;
}

// Bounded copy of a name field of `width` bytes, plus the terminator.
void WriteName(uint8_t* item, const uint8_t* field, uint32_t width) {
  uint8_t* name = item + ITEM_NAME_AT;
  uint32_t i = 0;
  for (; i < width && field[i]; ++i) name[i] = field[i];
  for (; i <= width; ++i) name[i] = 0;
}

// Turns the spaces that end a name of `width` bytes, as WriteName wrote it,
// into zeros.
void TrimTrailingSpaces(uint8_t* item, uint32_t width) {
  uint8_t* name = item + ITEM_NAME_AT;
  for (uint32_t n = NameLength(name, width); n > 0 && name[n - 1] == ' '; --n) name[n - 1] = 0;
}

// NAME.TYPE, or NAME alone when the type is empty.
void WriteRffName(uint8_t* item, const uint8_t* record) {
  uint8_t* to = item + ITEM_NAME_AT;
  uint32_t length = NameLength(record + kRffNameAt, kRffNameWidth);
  for (uint32_t i = 0; i < length; ++i) *to++ = record[kRffNameAt + i];
  uint32_t typeLength = NameLength(record + kRffTypeAt, kRffTypeWidth);
  if (typeLength) *to++ = '.';
  for (uint32_t i = 0; i < typeLength; ++i) *to++ = record[kRffTypeAt + i];
  *to = 0;
}

void WriteHex(uint8_t** to, uint32_t value, int digits) {
  static const char kDigits[] = "0123456789ABCDEF";
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) *(*to)++ = uint8_t(kDigits[(value >> shift) & 15]);
}

void WriteText(uint8_t** to, const char* text) {
  while (*text) *(*to)++ = uint8_t(*text++);
}

void WriteIdentifierName(uint8_t* item, const uint8_t* id) {
  uint8_t* to = item + ITEM_NAME_AT;
  WriteText(&to, "{0x");
  WriteHex(&to, GetU32(id), 8);
  WriteText(&to, "-0x");
  WriteHex(&to, GetU16(id + 4), 4);
  WriteText(&to, "-0x");
  WriteHex(&to, GetU16(id + 6), 4);
  WriteText(&to, "-");
  for (int i = 8; i < 16; ++i) WriteHex(&to, id[i], 2);
  WriteText(&to, "}");
  *to = 0;
}

// Appends a marker's name and a backslash to the folder prefix. A marker
// that would not fit in the prefix's 19 characters is not appended.
void AppendMarker(const uint8_t* name) {
  uint32_t length = NameLength(name, kDoomNameWidth);
  uint32_t used = uint32_t(strlen(plugin.folderPrefix));
  if (used + length + 1 > FOLDER_PREFIX_SIZE - 1) return;
  memcpy(plugin.folderPrefix + used, name, length);
  plugin.folderPrefix[used + length] = '\\';
  plugin.folderPrefix[used + length + 1] = 0;
}

// Doom WAD folders. A map marker (MAP..., or E?M...) puts the next 10
// records into its folder; a namespace start (?_START) every record up to a
// namespace end (?_END). Markers met inside a folder extend the prefix,
// which is only ever emptied as a whole. A backslash in a lump's own name is
// shown as "~" so it does not read as a folder. Returns 1 when the record is
// an item.
int DoomWadRecord(const uint8_t* record, uint8_t* item) {
  if (plugin.groupCountdown == 1) {
    plugin.folderPrefix[0] = 0;
    plugin.groupCountdown = 0;
  } else if (plugin.groupCountdown > 1) {
    --plugin.groupCountdown;
  }
  uint32_t size = GetU32(record + kDoomSizeAt);
  const uint8_t* lump = record + kDoomNameAt;
  if (size >= kDoomItemMinimum) {
    uint8_t* to = item + ITEM_NAME_AT;
    WriteText(&to, plugin.folderPrefix);
    uint32_t length = NameLength(lump, kDoomNameWidth);
    for (uint32_t i = 0; i < length; ++i) *to++ = lump[i] == '\\' ? uint8_t('~') : lump[i];
    *to = 0;
    WriteSizes(item, size, size);
    return 1;
  }
  if ((lump[0] == 'M' && lump[1] == 'A' && lump[2] == 'P') || (lump[0] == 'E' && lump[2] == 'M')) {
    plugin.groupCountdown = kMapGroupLength;
    AppendMarker(lump);
  } else if (memcmp(lump + 1, "_START", 6) == 0) {
    plugin.groupCountdown = -1;
    AppendMarker(lump);
  } else if (memcmp(lump + 1, "_END", 4) == 0) {
    plugin.folderPrefix[0] = 0;
    plugin.groupCountdown = 0;
  }
  return 0;
}

// Sets the file position to `position` and keeps what the system returns.
int SeekToPosition() {
  plugin.position = SeekArchive(plugin.position);
  return plugin.position != INVALID_SET_FILE_POINTER;
}

void Advance(uint64_t step) { plugin.position = PositionAfter(plugin.position, step); }
}  // namespace

VREX_EXPORT int32_t VREX_CALL GetArcItem(uint8_t* item, int32_t) {
  if (!plugin.archiveHandle || !item || plugin.recordSize > RECORD_BUFFER_SIZE) return ITEM_IO_ERROR;
  if (!SeekToPosition()) return ITEM_IO_ERROR;
  uint8_t record[RECORD_BUFFER_SIZE];
  for (;;) {
    if (plugin.position > plugin.fileSize) return ITEM_PAST_END;
    memset(record, 0, sizeof record);  // a short read leaves zeros, not the last record
    DWORD got = 0;
    if (!ReadFile(plugin.archiveHandle, record, plugin.recordSize, &got, nullptr)) return ITEM_IO_ERROR;
    if (got == 0) return ITEM_END;
    if (plugin.formatTag != TAG_DHF && plugin.itemIndex++ == plugin.itemCount) return ITEM_END;
    if (plugin.formatTag == TAG_RFF && plugin.encrypted)
      DecryptDirectory(record, got, plugin.directoryKey, plugin.position - plugin.directoryAt);
    Advance(plugin.recordSize);
    if (plugin.formatTag == TAG_IWAD || plugin.formatTag == TAG_PWAD) {
      if (DoomWadRecord(record, item)) return ITEM_READY;
      if (!SeekToPosition()) return ITEM_IO_ERROR;
      continue;
    }
    if (plugin.formatTag == TAG_OSDS) {
      WriteIdentifierName(item, record + kZipIdentifierAt);
      WriteSizes(item, GetU32(record + kZipSizeAt), GetU32(record + kZipPackedSizeAt));
      return ITEM_READY;
    }
    if (plugin.formatTag == TAG_RFF) {
      WriteRffName(item, record);
      WriteSizes(item, GetU32(record + kRffSizeAt), GetU32(record + kRffSizeAt));
      return ITEM_READY;
    }
    const RecordRow* row = FindRecordRow(plugin.formatTag);
    if (!row) return ITEM_END;
    uint32_t size = GetU32(record + row->sizeAt);
    if (plugin.formatTag == TAG_CSID) Advance(kCsidEntrySize - plugin.recordSize);
    if (plugin.formatTag == TAG_DHF) Advance(size);  // the member's data follows its entry
    WriteName(item, record + row->nameAt, row->nameWidth);
    if (plugin.formatTag == TAG_GRP) TrimTrailingSpaces(item, row->nameWidth);
    WriteSizes(item, size, GetU32(record + row->packedSizeAt));
    return ITEM_READY;
  }
}
