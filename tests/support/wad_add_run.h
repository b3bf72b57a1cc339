// Runs of a and its kin on WAD files in tests (Doom WADs, WAD2, WAD3: the
// entry count sits at offset 4 in all of them), and what x makes of a WAD.
#ifndef VREX_TESTS_SUPPORT_WAD_ADD_RUN_H
#define VREX_TESTS_SUPPORT_WAD_ADD_RUN_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/e2e.h"

inline uint32_t Fnv(const std::string& s) {
  uint32_t hash = 2166136261u;
  for (char c : s) hash = (hash ^ uint8_t(c)) * 16777619u;
  return hash;
}

// Size and hash of some bytes, short enough to compare in bulk.
inline std::string Digest(const std::string& data) {
  char text[32];
  snprintf(text, sizeof text, "%zu/%08X", data.size(), Fnv(data));
  return text;
}

// The pieces of `text` between the `at` characters, empty ones left out.
inline std::vector<std::string> Split(const std::string& text, char at = ' ') {
  std::vector<std::string> out;
  for (size_t from = 0, end; from < text.size(); from = end + 1) {
    end = std::min(text.find(at, from), text.size());
    if (end > from) out.push_back(text.substr(from, end - from));
  }
  return out;
}

// What x writes for a WAD: every file below a fresh folder, with its digest.
inline std::map<std::string, std::string> Extracted(const std::string& wad) {
  TempDir dir;
  dir.Write("w.wad", wad);
  RunResult r = Vrex(dir.path(), {"x", "w.wad"});
  EXPECT_TRUE(r.exitCode == 0 || r.exitCode == 4) << r.out;  // 4: a member x refuses to write
  std::map<std::string, std::string> tree;
  for (const auto& f : dir.Tree())
    if (f.first != "w.wad" && f.first.back() != '/') tree[f.first] = Digest(f.second);
  return tree;
}

// Runs `cmd` (the letter, then the names behind the archive; the letter
// alone names every file in order) on a.wad, made of `before` (no file if
// empty), in a folder holding `files` (path, bytes). Expects the whole
// output for `lines` and exit 9 if one of them says skipped, else 0.
// Returns a.wad afterwards, empty if there is none.
inline std::string RunAdd(const std::string& before, const std::vector<std::pair<std::string, std::string>>& files,
                          const std::string& cmd, const std::string& lines) {
  TempDir dir;
  if (!before.empty()) dir.Write("a.wad", before);
  std::vector<std::string> args = Split(cmd);
  args.insert(args.begin() + 1, "a.wad");
  for (const auto& f : files) {
    Put(dir, f.first, f.second);
    if (cmd.find(' ') == std::string::npos) args.push_back(f.first);
  }
  size_t stored = 0, skipped = 0;
  for (const auto& line : Split(lines, '\n'))
    ++(line.size() > 10 && line.compare(line.size() - 10, 10, " - skipped") == 0 ? skipped : stored);
  std::string summary = stored ? std::to_string(stored) + " files stored" : "(no files stored";
  if (skipped) summary += ", " + std::to_string(skipped) + " skipped";
  if (!stored) summary += ")";
  const std::string heading = before.empty() ? "Creating a.wad" : "Searching " + before.substr(0, 4) + " (" +
      std::to_string(uint8_t(before[4]) | uint8_t(before[5]) << 8) + " files)";
  RunResult r = Vrex(dir.path(), args);
  EXPECT_EQ(r.out, Banner() + heading + "\n" + lines + "\n" + summary + "\n");
  EXPECT_EQ(r.exitCode, skipped ? 9 : 0);
  return dir.Exists("a.wad") ? dir.Read("a.wad") : "";
}

// x, with `pattern` if any, then a of every top-level path x wrote: every
// file replaces the entry it came from. Returns the WAD afterwards.
inline std::string ExtractAndAddBack(const std::string& before, const std::string& pattern, int entries) {
  TempDir dir;
  dir.Write("a.wad", before);
  std::vector<std::string> x = {"x", "a.wad"};
  if (!pattern.empty()) x.push_back(pattern);
  EXPECT_EQ(Vrex(dir.path(), x).exitCode, 0);
  std::vector<std::string> args = {"a", "a.wad"};
  for (const auto& f : dir.Tree()) {
    std::string top = f.first.substr(0, f.first.find('/'));
    if (top != "a.wad" && top != args.back()) args.push_back(top);
  }
  RunResult r = Vrex(dir.path(), args);
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(r.out.find("Adding"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\n" + std::to_string(entries) + " files stored\n"), std::string::npos) << r.out;
  return dir.Read("a.wad");
}

#endif
