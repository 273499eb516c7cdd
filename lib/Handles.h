// The shared toolkit of every module: owners of the operating system's
// handles (a stream, a pipe, a descriptor, a directory) that close them on
// every path out of a scope, and the two text builders of the library: a
// growable text in memory of the block manager and a bounded text in a
// buffer the caller gives, which says whether it cut.
//
// Part of the utilities layer: it includes only the memory block manager.
// A growable text made with OnFail::Exit ends the process through SysError
// ("Unable to allocate memory") when memory runs out; one made with
// OnFail::Null drops its text and hands over null instead.
#pragma once
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <dirent.h>
#include <unistd.h>

#include "MemMgr.h"

#ifndef TARNU_PRINTF
#define TARNU_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#endif

// Owns one handle of type T and releases it with Close at the end of its
// scope. Close returns the release's own result (fclose, pclose, close).
template <typename T, T Empty, int (*Close)(T)>
class Handle {
 public:
  explicit Handle(T h = Empty) : h_(h) {}
  ~Handle() { close(); }
  Handle(const Handle &) = delete;
  Handle &operator=(const Handle &) = delete;
  Handle(Handle &&o) noexcept : h_(o.release()) {}
  Handle &operator=(Handle &&o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }

  T get() const { return h_; }
  explicit operator bool() const { return h_ != Empty; }
  // Hands the handle over; the holder is empty afterwards.
  T release() {
    T h = h_;
    h_ = Empty;
    return h;
  }
  void reset(T h = Empty) {
    if (h != h_) close();
    h_ = h;
  }
  // Releases the handle now and returns the release's result (0 when empty).
  int close() {
    if (h_ == Empty) return 0;
    T h = release();
    return Close(h);
  }

 private:
  T h_;
};

namespace handles_detail {
inline int closeFile(FILE *f) { return fclose(f); }
inline int closePipe(FILE *f) { return pclose(f); }
inline int closeFd(int fd) { return ::close(fd); }
inline int closeDir(DIR *d) { return closedir(d); }
}  // namespace handles_detail

using FileHandle = Handle<FILE *, nullptr, handles_detail::closeFile>;   // fopen, fdopen
using PipeHandle = Handle<FILE *, nullptr, handles_detail::closePipe>;   // popen: close() gives the status
using FdHandle = Handle<int, -1, handles_detail::closeFd>;               // open, dup
using DirHandle = Handle<DIR *, nullptr, handles_detail::closeDir>;      // opendir

// A NUL-terminated text that grows in memory of the block manager. The text
// is owned by the builder until take() hands it to the caller (release it
// with PutMem). Appending is amortised constant time per byte.
class TextBuf {
 public:
  enum class OnFail { Exit, Null };
  explicit TextBuf(OnFail policy = OnFail::Exit) : policy_(policy) {}
  ~TextBuf() { PutMem(buf_); }
  TextBuf(const TextBuf &) = delete;
  TextBuf &operator=(const TextBuf &) = delete;

  void append(const char *text, size_t n);
  void append(const char *text);
  void append(char c) { append(&c, 1); }
  void appendf(const char *fmt, ...) TARNU_PRINTF(2, 3);
  void appendV(const char *fmt, va_list ap) TARNU_PRINTF(2, 0);

  // The text so far ("" before the first append; null after a failure).
  const char *str() const { return failed_ ? nullptr : (buf_ != nullptr ? buf_ : ""); }
  size_t size() const { return len_; }
  bool failed() const { return failed_; }
  // Forgets the text but keeps the memory for the next one.
  void clear();
  // Hands the text over (an empty text is an allocation of its own); null
  // after a failure. The builder is empty and usable again afterwards.
  char *take();

 private:
  bool reserve(size_t extra);

  char *buf_ = nullptr;
  size_t len_ = 0;
  size_t cap_ = 0;
  OnFail policy_;
  bool failed_ = false;
};

// A text written into a fixed buffer the caller owns; the buffer is always
// terminated, what does not fit is dropped, and cut() says that it was.
class BoundedBuf {
 public:
  BoundedBuf(char *buf, size_t size) : buf_(buf), size_(size) {
    if (size_ > 0) buf_[0] = '\0';
    else cut_ = true;
  }
  template <size_t N>
  explicit BoundedBuf(char (&buf)[N]) : BoundedBuf(buf, N) {}

  void append(const char *text, size_t n);
  void append(const char *text);
  void append(char c) { append(&c, 1); }
  void appendf(const char *fmt, ...) TARNU_PRINTF(2, 3);
  void appendV(const char *fmt, va_list ap) TARNU_PRINTF(2, 0);

  const char *str() const { return size_ > 0 ? buf_ : ""; }
  size_t size() const { return len_; }
  bool cut() const { return cut_; }
  void clear() {
    len_ = 0;
    cut_ = size_ == 0;
    if (size_ > 0) buf_[0] = '\0';
  }

 private:
  char *buf_;
  size_t size_;
  size_t len_ = 0;
  bool cut_ = false;
};
