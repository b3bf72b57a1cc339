#include "tests/support/e2e.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "cli/run.h"
#include "core/file.h"
#include "tests/support/faults.h"
#include "tests/support/bytes_builder.h"
#include "vrex_version.h"

std::string Pattern(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  uint32_t x = seed * 2654435761u + 12345;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = char(x >> 16);
  }
  return s;
}

TempDir::TempDir() {
  const char* base = getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/vrex-test-XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back(0);
  if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  path_ = buf.data();
}

TempDir::~TempDir() {
  std::string cmd = "chmod -R u+rwx '" + path_ + "' 2>/dev/null; rm -rf '" + path_ + "'";
  if (system(cmd.c_str()) != 0) { /* best effort */ }
}

void TempDir::Write(const std::string& relative, const std::string& bytes) const {
  std::ofstream f(Join(relative), std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), std::streamsize(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + relative);
}

std::string TempDir::Read(const std::string& relative) const {
  std::ifstream f(Join(relative), std::ios::binary);
  if (!f) return std::string("<missing ") + relative + ">";
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

bool TempDir::Exists(const std::string& relative) const {
  struct stat st;
  return lstat(Join(relative).c_str(), &st) == 0;
}

bool TempDir::IsDir(const std::string& relative) const {
  struct stat st;
  return stat(Join(relative).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

static void Walk(const TempDir& dir, const std::string& rel, std::map<std::string, std::string>* out) {
  std::string full = rel.empty() ? dir.path() : dir.Join(rel);
  DIR* d = opendir(full.c_str());
  if (!d) return;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    std::string child = rel.empty() ? name : rel + "/" + name;
    if (dir.IsDir(child)) {
      (*out)[child + "/"] = "";
      Walk(dir, child, out);
    } else {
      (*out)[child] = dir.Read(child);
    }
  }
  closedir(d);
}

std::map<std::string, std::string> TempDir::Tree() const {
  std::map<std::string, std::string> out;
  Walk(*this, "", &out);
  return out;
}

void Put(const TempDir& dir, const std::string& path, const std::string& bytes) {
  for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1))
    mkdir(dir.Join(path.substr(0, slash)).c_str(), 0777);
  dir.Write(path, bytes);
}

std::string Banner() { return "Vrex archiver v" VREX_VERSION_SHORT "\tresource archives of classic games\n"; }

static std::string ReadWhole(int fd) {
  std::string s;
  char buf[65536];
  lseek(fd, 0, SEEK_SET);
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) s.append(buf, size_t(n));
  return s;
}

bool TestingWindowsBinary() {
  const char* launcher = getenv("VREX_E2E_LAUNCHER");
  return launcher && *launcher;
}

// A Windows console program ends lines with CRLF; check that and hand back LF.
static std::string FromWindowsText(const std::string& raw, const char* stream) {
  std::string out;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\n' && (i == 0 || raw[i - 1] != '\r'))
      throw std::runtime_error(std::string("bare LF in ") + stream + " of the Windows binary");
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    out += raw[i];
  }
  return out;
}

RunResult RunProgram(const std::string& cwd, std::vector<std::string> argvStrings) {
  std::vector<char*> argv;
  for (auto& s : argvStrings) argv.push_back(&s[0]);
  argv.push_back(nullptr);

  FILE* outFile = tmpfile();
  FILE* errFile = tmpfile();
  fflush(stdout);
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(cwd.c_str()) != 0) _exit(126);
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    dup2(fileno(outFile), 1);
    dup2(fileno(errFile), 2);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  RunResult r;
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.out = ReadWhole(fileno(outFile));
  r.err = ReadWhole(fileno(errFile));
  fclose(outFile);
  fclose(errFile);
  return r;
}

RunResult Vrex(const std::string& cwd, const std::vector<std::string>& args) {
  const char* exe = getenv("VREX_E2E_EXE");
  std::vector<std::string> argv;
  if (TestingWindowsBinary()) argv.push_back(getenv("VREX_E2E_LAUNCHER"));
  argv.push_back(exe && *exe ? exe : VREX_BINARY_PATH);
  argv.insert(argv.end(), args.begin(), args.end());
  RunResult r = RunProgram(cwd, argv);
  if (TestingWindowsBinary()) {
    r.out = FromWindowsText(r.out, "stdout");
    r.err = FromWindowsText(r.err, "stderr");
  }
  return r;
}

RunResult VrexInProcess(const std::string& cwd, const std::vector<std::string>& args,
                        Faults* faults, bool protect) {
  std::vector<std::string> argvStrings = {"vrex"};
  for (const auto& a : args) argvStrings.push_back(a);
  std::vector<char*> argv;
  for (auto& s : argvStrings) argv.push_back(&s[0]);
  argv.push_back(nullptr);

  char oldCwd[4096];
  if (!getcwd(oldCwd, sizeof oldCwd)) throw std::runtime_error("getcwd failed");
  fflush(stdout);
  fflush(stderr);
  FILE* outFile = tmpfile();
  FILE* errFile = tmpfile();
  int savedOut = dup(1), savedErr = dup(2);
  dup2(fileno(outFile), 1);
  dup2(fileno(errFile), 2);
  if (chdir(cwd.c_str()) != 0) throw std::runtime_error("chdir failed");
  Faults none;
  std::unique_ptr<FileSystem> fs = MakeFaultyFileSystem(SystemFileSystem(), faults ? faults : &none);
  InstallAllocationFaults(faults);
  RunResult r;
  r.exitCode = RunVrex(int(argv.size() - 1), argv.data(), *fs, protect);
  InstallAllocationFaults(nullptr);
  fflush(stdout);
  fflush(stderr);
  if (chdir(oldCwd) != 0) throw std::runtime_error("chdir back failed");
  dup2(savedOut, 1);
  dup2(savedErr, 2);
  close(savedOut);
  close(savedErr);
  r.out = ReadWhole(fileno(outFile));
  r.err = ReadWhole(fileno(errFile));
  fclose(outFile);
  fclose(errFile);
  return r;
}
