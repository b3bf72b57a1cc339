// Directory files from arbitrary bytes: the record walk under list, test
// and extract (folders and files into the scratch folder).
#include "fuzz/support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzRunVrex(data, size, "a.dir", {"l", "a.dir"});
  FuzzRunVrex(data, size, "a.dir", {"t", "a.dir", "*"});
  FuzzRunVrex(data, size, "a.dir", {"x", "a.dir"});
  return 0;
}
