// Name selection: the name list built from the arguments behind the archive
// name and from @list files, and the wildcard matcher.
//
// Patterns are upper-cased (ASCII only) when collected. MatchName compares
// bytes exactly with "*" and "?" wildcards; IsSelected upper-cases the name
// copy in place and tries the patterns in list order. An empty list selects
// every member and leaves the name copy as it was.
#ifndef VREX_CLI_SELECT_H
#define VREX_CLI_SELECT_H

#include <cstdint>

void CollectNames(int32_t argc, char** argv);
void LoadListFile(const char* fileName);
int MatchName(const char* name, const char* pattern);
int IsSelected(char* nameCopy);

// Upper-cases a-z in place.
void UpperCaseAscii(char* text);

// Releases the name list (the process end does the same); for repeated runs.
void ReleaseNames(char** argv, int argc);

#endif
