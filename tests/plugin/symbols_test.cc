// The built module's dynamic symbol table, read with nm: exactly the six
// exports are defined, and nothing that allocates memory is imported.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>

namespace {
// Symbol names (version suffixes cut) of `nm -D <flag>` on the module.
std::set<std::string> DynamicSymbols(const std::string& flag) {
  std::string command = std::string("'") + VREX_NM_PATH + "' -D " + flag + " '" + VREX_MODULE_PATH + "'";
  FILE* p = popen(command.c_str(), "r");
  EXPECT_NE(p, nullptr);
  std::set<std::string> names;
  char line[512];
  while (p && fgets(line, sizeof line, p)) {
    std::istringstream fields(line);
    std::string a, b, c;
    fields >> a >> b >> c;
    std::string name = c.empty() ? b : c;  // undefined symbols have no address column
    name = name.substr(0, name.find('@'));
    if (!name.empty()) names.insert(name);
  }
  EXPECT_EQ(p ? pclose(p) : -1, 0) << command;
  return names;
}

TEST(Symbols, ExportsExactlyTheSixFunctions) {
  EXPECT_EQ(DynamicSymbols("--defined-only"),
            (std::set<std::string>{"IsArchive", "OpenArchive", "GetArcItem", "CloseArchive", "GetFormatName",
                                   "GetDefaultCommands"}));
}

TEST(Symbols, ImportsNoAllocation) {
  std::set<std::string> imported = DynamicSymbols("--undefined-only");
  ASSERT_FALSE(imported.empty());
  for (const char* name : {"malloc", "calloc", "realloc", "free", "strdup", "_Znwm", "_Znam", "fopen"})
    EXPECT_EQ(imported.count(name), 0u) << name;
}
}  // namespace
