// vrex-host: drives the VREX module the way a file manager's archive plug-in
// does, and runs vrex from the module's command templates.
//
//   vrex-host MODULE list ARCHIVE
//   vrex-host MODULE formats
//   vrex-host MODULE commands TAG
//   vrex-host MODULE run SLOT ARCHIVE [NAME...]
//
// run takes the template of slot SLOT for the archive's tag and starts vrex
// from it. Slots 0 to 9 act on the archive's items: the NAMEs are item names
// as "list" shows them, and without NAMEs every item is passed. Slots 10 to
// 13 (af, mf, a, m) add files from disk: the NAMEs are files and folders
// relative to the current folder, and without NAMEs nothing is run (the
// archive's items must never reach a command that looks for them on disk
// and, for m and mf, removes them afterwards). A file manager creates an
// archive through these slots, so an ARCHIVE that does not exist takes its
// tag from its extension (".pak" PACK, ".wad" PWAD, ".lod" LOD, ".stk" and
// ".itk" STK, ".hog" DHF, ".mvl" DMVL, ".rff" RFF, ".gob" GOB, ".goo" GOB2,
// ".sin" SPAK, ".slb" SLB, ".grp" GRP, in any letter case) without
// IsArchive and OpenArchive; any other missing ARCHIVE cannot be opened.
//
// The item record handed to GetArcItem is filled with a sentinel before each
// call; any byte the module changes outside size@32, name@44 (260 bytes at
// most, terminator included) and packedSize@322 stops the program. The text
// buffers of GetFormatName and GetDefaultCommands are checked the same way.
//
// Exit codes: what vrex returned (run); 0 done; 1 not an archive the module
// knows; 2 the archive could not be opened; 10 usage; 11 module not
// loadable or an export missing; 12 the module broke the record contract;
// 13 the slot holds no vrex command; 14 the list file could not be written;
// 127 vrex could not be started.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "common/item_record.h"
#include "common/tags.h"

#ifdef _WIN32
#include <windows.h>
#define VREX_CALL __stdcall
#else
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>
#define VREX_CALL
#endif

