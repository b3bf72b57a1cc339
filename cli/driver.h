// The driver: what every format does alike with its members.
//
// RunFormat walks the members of the loaded directory (or the format's own
// walk), selects each by the name list, and for a selected member prints the
// listing row, extracts or tests it, or marks it for deletion; after a
// deleting walk that selected a member it has the archive compacted. It
// prints the listing heading and, for a directory the file cuts short, a
// line naming the entry that ends it. The summary line is the caller's.
#ifndef VREX_CLI_DRIVER_H
#define VREX_CLI_DRIVER_H

#include <cstdint>

#include "core/format.h"

struct DriverResult {
  uint32_t selected;  // all bits set when the walk met a fault of the file
  bool failed;        // a deletion was reported but the archive was left unchanged
  bool incomplete;    // x, e, t: a selected member was not extracted (or read) whole
};

DriverResult RunFormat(const ArchiverState& run, const Format& format, const Layout& layout,
                       uint8_t* directory, uint32_t count);

#endif
