// The formats vrex reads, and how a file is matched to one of them.
//
// Extensions are tried first (the name as typed, the text behind its last
// dot, ASCII case ignored), in registry order; then the first bytes. Where a
// format has a check of its own (Detection::fits), the caller applies it.
#ifndef VREX_FORMATS_REGISTRY_H
#define VREX_FORMATS_REGISTRY_H

#include <cstdint>
#include <string>

#include "core/format.h"

// The format a file name's extension decides, or null.
const Format* FormatByExtension(const char* fileName);

// The format whose magic the first four bytes (read as a little-endian
// number) hold, or null. *tag becomes the format tag: the format's own tag
// where it has one, else the four bytes, or for a three-byte magic the
// three bytes and a zero byte.
const Format* FormatByMagic(uint32_t firstBytes, uint32_t* tag);

// The format a and m make a missing archive in, by its extension, or null.
const Format* FormatForNewArchive(const char* fileName);

// The tag of an archive a and m make in `format`: the format's own tag, or
// its magic.
uint32_t NewArchiveTag(const Format& format);

// An option behind the names of a, af, m and mf that makes a missing
// archive in `format` whatever its name, `magic` its first four bytes.
struct CreationOption {
  const char* text;   // "-wad2"
  const Format* format;
  const char* magic;   // or null: the row's new header as it is
  const char* what;   // "a Quake WAD", for the message below
};

// The creation option an argument names (ASCII case ignored), or null.
const CreationOption* CreationOptionNamed(const char* text);

// What a and m can make, for the message about a missing archive whose name
// says no format: ".pak, .wad, ... (-wad2, ... for a Quake WAD, ...)".
std::string NewArchiveChoices();

#endif
