// Name list, list files and the wildcard matcher.
#include "cli/select.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "cli/platform.h"
#include "cli/state.h"

namespace {
constexpr int32_t kGrowStep = 256;
constexpr int kListLineBuffer = 1024;

// Makes room for one more pattern. Prints the allocation message and
// returns 0 when the array can't grow.
int GrowNames() {
  if (state.nameCount % kGrowStep != 0) return 1;
  size_t bytes = (size_t(state.nameCount) + kGrowStep) * sizeof(char*);
  char** grown = static_cast<char**>(PlatformRealloc(state.names, bytes));
  if (!grown) {
    printf("Can't allocate %ul bytes\n", unsigned(bytes));
    return 0;
  }
  state.names = grown;
  return 1;
}

// Matcher context. The matcher backtracks only at a star, where it retries
// the rest of the pattern from each later occurrence of the literal behind
// the star. A star step that failed from name position n fails from every
// later position too (it tries a subset of the same continuations), so the
// matcher remembers, per pattern position, the smallest name position from
// which the star step there failed. Each (name position, pattern position)
// continuation is then tried at most once and the work stays polynomial.
struct Matcher {
  const char* name;
  const char* pattern;
  size_t* failedFrom;  // per pattern position, or null before the first star
  bool ready;
};

size_t* memoBlock = nullptr;
size_t memoCapacity = 0;

void PrepareMemo(Matcher* m) {
  m->ready = true;
  size_t entries = strlen(m->pattern) + 1;
  if (entries > memoCapacity) {
    void* grown = PlatformRealloc(memoBlock, entries * sizeof(size_t));
    if (!grown) return;  // still correct without the memo, only slower
    memoBlock = static_cast<size_t*>(grown);
    memoCapacity = entries;
  }
  for (size_t i = 0; i < entries; ++i) memoBlock[i] = SIZE_MAX;
  m->failedFrom = memoBlock;
}

int MatchFrom(Matcher* m, size_t n, size_t p) {
  const char* name = m->name;
  const char* pattern = m->pattern;
  while (name[n]) {
    if (!pattern[p]) return 0;
    if (pattern[p] == name[n] || pattern[p] == '?') {
      ++n;
      ++p;
      continue;
    }
    if (pattern[p] != '*') return 0;
    // Star step: a run of '*' and '?' behind the star matches any text.
    size_t q = p + 1;
    while (pattern[q] == '*' || pattern[q] == '?') ++q;
    if (!pattern[q]) return 1;
    if (!m->ready) PrepareMemo(m);
    size_t limit = m->failedFrom ? m->failedFrom[q] : SIZE_MAX;
    for (size_t i = n; i < limit && name[i]; ++i)
      if (name[i] == pattern[q] && MatchFrom(m, i, q)) return 1;
    if (m->failedFrom && n < limit) m->failedFrom[q] = n;
    return 0;
  }
  while (pattern[p] == '*' || pattern[p] == '?') ++p;
  return pattern[p] == 0;
}
}  // namespace

void UpperCaseAscii(char* text) {
  for (; *text; ++text)
    if (*text >= 'a' && *text <= 'z') *text = char(*text - 'a' + 'A');
}

int MatchName(const char* name, const char* pattern) {
  Matcher m = {name, pattern, nullptr, false};
  return MatchFrom(&m, 0, 0);
}

int IsSelected(char* nameCopy) {
  if (state.nameCount == 0) return 1;
  UpperCaseAscii(nameCopy);
  for (int32_t i = 0; i < state.nameCount; ++i)
    if (MatchName(nameCopy, state.names[i])) return 1;
  return 0;
}

void LoadListFile(const char* fileName) {
  FILE* list = PlatformOpen(fileName, "rt");
  if (!list) {
    printf("Can't load list file %s - ignored\n", fileName);
    return;
  }
  char line[kListLineBuffer];
  while (fgets(line, sizeof line, list)) {
    if (!GrowNames()) break;
    size_t length = strlen(line);
    if (length && line[length - 1] == '\n') line[--length] = 0;
    if (length && line[length - 1] == '\r') line[--length] = 0;  // list files written on Windows
    char* copy = static_cast<char*>(PlatformAlloc(length + 1));
    if (!copy) {
      printf("Can't allocate %ul bytes\n", unsigned(length + 1));
      break;
    }
    UpperCaseAscii(line);
    memcpy(copy, line, length + 1);
    state.names[state.nameCount++] = copy;
  }
  PlatformClose(list);
}

void CollectNames(int32_t argc, char** argv) {
  for (int32_t i = 0; i < argc; ++i) {
    char* argument = argv[i];
    if (argument[0] == '/' || argument[0] == '-') continue;  // switches are not patterns
    if (argument[0] == '@') {
      LoadListFile(argument + 1);
      continue;
    }
    if (!GrowNames()) return;
    UpperCaseAscii(argument);
    state.names[state.nameCount++] = argument;
  }
}

void ReleaseNames(char** argv, int argc) {
  for (int32_t i = 0; i < state.nameCount; ++i) {
    bool fromCommandLine = false;
    for (int a = 0; a < argc && !fromCommandLine; ++a) fromCommandLine = state.names[i] == argv[a];
    if (!fromCommandLine) PlatformFree(state.names[i]);
  }
  PlatformFree(state.names);
  state.names = nullptr;
  state.nameCount = 0;
}
