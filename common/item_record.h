// The host's item record, which the module's GetArcItem fills, and the
// results GetArcItem returns. Header-only facts shared by the VREX module,
// vrex-host and the tests without sharing code.
//
// The module writes three fields of the record and no other byte:
//
//   byte  field       written
//   32    size        u32 little-endian
//   44    name        at most 260 bytes (bytes 44 to 303), the terminating
//                     zero included: a name of up to 259 bytes
//   322   packedSize  u32 little-endian
//
// so a host's record must be at least 326 bytes long. Each format writes at
// most its own name field's width and a terminator; none writes more than
// the 260 bytes.
#ifndef VREX_COMMON_ITEM_RECORD_H
#define VREX_COMMON_ITEM_RECORD_H

#include <cstdint>

enum : uint32_t {
  ITEM_SIZE_AT = 32,
  ITEM_NAME_AT = 44,
  ITEM_NAME_LIMIT = 260,  // bytes of name written at most, terminator included
  ITEM_PACKED_SIZE_AT = 322,
  ITEM_RECORD_MINIMUM = 326,  // packedSize's last byte is byte 325
};

// GetArcItem results.
enum {
  ITEM_END = 0,       // no more items
  ITEM_READY = 1,     // the record holds the next item
  ITEM_PAST_END = 3,  // the directory runs past the end of the file
  ITEM_IO_ERROR = 4,  // nothing open, or the file could not be read
};

#endif
