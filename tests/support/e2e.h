// End-to-end support: a fresh temporary folder per test, files in it, and
// runs of the real vrex binary (or, in-process, of RunVrex with faults).
//
// The binary is VREX_E2E_EXE when set (optionally started through
// VREX_E2E_LAUNCHER, for example "wine"), else the one built beside the
// tests. A Windows binary writes CRLF line ends: the runner checks that every
// line end is CRLF and hands the tests LF text.
#ifndef VREX_TESTS_SUPPORT_E2E_H
#define VREX_TESTS_SUPPORT_E2E_H

#include <map>
#include <string>
#include <vector>

struct Faults;

struct RunResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string Join(const std::string& relative) const { return path_ + "/" + relative; }
  void Write(const std::string& relative, const std::string& bytes) const;
  std::string Read(const std::string& relative) const;
  bool Exists(const std::string& relative) const;
  bool IsDir(const std::string& relative) const;
  // Every file and folder below the root (relative paths, folders end in "/"),
  // with the file contents; folders map to "".
  std::map<std::string, std::string> Tree() const;

 private:
  std::string path_;
};

// Writes `bytes` to `path` below `dir`, making the folders on the way.
void Put(const TempDir& dir, const std::string& path, const std::string& bytes);

// Runs a program (argv[0] looked up on PATH) in folder `cwd` with no input;
// stdout and stderr are captured as they come.
RunResult RunProgram(const std::string& cwd, std::vector<std::string> argv);

// Runs vrex with `args` (without the program name) in folder `cwd`.
RunResult Vrex(const std::string& cwd, const std::vector<std::string>& args);

// Runs RunVrex in this process, in folder `cwd`, with optional faults
// (and, with protect off, rewriting archives without a recovery record);
// stdout and stderr are captured.
RunResult VrexInProcess(const std::string& cwd, const std::vector<std::string>& args,
                        Faults* faults = nullptr, bool protect = true);

// The first line every run prints.
std::string Banner();

// True when the binary under test is a Windows binary run through a launcher.
bool TestingWindowsBinary();

#endif
