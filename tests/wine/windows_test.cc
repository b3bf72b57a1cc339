// What only the Windows build can show, run against vrex.exe under Wine: the
// deny-write share mode between processes, backslash folders made by the
// real folder calls, the usage text of a Windows program path, and
// vrex-host.exe driving VREX.dll and starting vrex.exe from its templates.
//
// Started by the Windows suite with VREX_E2E_EXE and VREX_E2E_LAUNCHER set;
// VREX_WIN_HOLDFILE names the helper that holds a file open, VREX_WIN_HOST
// and VREX_WIN_MODULE the host and the module.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/bytes_builder.h"
#include "tests/support/e2e.h"
#include "tests/support/pack_builder.h"

namespace {
const char* Env(const char* name) {
  const char* value = getenv(name);
  return value && *value ? value : nullptr;
}

#define REQUIRE_WINDOWS_BINARY() \
  if (!TestingWindowsBinary()) GTEST_SKIP() << "runs in the Windows suite only"

const std::string kUsageBody =
    " <operation> <filename> [File1 File2 File3..... | @FileList]\n\nWhere operation is:\n\n"
    "\tl - List file(s)\n\te - Extract file(s)\n\tx - Extract file(s) with folders\n"
    "\td - Delete file(s) from archive\n\tt - Test file(s)\n"
    "\ta[f] - Add file(s) and folder(s) [file(s) only] to archive\n"
    "\tm[f] - Move file(s) and folder(s) [file(s) only] to archive\n";

std::string TwoMembers() { return Pack().Member("a.txt", "alpha").Member("b.txt", "beta").Bytes(); }

std::string WithoutCR(const std::string& text) {
  std::string out;
  for (char c : text)
    if (c != '\r') out += c;
  return out;
}

// A process started through Wine with pipes on its standard streams.
class WineProcess {
 public:
  WineProcess(const std::string& cwd, const std::vector<std::string>& args) {
    int in[2], out[2];
    // Close-on-exec: another child must not keep these pipes open.
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
    std::vector<std::string> all = {Env("VREX_E2E_LAUNCHER")};
    all.insert(all.end(), args.begin(), args.end());
    pid_ = fork();
    if (pid_ == 0) {
      if (chdir(cwd.c_str()) != 0) _exit(126);
      dup2(in[0], 0);
      dup2(out[1], 1);
      int devnull = open("/dev/null", O_WRONLY);
      dup2(devnull, 2);
      close(in[1]);
      close(out[0]);
      std::vector<char*> argv;
      for (auto& s : all) argv.push_back(&s[0]);
      argv.push_back(nullptr);
      execvp(argv[0], argv.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    in_ = in[1];
    out_ = out[0];
  }
  ~WineProcess() { Finish(); }

  // Reads standard output up to the next line end; "" after 30 s or at EOF.
  std::string ReadLine() {
    std::string line;
    char c;
    while (true) {
      pollfd p = {out_, POLLIN, 0};
      if (poll(&p, 1, 30000) <= 0 || read(out_, &c, 1) != 1) return line;
      if (c == '\n') return WithoutCR(line);
      line += c;
    }
  }
  // Ends standard input, collects the rest of the output, waits for the exit.
  std::string Finish() {
    std::string rest;
    if (in_ >= 0) close(in_);
    in_ = -1;
    if (out_ >= 0) {
      char buf[4096];
      ssize_t n;
      while ((n = read(out_, buf, sizeof buf)) > 0) rest.append(buf, size_t(n));
      close(out_);
      out_ = -1;
    }
    if (pid_ > 0) {
      int status = 0;
      waitpid(pid_, &status, 0);
      exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      pid_ = -1;
    }
    return WithoutCR(rest);
  }
  int exitCode() const { return exitCode_; }

 private:
  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, exitCode_ = -1;
};

// holdfile.exe opening `file` in `mode` ("write" or "denywrite"); its first
// line is "held" or "failed <Windows error>".
struct Holder {
  Holder(const TempDir& dir, const char* mode, const std::string& file)
      : process(dir.path(), {Env("VREX_WIN_HOLDFILE"), mode, file}), status(process.ReadLine()) {}
  WineProcess process;
  std::string status;
};

TEST(Share, AWriterInAnotherProgramKeepsEveryOperationOut) {
  REQUIRE_WINDOWS_BINARY();
  TempDir dir;
  std::string bytes = TwoMembers();
  dir.Write("a.pak", bytes);
  Holder writer(dir, "write", "a.pak");
  ASSERT_EQ(writer.status, "held");
  for (const char* op : {"l", "x", "t", "d"}) {
    RunResult r = Vrex(dir.path(), {op, "a.pak", "a.txt"});
    EXPECT_EQ(r.exitCode, 2) << op;
    EXPECT_EQ(r.out, Banner()) << op;
    EXPECT_EQ(r.err, "\topen failed: Permission denied\n") << op;
  }
  writer.process.Finish();
  EXPECT_EQ(dir.Read("a.pak"), bytes);
  EXPECT_FALSE(dir.Exists("a.txt"));
}

TEST(Share, AReaderThatDeniesWritersAllowsReadingButNotDeletion) {
  REQUIRE_WINDOWS_BINARY();
  TempDir dir;
  std::string bytes = TwoMembers();
  dir.Write("a.pak", bytes);
  Holder reader(dir, "denywrite", "a.pak");
  ASSERT_EQ(reader.status, "held");
  RunResult list = Vrex(dir.path(), {"l", "a.pak"});
  RunResult extract = Vrex(dir.path(), {"e", "a.pak", "b.txt"});
  RunResult remove = Vrex(dir.path(), {"d", "a.pak", "a.txt"});
  reader.process.Finish();
  EXPECT_EQ(list.exitCode, 0);
  EXPECT_NE(list.out.find("\n2 matches found\n"), std::string::npos);
  EXPECT_EQ(extract.exitCode, 0);
  EXPECT_EQ(dir.Read("b.txt"), "beta");
  EXPECT_EQ(remove.exitCode, 2);
  EXPECT_EQ(remove.err, "\topen failed: Permission denied\n");
  EXPECT_EQ(dir.Read("a.pak"), bytes);
}

// vrex itself holds the archive deny-write: while it waits for its list file
// (a FIFO the test writes late), no other program may open the archive for
// writing, while reading it stays possible.
TEST(Share, VrexKeepsOtherWritersOutWhileItRuns) {
  REQUIRE_WINDOWS_BINARY();
  TempDir dir;
  dir.Write("a.pak", TwoMembers());
  ASSERT_EQ(mkfifo(dir.Join("names").c_str(), 0600), 0);
  // Read-write, so vrex's open of the list file doesn't wait for a writer.
  int fifo = open(dir.Join("names").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fifo, 0);
  WineProcess vrex(dir.path(), {Env("VREX_E2E_EXE"), "t", "a.pak", "@names"});
  ASSERT_EQ(vrex.ReadLine(), WithoutCR(Banner().substr(0, Banner().size() - 1)));
  ASSERT_EQ(vrex.ReadLine(), "Searching PACK (2 files)");

  Holder writer(dir, "write", "a.pak");
  writer.process.Finish();
  Holder reader(dir, "denywrite", "a.pak");
  reader.process.Finish();

  ASSERT_EQ(write(fifo, "b.txt\n", 6), 6);
  close(fifo);
  std::string rest = vrex.Finish();
  EXPECT_EQ(writer.status, "failed 32");  // ERROR_SHARING_VIOLATION
  EXPECT_EQ(reader.status, "held");
  EXPECT_EQ(rest, "Testing B.TXT\n\n1 matches found\n");
  EXPECT_EQ(vrex.exitCode(), 0);
}

TEST(Folders, BackslashFoldersOfAWadAreMadeUnderX) {
  REQUIRE_WINDOWS_BINARY();
  TempDir dir;
  Bytes wad;
  wad.Raw("WAD2").U32(2).U32(12 + 7);
  wad.Raw("palette").Raw("");
  wad.U32(12).U32(7).U32(7).U32(0x40).Name("GFX\\PAL\\DEFAULT", 16);
  wad.U32(12).U32(3).U32(3).U32(0x40).Name("TOP", 16);
  dir.Write("a.wad", wad.str());
  RunResult x = Vrex(dir.path(), {"x", "a.wad"});
  EXPECT_EQ(x.exitCode, 0);
  EXPECT_EQ(x.out, Banner() + "Searching WAD2 (2 files)\nExtracting GFX\\PAL\\DEFAULT\nExtracting TOP\n"
                              "\n2 matches found\n");
  EXPECT_TRUE(dir.IsDir("GFX/PAL"));
  EXPECT_EQ(dir.Read("GFX/PAL/DEFAULT"), "palette");
  EXPECT_EQ(dir.Read("TOP"), "pal");

  TempDir flat;
  flat.Write("a.wad", wad.str());
  RunResult e = Vrex(flat.path(), {"e", "a.wad", "gfx\\*"});
  EXPECT_EQ(e.exitCode, 0);
  EXPECT_EQ(flat.Read("DEFAULT"), "palette");
  EXPECT_FALSE(flat.Exists("GFX"));
}

// In a PACK only "/" separates folders; a backslash is part of the name, and
// Windows takes it for a folder that vrex does not make.
TEST(Folders, ABackslashInsideAPackNameMakesNoFolder) {
  REQUIRE_WINDOWS_BINARY();
  TempDir dir;
  dir.Write("a.pak", Pack().Member("sub\\b.txt", "beta").Bytes());
  RunResult r = Vrex(dir.path(), {"x", "a.pak"});
  EXPECT_EQ(r.exitCode, 4);
  EXPECT_EQ(r.out, Banner() + "Searching PACK (1 files)\nExtracting sub\\b.txt\nCan't open sub\\b.txt - skiped\n"
                              "\n1 matches found\n");
  EXPECT_FALSE(dir.Exists("sub"));

  ASSERT_EQ(mkdir(dir.Join("sub").c_str(), 0755), 0);
  r = Vrex(dir.path(), {"x", "a.pak"});
  EXPECT_EQ(dir.Read("sub/b.txt"), "beta");
}

TEST(Usage, TheProgramPathIsStrippedAtTheLastBackslash) {
  REQUIRE_WINDOWS_BINARY();
  TempDir dir;
  // Wine hands a program its own path as a Windows path, Z:\...\vrex.exe.
  RunResult r = Vrex(dir.path(), {});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, Banner() + "Usage: vrex.exe" + kUsageBody);
}

TEST(Names, ListFilesAreReadAsTextWithCRLFLineEnds) {
  REQUIRE_WINDOWS_BINARY();
  TempDir dir;
  dir.Write("a.pak", TwoMembers());
  dir.Write("names.lst", "B.TXT\r\nnone\r\na.txt");
  RunResult r = Vrex(dir.path(), {"e", "a.pak", "@names.lst"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, Banner() + "Searching PACK (2 files)\nExtracting A.TXT\nExtracting B.TXT\n\n2 matches found\n");
  EXPECT_EQ(dir.Read("a.txt"), "alpha");
}
}  // namespace
