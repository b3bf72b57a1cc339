// The wildcard matcher on arbitrary names and patterns; checks it against
// the plain recursive algorithm when the input is small enough for that.
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/select.h"
#include "tests/support/plain_match.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // name NUL pattern
  std::string input(reinterpret_cast<const char*>(data), size);
  size_t cut = input.find('\0');
  if (cut == std::string::npos) return 0;
  std::string name = input.substr(0, cut);
  std::string pattern = input.substr(cut + 1);
  pattern = pattern.substr(0, pattern.find('\0'));
  int result = MatchName(name.c_str(), pattern.c_str());
  size_t stars = 0;
  for (char c : pattern) stars += c == '*';
  if (name.size() <= 24 && stars <= 4 && PlainMatch(name.c_str(), pattern.c_str()) != result) abort();
  return 0;
}
