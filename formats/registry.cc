// The registry: every format of vrex, one row each.
#include "formats/registry.h"

#include <cstring>

#include "core/bytes.h"
#include "formats/update.h"

extern const Format kStk, kDir, kCsid, kDmvl, kPack, kLod, kDoomWad, kQuakeWad, kDsnd, kHog;

namespace {
const Format* const kFormats[] = {
    &kStk, &kDir, &kCsid, &kDmvl, &kPack, &kLod, &kDoomWad, &kQuakeWad, &kDsnd, &kHog,
};

// What the creation options make: a Quake or Half-Life WAD, a Doom IWAD.
struct CreationOption {
  const char* option;
  const Format* format;
  const char* magic;
};
const CreationOption kCreationOptions[] = {
    {"-wad2", &kQuakeWad, "WAD2"},
    {"-wad3", &kQuakeWad, "WAD3"},
    {"-iwad", &kDoomWad, "IWAD"},
};

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool SameTextIgnoringCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b)
    if (LowerAscii(*a) != LowerAscii(*b)) return false;
  return *a == *b;
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
      *tag = length == 4 ? firstBytes : firstBytes & 0x00FFFFFFu;
      return format;
    }
  }
  return nullptr;
}

const Format* FormatForNewArchive(const char* fileName) {
  const char* dot = strrchr(fileName, '.');
  if (!dot) return nullptr;
  for (const Format* format : kFormats)
    if (format->adding && format->adding->extension && SameTextIgnoringCase(dot + 1, format->adding->extension))
      return format;
  return nullptr;
}

const Format* FormatByCreationOption(const char* argument, const char** magic) {
  for (const CreationOption& option : kCreationOptions) {
    if (!SameTextIgnoringCase(argument, option.option)) continue;
    *magic = option.magic;
    return option.format;
  }
  return nullptr;
}
