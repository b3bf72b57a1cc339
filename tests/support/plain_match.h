// The wildcard matcher exactly as its recursive algorithm reads, without any
// memo: the oracle that tests and fuzz targets compare MatchName with.
#ifndef VREX_TESTS_SUPPORT_PLAIN_MATCH_H
#define VREX_TESTS_SUPPORT_PLAIN_MATCH_H

inline int PlainMatch(const char* name, const char* pattern) {
  while (*name) {
    if (!*pattern) return 0;
    if (*pattern == *name || *pattern == '?') {
      ++name;
      ++pattern;
      continue;
    }
    if (*pattern != '*') return 0;
    ++pattern;
    while (*pattern == '*' || *pattern == '?') ++pattern;
    if (!*pattern) return 1;
    for (const char* at = name; *at; ++at)
      if (*at == *pattern && PlainMatch(at, pattern)) return 1;
    return 0;
  }
  while (*pattern == '*' || *pattern == '?') ++pattern;
  return *pattern == 0;
}

#endif
