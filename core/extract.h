// Member extraction: the one routine every format's extraction and test goes
// through, the folders it makes, and the rules that keep it inside the output
// folder (the current folder, or the run's outputFolder).
//
// ExtractMember prints the member's line ("Extracting NAME", the rule's verb
// for it, "Testing NAME" under t) and every failure of the member on
// standard output, and returns whether the member was written (under t:
// read) whole. Its bytes come from a MemberSource, a chunk at a time through
// one buffer of at most EXTRACT_CHUNK bytes, whatever the member's size; the
// rule's decode step, if any, is applied to each chunk before it is written.
//
// The file is named after the member's stored name, its folders made under
// x; the lines show the name copy. A missing file is created exclusively and
// removed again if the member fails. An existing plain file or symbolic link
// stays as it is until the member has been written whole into a temporary
// file beside it (a hidden name ending in PART_SUFFIX, created exclusively),
// which is then renamed over it: a link is replaced, never written through.
// A folder, a read-only file, a file that can't be replaced and anything
// else is not written ("Can't open"). Nothing is written outside the output
// folder: unsafe output paths are refused, and so is a file that is the
// archive itself.
//
// How a format supplies a member's bytes: plain members are their stored
// bytes (ExtractStored, which applies the decode step named in the format's
// row); a format whose bytes are made from what is stored hands
// ExtractMember a source of its own (LOD inflates its zlib streams so).
#ifndef VREX_CORE_EXTRACT_H
#define VREX_CORE_EXTRACT_H

#include <cstddef>
#include <cstdint>

#include "core/format.h"

constexpr size_t EXTRACT_CHUNK = 256 * 1024;  // the most a member's copy holds in memory
constexpr char PART_SUFFIX[] = ".vrex-part";  // the temporary file of a replaced file

// The bytes of one member in order. The routine asks Room() for working
// memory the source needs beside the routine's buffer, allocates both as one
// block and hands it over with Use, unless Failure() is set already (nothing
// is allocated for a member that can't be read at all). Read puts up to
// `room` of the member's next bytes into `buffer` and returns how many; 0
// ends the member: whole unless Failure() then names the line that reports
// why not ("\t--- read error ---\n").
class MemberSource {
 public:
  virtual size_t Room() const { return 0; }
  virtual void Use(uint8_t* room) { (void)room; }
  virtual size_t Read(uint8_t* buffer, size_t room) = 0;
  virtual const char* Failure() const = 0;

 protected:
  ~MemberSource() = default;
};

// A member's bytes as they lie in the archive: `size` bytes at `offset`. A
// range that can't lie inside the archive fails before anything is read.
class StoredBytes final : public MemberSource {
 public:
  StoredBytes(const ArchiverState& run, uint32_t offset, uint32_t size);
  size_t Read(uint8_t* buffer, size_t room) override;
  const char* Failure() const override;
  uint32_t Left() const { return left_; }  // bytes not read yet

 private:
  File& archive_;
  uint32_t offset_;
  uint32_t left_;
  bool started_ = false;
  bool failed_;
};

// How a member is extracted, beside its bytes.
struct ExtractRule {
  const char* verb = "Extracting";  // the word of its line under x and e
  bool wholeName = false;           // written under its whole name under e too, and no folders made for it
  DecodeStep decode = nullptr;      // applied to each chunk read
};

bool ExtractMember(const ArchiverState& run, const Member& m, MemberSource& source, const ExtractRule& rule);

// The member's stored bytes (m.size bytes at m.offset), through `decode`.
bool ExtractStored(const ArchiverState& run, const Member& m, DecodeStep decode = nullptr);

// A member a format never extracts (or tests): its line, then `why` (a
// format with one %s, the name, such as "External %s - skipped\n"). Returns
// false: the member was not extracted whole.
bool SkipMember(const ArchiverState& run, const Member& m, const char* why);

// A folder record: its line, like a member's; under x its folders are made.
bool ExtractFolder(const ArchiverState& run, const Member& m);

// The folder separator of a format: "/" for PACK and SPAK, "\" otherwise.
char FolderSeparator(uint32_t formatTag);

// Whether an output path stays inside the output folder: not absolute, no
// drive prefix, no ".." component (split at "/" and "\").
int IsSafeOutputPath(const char* path);

// Makes the folders of a member's stored name (split at the format's
// separator) below the output folder. Prints "\t--- folder error --- " and
// returns false when one can't be made.
bool MakeFolders(const ArchiverState& run, const char* name);

// Makes the output folder and its parents where missing; false when it
// can't be had as a folder.
bool MakeOutputFolder(FileSystem& fs, const char* folder);

// Whether an output path names the archive being read (a member of the
// archive's own name must never be written over it). Prints the refusal.
bool RefuseTheArchive(const ArchiverState& run, const char* output, const char* name);

// The output file name of a member: the whole name (withFolders) or its last
// component; where the platform's separator differs from the format's, the
// format's becomes the platform's. Returns a pointer into `out`, which must
// hold strlen(name) + 1 bytes.
char* OutputName(uint32_t formatTag, const char* name, int withFolders, char* out);

#endif
