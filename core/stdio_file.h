// The part of a File that both platforms build alike on a C runtime stream:
// reads, writes, flush and close, with the error of the last failure. The
// platform files add positioning, length and sync. Only core/file_*.cc use it.
#ifndef VREX_CORE_STDIO_FILE_H
#define VREX_CORE_STDIO_FILE_H

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/file.h"

class StdioFile : public File {
 public:
  explicit StdioFile(FILE* f) : f_(f) {}
  ~StdioFile() override { Close(); }

  size_t Read(void* buffer, size_t size) override {
    if (!f_) return Failed(EBADF);
    size_t n = fread(buffer, 1, size, f_);
    if (n < size) {
      error_ = ferror(f_) ? errno : kEndOfFile;
      clearerr(f_);
    }
    return n;
  }
  size_t Write(const void* buffer, size_t size) override {
    if (!f_) return Failed(EBADF);
    size_t n = fwrite(buffer, 1, size, f_);
    if (n < size) {
      error_ = errno;
      clearerr(f_);
    }
    return n;
  }
  bool Flush() override { return (f_ && fflush(f_) == 0) || Fail(f_ ? errno : EBADF); }
  bool Close() override {
    if (!f_) return true;
    bool closed = fclose(f_) == 0;
    if (!closed) error_ = errno;
    f_ = nullptr;
    return closed;
  }
  const char* Error() const override { return error_ == kEndOfFile ? END_OF_FILE_REASON : strerror(error_); }

 protected:
  static constexpr int kEndOfFile = -1;
  bool Fail(int error) {
    error_ = error;
    return false;
  }
  size_t Failed(int error) {
    error_ = error;
    return 0;
  }
  FILE* f_;
  int error_ = 0;
};

#endif
