// Format tags: a file's first four bytes read as a little-endian number, or a
// value that detection sets (STK from the extension stk/itk, DATO from the
// extension Dir, SLB from the extension slb and a header that fits, DHF from
// the first three bytes, RFF, GOB, GOB2 and GRP from their magic). The tags
// that detection sets are never taken from a file's first bytes as they
// stand. Header-only facts shared by vrex, the VREX module, vrex-host and the
// tests without sharing code.
#ifndef VREX_COMMON_TAGS_H
#define VREX_COMMON_TAGS_H

#include <cstdint>

enum : uint32_t {
  TAG_PACK = 0x4B434150,  // "PACK"
  TAG_IWAD = 0x44415749,  // "IWAD"
  TAG_PWAD = 0x44415750,  // "PWAD"
  TAG_WAD2 = 0x32444157,  // "WAD2"
  TAG_WAD3 = 0x33444157,  // "WAD3"
  TAG_LOD = 0x00444F4C,   // "LOD\0"
  TAG_STK = 0x004B5453,   // "STK\0", from the extension stk or itk
  TAG_DMVL = 0x4C564D44,  // "DMVL"
  TAG_CSID = 0x64695343,  // "CSid"
  TAG_DATO = 0x4F544144,  // "DATO", from the extension Dir (vrex only)
  TAG_DSND = 0x444E5344,  // "DSND"
  TAG_OSDS = 0x5344534F,  // "OSDS" (the module only)
  TAG_DHF = 0x00464844,   // "DHF\0": the first three bytes "DHF", any fourth
  TAG_RFF = 0x00464652,   // "RFF\0", from the magic "RFF\x1A" and a known version
  TAG_GOB = 0x00424F47,   // "GOB\0", from the magic "GOB\x0A"
  TAG_GOB2 = 0x32424F47,  // "GOB2", from the magic "GOB " and the version 20
  TAG_SPAK = 0x4B415053,  // "SPAK"
  TAG_SLB = 0x00424C53,   // "SLB\0", from the extension slb (no magic)
  TAG_GRP = 0x00505247,   // "GRP\0", from the magic "KenSilverman"
};

#endif
