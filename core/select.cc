// Name list, list files and the wildcard matcher.
#include "core/select.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "core/file.h"
#include "core/memory.h"

namespace {
constexpr int32_t kGrowStep = 256;
constexpr int kListLineBuffer = 1024;

// Makes room for one more pattern. Prints the allocation message and
// returns 0 when the array can't grow.
int GrowNames(NameList* list) {
  if (list->count % kGrowStep != 0) return 1;
  size_t bytes = (size_t(list->count) + kGrowStep) * sizeof(char*);
  char** grown = static_cast<char**>(Reallocate(list->names, bytes));
  if (!grown) {
    printf("Can't allocate %ul bytes\n", unsigned(bytes));
    return 0;
  }
  list->names = grown;
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
    void* grown = Reallocate(memoBlock, entries * sizeof(size_t));
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

int IsSelected(const NameList& list, char* nameCopy) {
  if (list.count == 0) return !list.none;
  UpperCaseAscii(nameCopy);
  for (int32_t i = 0; i < list.count; ++i)
    if (MatchName(nameCopy, list.names[i])) return 1;
  return 0;
}

void LoadListFile(FileSystem& fs, NameList* list, const char* fileName) {
  std::unique_ptr<File> file = fs.Open(fileName, OPEN_READ, false);
  if (!file) {
    printf("Can't load list file %s - ignored\n", fileName);
    return;
  }
  LineReader lines(*file);
  std::string line;
  while (lines.Next(&line, kListLineBuffer - 1)) {
    if (!GrowNames(list)) break;
    char* copy = static_cast<char*>(Allocate(line.size() + 1));
    if (!copy) {
      printf("Can't allocate %ul bytes\n", unsigned(line.size() + 1));
      break;
    }
    memcpy(copy, line.c_str(), line.size() + 1);
    UpperCaseAscii(copy);
    list->names[list->count++] = copy;
  }
}

bool IsOutputOption(const char* argument) {
  return argument[0] == '-' && (argument[1] == 'o' || argument[1] == 'O') && argument[2] == 0;
}

int OutputFolderOption(int32_t argc, char** argv, const char** folder) {
  *folder = nullptr;
  for (int32_t i = 0; i < argc; ++i) {
    if (!IsOutputOption(argv[i])) continue;
    if (++i == argc) return 0;
    *folder = argv[i];
  }
  return 1;
}

void CollectNames(FileSystem& fs, NameList* list, int32_t argc, char** argv) {
  for (int32_t i = 0; i < argc; ++i) {
    char* argument = argv[i];
    if (IsOutputOption(argument)) ++i;  // its value is no pattern either
    if (argument[0] == '/' || argument[0] == '-') continue;  // switches are not patterns
    if (argument[0] == '@') {
      LoadListFile(fs, list, argument + 1);
      continue;
    }
    if (!GrowNames(list)) return;
    UpperCaseAscii(argument);
    list->names[list->count++] = argument;
  }
}

void ReleaseNames(NameList* list, char** argv, int argc) {
  for (int32_t i = 0; i < list->count; ++i) {
    bool fromCommandLine = false;
    for (int a = 0; a < argc && !fromCommandLine; ++a) fromCommandLine = list->names[i] == argv[a];
    if (!fromCommandLine) Release(list->names[i]);
  }
  Release(list->names);
  *list = NameList();
}

int LineReader::Get() {
  if (at_ == filled_) {
    if (end_) return -1;
    filled_ = file_.Read(buffer_, sizeof buffer_);
    at_ = 0;
    if (filled_ < sizeof buffer_) {
      end_ = true;
      failed_ = file_.Error() != END_OF_FILE_REASON;
    }
    if (filled_ == 0) return -1;
  }
  return uint8_t(buffer_[at_++]);
}

bool LineReader::Next(std::string* line, size_t limit) {
  line->clear();
  int c = Get();
  if (c < 0) return false;
  for (; c >= 0; c = Get()) {
    if (c == '\n') break;
    if (c == '\r') {
      int next = Get();
      if (next == '\n') break;
      if (next >= 0) --at_;  // not a line end: the byte after it is read again
    }
    line->push_back(char(c));
    if (line->size() == limit) break;
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return true;
}
