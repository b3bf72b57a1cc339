// The registry: every format of vrex, one row each, and the options that
// make new archives.
#include "formats/registry.h"

#include <cstring>
#include <string>
#include <vector>

#include "core/bytes.h"
#include "formats/update.h"

extern const Format kStk, kDir, kCsid, kDmvl, kPack, kLod, kDoomWad, kQuakeWad, kDsnd, kHog, kSpak, kSlb, kGrp, kRff,
    kGob, kGob2;

namespace {
// Extensions and magics never collide: the order decides only how the
// formats a and m make are named in messages.
const Format* const kFormats[] = {
    &kPack, &kDoomWad, &kQuakeWad, &kLod, &kStk, &kHog, &kDmvl, &kSpak, &kSlb, &kGrp, &kRff, &kGob, &kGob2,
    &kCsid, &kDir, &kDsnd,
};

const CreationOption kCreationOptions[] = {
    {"-wad2", &kQuakeWad, "WAD2", "a Quake WAD"},
    {"-wad3", &kQuakeWad, "WAD3", "a Half-Life WAD"},
    {"-iwad", &kDoomWad, "IWAD", "a Doom IWAD"},
    {"-csid", &kCsid, "CSid", "a Chasm BIN"},
    {"-gob2", &kGob2, nullptr, "a Jedi Knight GOB"},  // the row's own header
};

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool SameTextIgnoringCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b)
    if (LowerAscii(*a) != LowerAscii(*b)) return false;
  return *a == *b;
}

// "a, b and c"
std::string Listed(const std::vector<std::string>& items, const char* last) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i)
    out += (i == 0 ? "" : i + 1 == items.size() ? last : ", ") + items[i];
  return out;
}
}  // namespace

const Format* FormatByExtension(const char* fileName) {
  const char* dot = strrchr(fileName, '.');
  if (!dot) return nullptr;
  for (const Format* format : kFormats)
    for (const char* extension : format->detection.extensions)
      if (extension && SameTextIgnoringCase(dot + 1, extension)) return format;
  return nullptr;
}

const Format* FormatByMagic(uint32_t firstBytes, uint32_t* tag) {
  uint8_t bytes[4];
  WriteU32LE(bytes, firstBytes);
  for (const Format* format : kFormats) {
    uint32_t length = format->detection.magicLength;
    for (const char* magic : format->detection.magics) {
      if (!magic || memcmp(bytes, magic, length) != 0) continue;
      *tag = format->detection.tag ? format->detection.tag : length == 4 ? firstBytes : firstBytes & 0x00FFFFFFu;
      return format;
    }
  }
  return nullptr;
}

const Format* FormatForNewArchive(const char* fileName) {
  const char* dot = strrchr(fileName, '.');
  if (!dot) return nullptr;
  for (const Format* format : kFormats) {
    if (!format->writing) continue;
    for (const char* extension : format->writing->extensions)
      if (extension && SameTextIgnoringCase(dot + 1, extension)) return format;
  }
  return nullptr;
}

uint32_t NewArchiveTag(const Format& format) {
  uint32_t length = format.detection.magicLength;
  if (format.detection.tag) return format.detection.tag;
  uint8_t bytes[4] = {};
  memcpy(bytes, format.writing->newHeader, length);
  return ReadU32LE(bytes);
}

const CreationOption* CreationOptionNamed(const char* text) {
  for (const CreationOption& option : kCreationOptions)
    if (SameTextIgnoringCase(text, option.text)) return &option;
  return nullptr;
}

std::string NewArchiveChoices() {
  std::vector<std::string> extensions, options, what;
  for (const Format* format : kFormats) {
    if (!format->writing) continue;
    for (const char* extension : format->writing->extensions)
      if (extension) extensions.push_back(std::string(".") + extension);
  }
  for (const CreationOption& option : kCreationOptions) {
    options.push_back(option.text);
    what.push_back(option.what);
  }
  return Listed(extensions, " and ") + " (" + Listed(options, " or ") + " for " + Listed(what, " or ") + ")";
}
