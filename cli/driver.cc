#include "cli/driver.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "core/extract.h"
#include "core/memory.h"
#include "core/select.h"
#include "formats/compact.h"

namespace {
constexpr uint32_t kWalkBroken = 0xFFFFFFFF;

class Driver : public MemberVisitor {
 public:
  Driver(const ArchiverState& run, const Format& format, uint32_t count, uint8_t* marks)
      : run_(run), format_(format), count_(count), marks_(marks) {}

  void Begin() override {
    if (run_.operation == OP_LIST && count_ != 0) fputs(format_.heading, stdout);
  }

  void Visit(Member& m) override {
    if (!Selected(m)) return;
    ++selected_;
    switch (run_.operation) {
      case OP_LIST:
        format_.printRow(m);
        break;
      case OP_EXTRACT:
        Extract(m);
        break;
      case OP_DELETE:
        if (!marks_) break;
        printf("Deleting %s\n", format_.writing->showStoredName ? m.stored : m.name);
        marks_[m.index] = 1;
        break;
    }
  }

  uint32_t selected() const { return selected_; }
  bool incomplete() const { return incomplete_; }

  // The entry a broken tail cuts short, when the run selects it: a member
  // that can't be read whole.
  void CutShort(Member& m) {
    if (run_.operation == OP_EXTRACT && Selected(m)) incomplete_ = true;
  }

 private:
  // The name list decides; for formats with the tilde alias a member whose
  // own name holds "\" is also selected by a pattern that writes it "~". The
  // name keeps its backslashes either way.
  bool Selected(Member& m) {
    if (IsSelected(run_.names, m.name)) return true;
    if (!format_.tildeAlias) return false;
    char* own = m.name + m.ownAt;
    if (!strchr(own, '\\')) return false;
    std::vector<char*> swapped;
    for (char* p = own; *p; ++p)
      if (*p == '\\') swapped.push_back(p);
    for (char* p : swapped) *p = '~';
    bool selected = IsSelected(run_.names, m.name);
    for (char* p : swapped) *p = '\\';
    return selected;
  }

  void Extract(Member& m) {
    bool whole = m.folder         ? ExtractFolder(run_, m)
                 : format_.extract ? format_.extract(run_, m)
                                   : ExtractStored(run_, m, format_.decodeStep);
    if (!whole) incomplete_ = true;
  }

  const ArchiverState& run_;
  const Format& format_;
  uint32_t count_;
  uint8_t* marks_;
  uint32_t selected_ = 0;
  bool incomplete_ = false;
};

WalkResult WalkEntries(const Directory& dir, const Format& format, MemberVisitor& visitor) {
  visitor.Begin();
  Member m;
  const OffsetRule* rule = format.offsets;
  uint32_t start = rule ? rule->dataStart(dir.count) : 0;
  uint64_t next = start;
  for (uint32_t i = 0; i < dir.count; ++i) {
    format.decode(dir.Entry(i), &m);
    m.index = i;
    if (rule && rule->kind == OffsetRule::BACK_TO_BACK) {
      m.offset = next > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(next);
      next += uint64_t(m.size) + rule->gap;
      if (!rule->capped) next &= 0xFFFFFFFFu;  // modulo 2^32, as the offsets the format lists
    } else if (rule) {
      uint64_t at = uint64_t(start) + m.offset;
      m.offset = at > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(at);
    }
    visitor.Visit(m);
  }
  return WALK_DONE;
}

// The entry behind the last whole one, which the end of the file cuts short.
void ReportBrokenTail(const Directory& dir, const Format& format, Driver* driver) {
  Member m;
  format.decode(dir.Entry(dir.count), &m);
  printf("\t%s: entry cut short by the end of the file - the entries before it are complete\n", m.stored);
  driver->CutShort(m);
}
}  // namespace

DriverResult RunFormat(const ArchiverState& run, const Format& format, const Layout& layout,
                       uint8_t* directory, uint32_t count) {
  bool deleting = run.operation == OP_DELETE && format.writing;
  uint8_t* marks = nullptr;
  if (deleting && count) {
    marks = static_cast<uint8_t*>(Allocate(count));
    if (!marks) {
      printf("Can't allocate %ul bytes\n", count);
      return {0, true, false};
    }
    memset(marks, 0, count);
  }

  Directory dir = {&run, directory, count, layout.entrySize};
  Driver driver(run, format, count, marks);
  WalkResult walked = format.walk ? format.walk(dir, driver) : WalkEntries(dir, format, driver);
  if (walked == WALK_DONE && layout.brokenTail) ReportBrokenTail(dir, format, &driver);

  DriverResult result = {driver.selected(), false, driver.incomplete()};
  if (walked == WALK_BROKEN) result.selected = kWalkBroken;
  if (walked != WALK_DONE && run.operation == OP_EXTRACT) result.incomplete = true;
  // A deletion that selects nothing leaves the archive as it is.
  if (deleting && walked != WALK_DONE)
    result.failed = true;
  else if (deleting && driver.selected() != 0)
    result.failed = !FinishDeletion(run, directory, count, marks, *format.writing);
  Release(marks);
  return result;
}
