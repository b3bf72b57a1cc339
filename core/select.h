// Name selection: the name list built from the arguments behind the archive
// name and from @list files, and the wildcard matcher.
//
// Patterns are upper-cased (ASCII only) when collected. MatchName compares
// bytes exactly with "*" and "?" wildcards; IsSelected upper-cases the name
// copy in place and tries the patterns in list order. An empty list selects
// every member (none with its `none` set) and leaves the name copy as it
// was. Arguments that begin with "/" or "-" are switches, not patterns; the
// option -o takes the argument behind it as its value, whatever it is. A
// list file holds one pattern a line; a line longer than 1023 characters
// gives one pattern per piece.
#ifndef VREX_CORE_SELECT_H
#define VREX_CORE_SELECT_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/state.h"

class File;
class FileSystem;

void CollectNames(FileSystem& fs, NameList* list, int32_t argc, char** argv);
void LoadListFile(FileSystem& fs, NameList* list, const char* fileName);
int MatchName(const char* name, const char* pattern);
int IsSelected(const NameList& list, char* nameCopy);

// Whether an argument is the option -o (in either letter case).
bool IsOutputOption(const char* argument);
// The value of the last -o among the arguments (null: none); 0 when an -o
// is the last argument and has no value.
int OutputFolderOption(int32_t argc, char** argv, const char** folder);

// Upper-cases a-z in place.
void UpperCaseAscii(char* text);

// Releases the name list (patterns taken from argv are not copies).
void ReleaseNames(NameList* list, char** argv, int argc);

// Reads a text file a line at a time. A line ends at "\n" or "\r\n" or at
// the end of the file; a line longer than `limit` characters comes in
// pieces of `limit` characters. The line end is not part of the line, nor
// is a carriage return left at its end.
class LineReader {
 public:
  explicit LineReader(File& file) : file_(file) {}
  // False at the end of the file, or when a read failed (Failed() says).
  bool Next(std::string* line, size_t limit = SIZE_MAX);
  bool Failed() const { return failed_; }

 private:
  int Get();  // the next byte, or -1
  File& file_;
  char buffer_[65536];
  size_t at_ = 0;
  size_t filled_ = 0;
  bool end_ = false;
  bool failed_ = false;
};

#endif
