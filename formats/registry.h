// The formats vrex reads, and how a file is matched to one of them.
//
// Extensions are tried first (the name as typed, the text behind its last
// dot, ASCII case ignored), in registry order; then the first bytes.
#ifndef VREX_FORMATS_REGISTRY_H
#define VREX_FORMATS_REGISTRY_H

#include <cstdint>

#include "core/format.h"

// The format a file name's extension decides, or null.
const Format* FormatByExtension(const char* fileName);

// The format whose magic the first four bytes (read as a little-endian
// number) hold, or null. *tag becomes the format tag: the four bytes, or
// for a three-byte magic the three bytes and a zero byte.
const Format* FormatByMagic(uint32_t firstBytes, uint32_t* tag);

// The format a and m make a missing archive in, by its extension, or null.
const Format* FormatForNewArchive(const char* fileName);

// The format a creation option (an argument behind the archive name such as
// -wad2, ASCII case ignored) makes a missing archive in, with *magic set to
// that archive's magic; null for any other argument.
const Format* FormatByCreationOption(const char* argument, const char** magic);

#endif