namespace {
enum {
  HOST_DONE = 0,
  HOST_NOT_ARCHIVE = 1,
  HOST_NOT_OPENED = 2,
  HOST_USAGE = 10,
  HOST_BAD_MODULE = 11,
  HOST_CONTRACT = 12,
  HOST_NO_COMMAND = 13,
  HOST_NO_LIST = 14,
  HOST_NOT_STARTED = 127,
};

constexpr size_t kHeaderBytes = 1024;
constexpr size_t kRecordBytes = 1024;  // room behind the fields, to catch writes there
static_assert(kRecordBytes >= ITEM_RECORD_MINIMUM, "the item record is too short for the module");
constexpr size_t kTextBytes = 64;
constexpr size_t kFormatNameLimit = 22;  // "Lionhearth ZipStorage" and its zero
constexpr size_t kExtensionLimit = 4;
constexpr size_t kCommandLimit = 19;     // "vrex af %%A @%%LMS" and its zero
constexpr uint32_t kSlotCount = 15;
constexpr unsigned long kFirstAddSlot = 10;  // af, mf, a, m: files from disk into the archive
constexpr unsigned long kLastAddSlot = 13;
constexpr uint8_t kSentinel = 0xA5;

typedef int32_t(VREX_CALL* IsArchiveFn)(const char*, const uint8_t*, int32_t);
typedef int32_t(VREX_CALL* OpenArchiveFn)(const char*, uint32_t*);
typedef int32_t(VREX_CALL* GetArcItemFn)(uint8_t*, int32_t);
typedef int32_t(VREX_CALL* CloseArchiveFn)(int32_t);
typedef int32_t(VREX_CALL* GetFormatNameFn)(uint32_t, char*, char*);
typedef int32_t(VREX_CALL* GetDefaultCommandsFn)(uint32_t, uint32_t, char*);

struct Module {
  IsArchiveFn isArchive;
  OpenArchiveFn openArchive;
  GetArcItemFn getArcItem;
  CloseArchiveFn closeArchive;
  GetFormatNameFn getFormatName;
  GetDefaultCommandsFn getDefaultCommands;
};

// The tags the module knows, in the order "formats" shows them, and one it
// does not ("DATO", a format only vrex reads).
const uint32_t kKnownTags[] = {TAG_PACK, TAG_IWAD, TAG_PWAD, TAG_WAD2, TAG_WAD3, TAG_LOD,
                               TAG_DMVL, TAG_CSID, TAG_DSND, TAG_OSDS, TAG_DHF,  TAG_STK,
                               TAG_RFF,  TAG_GOB,  TAG_GOB2, TAG_SPAK, TAG_SLB,  TAG_GRP};
const uint32_t kUnknownTag = TAG_DATO;

struct Item {
  std::string name;
  uint32_t size;
  uint32_t packedSize;
};

uint32_t GetU32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

int Usage() {
  fprintf(stderr,
          "usage: vrex-host MODULE list ARCHIVE\n"
          "       vrex-host MODULE formats\n"
          "       vrex-host MODULE commands TAG\n"
          "       vrex-host MODULE run SLOT ARCHIVE [NAME...]\n"
          "TAG is 0x followed by hex digits, or up to four letters such as PACK or LOD\n");
  return HOST_USAGE;
}

// ---- platform: loading the module, finding and starting vrex, list files

#ifdef _WIN32
void* LoadModule(const char* path) { return reinterpret_cast<void*>(LoadLibraryA(path)); }
void* FindExport(void* module, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}
const char* ModuleError() { return "LoadLibrary failed"; }

std::string VrexProgram() {
  char self[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
  if (n > 0 && n < sizeof self) {
    std::string path(self, n);
    size_t cut = path.find_last_of("\\/");
    if (cut != std::string::npos) {
      std::string beside = path.substr(0, cut + 1) + "vrex.exe";
      if (GetFileAttributesA(beside.c_str()) != INVALID_FILE_ATTRIBUTES) return beside;
    }
  }
  return "vrex.exe";  // CreateProcess searches the PATH
}

// Quotes one argument so the C runtime's command-line parser gives it back.
std::string QuoteArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + "\"";
}

int RunProgram(const std::vector<std::string>& args) {
  std::string line;
  for (const std::string& a : args) line += (line.empty() ? "" : " ") + QuoteArgument(a);
  std::vector<char> writable(line.begin(), line.end());
  writable.push_back(0);
  STARTUPINFOA startup;
  PROCESS_INFORMATION process;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  fflush(stdout);
  fflush(stderr);
  if (!CreateProcessA(nullptr, writable.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    fprintf(stderr, "vrex-host: cannot start %s (error %lu)\n", args[0].c_str(), GetLastError());
    return HOST_NOT_STARTED;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = HOST_NOT_STARTED;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return int(code);
}

// Creates an empty temporary file and returns its name, or "".
std::string MakeTempFile() {
  char dir[MAX_PATH], path[MAX_PATH];
  DWORD n = GetTempPathA(sizeof dir, dir);
  if (n == 0 || n >= sizeof dir) return "";
  if (!GetTempFileNameA(dir, "vrx", 0, path)) return "";
  return path;
}
void RemoveFile(const std::string& path) { DeleteFileA(path.c_str()); }
#else
void* LoadModule(const char* path) {
  // A bare name would make dlopen search the library path; the module is
  // always loaded from the path given.
  std::string p = strchr(path, '/') ? path : std::string("./") + path;
  return dlopen(p.c_str(), RTLD_NOW | RTLD_LOCAL);
}
void* FindExport(void* module, const char* name) { return dlsym(module, name); }
const char* ModuleError() {
  const char* e = dlerror();
  return e ? e : "dlopen failed";
}

std::string VrexProgram() {
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) {
    std::string path(self, size_t(n));
    size_t cut = path.rfind('/');
    if (cut != std::string::npos) {
      std::string beside = path.substr(0, cut + 1) + "vrex";
      if (access(beside.c_str(), X_OK) == 0) return beside;
    }
  }
  return "vrex";  // execvp searches the PATH
}

int RunProgram(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  fflush(stdout);
  fflush(stderr);
  pid_t child = fork();
  if (child < 0) {
    perror("vrex-host: fork");
    return HOST_NOT_STARTED;
  }
  if (child == 0) {
    execvp(argv[0], argv.data());
    fprintf(stderr, "vrex-host: cannot start %s: %s\n", argv[0], strerror(errno));
    _exit(HOST_NOT_STARTED);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return HOST_NOT_STARTED;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + WTERMSIG(status);
}

std::string MakeTempFile() {
  char path[] = "/tmp/vrex-host-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return "";
  close(fd);
  return path;
}
void RemoveFile(const std::string& path) { unlink(path.c_str()); }
#endif

int LoadExports(const char* path, Module* m) {
  void* handle = LoadModule(path);
  if (!handle) {
    fprintf(stderr, "vrex-host: cannot load %s: %s\n", path, ModuleError());
    return 0;
  }
  struct {
    const char* name;
    void** slot;
  } exports[] = {
      {"IsArchive", reinterpret_cast<void**>(&m->isArchive)},
      {"OpenArchive", reinterpret_cast<void**>(&m->openArchive)},
      {"GetArcItem", reinterpret_cast<void**>(&m->getArcItem)},
      {"CloseArchive", reinterpret_cast<void**>(&m->closeArchive)},
      {"GetFormatName", reinterpret_cast<void**>(&m->getFormatName)},
      {"GetDefaultCommands", reinterpret_cast<void**>(&m->getDefaultCommands)},
  };
  for (auto& e : exports) {
    *e.slot = FindExport(handle, e.name);
    if (!*e.slot) {
      fprintf(stderr, "vrex-host: %s does not export %s\n", path, e.name);
      return 0;
    }
  }
  return 1;
}

// ---- checks of what the module wrote

int InItemField(size_t at) {
  return (at >= ITEM_SIZE_AT && at < ITEM_SIZE_AT + 4) ||
         (at >= ITEM_NAME_AT && at < ITEM_NAME_AT + ITEM_NAME_LIMIT) ||
         (at >= ITEM_PACKED_SIZE_AT && at < ITEM_PACKED_SIZE_AT + 4);
}

// Returns 0 and says why when the module wrote outside the three fields or
// left a reported name without its terminator.
int CheckItemRecord(const std::vector<uint8_t>& record, int32_t result) {
  for (size_t at = 0; at < record.size(); ++at) {
    if (record[at] == kSentinel || InItemField(at)) continue;
    fprintf(stderr, "vrex-host: GetArcItem wrote byte %u of the item record, outside size@32, "
                    "name@44 and packedSize@322\n", unsigned(at));
    return 0;
  }
  if (result == ITEM_READY && !memchr(record.data() + ITEM_NAME_AT, 0, ITEM_NAME_LIMIT)) {
    fprintf(stderr, "vrex-host: GetArcItem left the item name without a terminator within %u bytes\n",
            unsigned(ITEM_NAME_LIMIT));
    return 0;
  }
  return 1;
}

// A text buffer after a call: untouched when the call returned 0, else a
// terminated text of at most `limit` bytes and nothing written behind it.
int CheckText(const char* what, const std::vector<char>& buffer, int32_t result, size_t limit) {
  size_t written = 0;
  for (size_t at = 0; at < buffer.size(); ++at)
    if (uint8_t(buffer[at]) != kSentinel) written = at + 1;
  const char* terminator = static_cast<const char*>(memchr(buffer.data(), 0, buffer.size()));
  if (result == 0 && written == 0) return 1;
  if (result != 0 && terminator && written <= limit && size_t(terminator - buffer.data()) + 1 == written)
    return 1;
  fprintf(stderr, "vrex-host: %s wrote %u bytes (result %d, at most %u allowed)\n", what, unsigned(written),
          int(result), unsigned(result ? limit : 0));
  return 0;
}

// ---- driving the module

// IsArchive and OpenArchive on `archive`; 0 or the host's exit code.
int OpenWithModule(const Module& m, const char* archive, uint32_t* tag) {
  FILE* f = fopen(archive, "rb");
  if (!f) {
    fprintf(stderr, "vrex-host: cannot open %s\n", archive);
    return HOST_NOT_OPENED;
  }
  std::vector<uint8_t> first(kHeaderBytes);
  size_t n = fread(first.data(), 1, first.size(), f);
  fclose(f);
  // Exactly the bytes read, so a module reading past them is caught by tools.
  std::vector<uint8_t> header(first.begin(), first.begin() + long(n));
  if (!m.isArchive(archive, header.data(), int32_t(n))) {
    fprintf(stderr, "vrex-host: %s is not an archive the module knows\n", archive);
    return HOST_NOT_ARCHIVE;
  }
  if (!m.openArchive(archive, tag)) {
    fprintf(stderr, "vrex-host: the module could not open %s\n", archive);
    return HOST_NOT_OPENED;
  }
  return 0;
}

// GetArcItem until it returns other than ITEM_READY; 0 when the module
// broke the record contract.
int ReadItems(const Module& m, std::vector<Item>* items, int32_t* last) {
  std::vector<uint8_t> record(kRecordBytes);
  for (;;) {
    memset(record.data(), kSentinel, record.size());
    int32_t result = m.getArcItem(record.data(), 0);
    if (!CheckItemRecord(record, result)) return 0;
    if (result != ITEM_READY) {
      *last = result;
      return 1;
    }
    const uint8_t* at = record.data();
    const char* name = reinterpret_cast<const char*>(at + ITEM_NAME_AT);
    items->push_back({std::string(name), GetU32(at + ITEM_SIZE_AT), GetU32(at + ITEM_PACKED_SIZE_AT)});
  }
}

int FormatName(const Module& m, uint32_t tag, std::string* name, std::string* extension, int32_t* result) {
  std::vector<char> nameBuffer(kTextBytes, char(kSentinel)), extensionBuffer(kTextBytes, char(kSentinel));
  *result = m.getFormatName(tag, nameBuffer.data(), extensionBuffer.data());
  if (!CheckText("GetFormatName (name)", nameBuffer, *result, kFormatNameLimit)) return 0;
  if (!CheckText("GetFormatName (extension)", extensionBuffer, *result, kExtensionLimit)) return 0;
  *name = *result ? nameBuffer.data() : "";
  *extension = *result ? extensionBuffer.data() : "";
  return 1;
}

int Command(const Module& m, uint32_t tag, uint32_t slot, std::string* text, int32_t* result) {
  std::vector<char> buffer(kTextBytes, char(kSentinel));
  *result = m.getDefaultCommands(tag, slot, buffer.data());
  if (!CheckText("GetDefaultCommands", buffer, *result, kCommandLimit)) return 0;
  *text = *result ? buffer.data() : "";
  return 1;
}

int List(const Module& m, const char* archive) {
  uint32_t tag = 0;
  if (int code = OpenWithModule(m, archive, &tag)) return code;
  std::vector<Item> items;
  int32_t last = 0;
  int ok = ReadItems(m, &items, &last);
  m.closeArchive(0);
  std::string name, extension;
  int32_t known = 0;
  if (!ok || !FormatName(m, tag, &name, &extension, &known)) return HOST_CONTRACT;
  printf("tag 0x%08X %s %s\n", unsigned(tag), known ? name.c_str() : "?", known ? extension.c_str() : "?");
  for (const Item& item : items) printf("%s\t%u\t%u\n", item.name.c_str(), unsigned(item.size), unsigned(item.packedSize));
  printf("end %d\n", int(last));
  return HOST_DONE;
}

int Formats(const Module& m) {
  std::vector<uint32_t> tags(std::begin(kKnownTags), std::end(kKnownTags));
  tags.push_back(kUnknownTag);
  for (uint32_t tag : tags) {
    std::string name, extension;
    int32_t result = 0;
    if (!FormatName(m, tag, &name, &extension, &result)) return HOST_CONTRACT;
    if (result) printf("0x%08X\t%d\t%s\t%s\n", unsigned(tag), int(result), name.c_str(), extension.c_str());
    else printf("0x%08X\t%d\n", unsigned(tag), int(result));
  }
  return HOST_DONE;
}

// "0x" and hex digits, or one to four characters taken as the tag's bytes.
int ParseTag(const char* text, uint32_t* tag) {
  if ((text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) && text[2]) {
    char* end = nullptr;
    unsigned long value = strtoul(text + 2, &end, 16);
    if (*end || value > 0xFFFFFFFFul) return 0;
    *tag = uint32_t(value);
    return 1;
  }
  size_t length = strlen(text);
  if (length == 0 || length > 4) return 0;
  *tag = 0;
  for (size_t i = 0; i < length; ++i) *tag |= uint32_t(uint8_t(text[i])) << (8 * i);
  return 1;
}

int Commands(const Module& m, const char* tagText) {
  uint32_t tag = 0;
  if (!ParseTag(tagText, &tag)) return Usage();
  for (uint32_t slot = 0; slot <= kSlotCount; ++slot) {
    std::string text;
    int32_t result = 0;
    if (!Command(m, tag, slot, &text, &result)) return HOST_CONTRACT;
    if (result) printf("%u\t%d\t%s\n", unsigned(slot), int(result), text.c_str());
    else printf("%u\t%d\n", unsigned(slot), int(result));
  }
  return HOST_DONE;
}

// ---- run: template expansion

struct ListFile {
  std::string path;
  int slash;  // backslashes written as "/"
};

// Writes one list file with the names, one a line; "" on failure.
std::string WriteListFile(const std::vector<std::string>& names, int slash) {
  std::string path = MakeTempFile();
  if (path.empty()) return "";
  FILE* f = fopen(path.c_str(), "w");
  if (!f) {
    RemoveFile(path);
    return "";
  }
  for (std::string name : names) {
    if (slash)
      for (char& c : name)
        if (c == '\\') c = '/';
    fprintf(f, "%s\n", name.c_str());
  }
  if (fclose(f) != 0) {
    RemoveFile(path);
    return "";
  }
  return path;
}

// Expands one word of a template. "%%A" is the archive, "%%LMS" and "%%LM"
// the list files (the longer placeholder is tried first); any other "%%"
// stands for one "%", and a single "%" is kept as it is.
int ExpandWord(const std::string& word, const std::string& archive, const std::vector<std::string>& names,
               std::vector<ListFile>* lists, std::string* out) {
  for (size_t i = 0; i < word.size();) {
    if (word.compare(i, 2, "%%") != 0) {
      *out += word[i++];
      continue;
    }
    int slash = -1;
    size_t length = 2;
    if (word.compare(i, 5, "%%LMS") == 0) slash = 1, length = 5;
    else if (word.compare(i, 4, "%%LM") == 0) slash = 0, length = 4;
    else if (word.compare(i, 3, "%%A") == 0) length = 3;
    i += length;
    if (length == 2) {
      *out += '%';
      continue;
    }
    if (slash < 0) {
      *out += archive;
      continue;
    }
    std::string path;
    for (const ListFile& l : *lists)
      if (l.slash == slash) path = l.path;
    if (path.empty()) {
      path = WriteListFile(names, slash);
      if (path.empty()) return 0;
      lists->push_back({path, slash});
    }
    *out += path;
  }
  return 1;
}

// ---- run

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// True when nothing exists at `path`; false when something does, or when
// that cannot be told (no rights, for example).
bool IsMissing(const char* path) {
  struct stat st;
  return stat(path, &st) != 0 && errno == ENOENT;
}

// The extensions of the archives a file manager can create, and their tags.
const struct {
  const char* extension;
  uint32_t tag;
} kNewArchiveTags[] = {
    {"pak", TAG_PACK}, {"wad", TAG_PWAD}, {"lod", TAG_LOD},  {"stk", TAG_STK},  {"itk", TAG_STK},
    {"hog", TAG_DHF},  {"mvl", TAG_DMVL}, {"rff", TAG_RFF},  {"gob", TAG_GOB},  {"goo", TAG_GOB2},
    {"sin", TAG_SPAK}, {"slb", TAG_SLB},  {"grp", TAG_GRP},
};

// The tag of an archive to be created, by the extension of its file name
// (ASCII letters in any case); 0 for any other name.
uint32_t NewArchiveTag(const char* archive) {
  std::string name = archive;
  size_t slash = name.find_last_of("/\\");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  size_t dot = name.rfind('.');
  if (dot == std::string::npos) return 0;
  std::string extension;
  for (char c : name.substr(dot + 1)) extension += LowerAscii(c);
  for (const auto& row : kNewArchiveTags)
    if (extension == row.extension) return row.tag;
  return 0;
}

// The archive's tag, and for slots that act on items without NAMEs every
// item's name. A missing archive named for one of the add slots is taken as
// new, without the module. 0 or the host's exit code.
int TagAndNames(const Module& m, const char* archive, bool adding, std::vector<std::string>* names,
                uint32_t* tag) {
  if (adding && IsMissing(archive)) {
    *tag = NewArchiveTag(archive);
    if (*tag) return 0;
  }
  if (int code = OpenWithModule(m, archive, tag)) return code;
  int ok = 1;
  if (names->empty() && !adding) {
    std::vector<Item> items;
    int32_t last = 0;
    ok = ReadItems(m, &items, &last);
    for (const Item& item : items) names->push_back(item.name);
  }
  m.closeArchive(0);
  return ok ? 0 : HOST_CONTRACT;
}

std::vector<std::string> SplitAtBlanks(const std::string& command) {
  std::vector<std::string> words;
  size_t at = 0;
  while (at < command.size()) {
    size_t space = command.find(' ', at);
    if (space == std::string::npos) space = command.size();
    if (space > at) words.push_back(command.substr(at, space - at));
    at = space + 1;
  }
  return words;
}

// Expands the template's words after "vrex", starts vrex and removes the
// list files again; vrex's exit code or the host's.
int RunTemplate(const std::vector<std::string>& words, const char* archive, const std::vector<std::string>& names) {
  std::vector<ListFile> lists;
  std::vector<std::string> args = {VrexProgram()};
  int expanded = 1;
  for (size_t i = 1; i < words.size() && expanded; ++i) {
    std::string word;
    expanded = ExpandWord(words[i], archive, names, &lists, &word);
    args.push_back(word);
  }
  int code = HOST_NO_LIST;
  if (expanded) code = RunProgram(args);
  else fprintf(stderr, "vrex-host: cannot write the list file\n");
  for (const ListFile& l : lists) RemoveFile(l.path);
  return code;
}

int Run(const Module& m, const char* slotText, const char* archive, int nameCount, char** nameArgs) {
  char* end = nullptr;
  unsigned long slot = strtoul(slotText, &end, 10);
  if (!*slotText || *end || slot > 0xFFFFFFFFul) return Usage();
  bool adding = slot >= kFirstAddSlot && slot <= kLastAddSlot;
  std::vector<std::string> names(nameArgs, nameArgs + nameCount);
  uint32_t tag = 0;
  if (int code = TagAndNames(m, archive, adding, &names, &tag)) return code;
  std::string command;
  int32_t result = 0;
  if (!Command(m, tag, uint32_t(slot), &command, &result)) return HOST_CONTRACT;

  std::vector<std::string> words = SplitAtBlanks(command);
  if (!result || words.empty() || words[0] != "vrex" || words.size() < 2) {
    fprintf(stderr, "vrex-host: slot %lu holds no vrex command for this format\n", slot);
    return HOST_NO_COMMAND;
  }
  // vrex takes an empty list file as "every member": with nothing to pass,
  // nothing is run.
  if (names.empty()) {
    fprintf(stderr, adding ? "vrex-host: no files or folders named - vrex not run\n"
                           : "vrex-host: no items - vrex not run\n");
    return HOST_DONE;
  }
  return RunTemplate(words, archive, names);
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  std::string op = argv[2];
  bool shapeOk = (op == "list" && argc == 4) || (op == "formats" && argc == 3) ||
                 (op == "commands" && argc == 4) || (op == "run" && argc >= 5);
  if (!shapeOk) return Usage();
  Module m;
  if (!LoadExports(argv[1], &m)) return HOST_BAD_MODULE;
  if (op == "list") return List(m, argv[3]);
  if (op == "formats") return Formats(m);
  if (op == "commands") return Commands(m, argv[3]);
  return Run(m, argv[3], argv[4], argc - 5, argv + 5);
}
