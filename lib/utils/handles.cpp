// The growable and the bounded text builders of the shared toolkit. The
// growable one doubles its block from the block manager, so appending costs
// amortised constant time per byte; the bounded one never writes past the
// buffer it was given and remembers that it cut.
#include "Handles.h"

#include <cstdint>
#include <cstring>

#include "utils.h"

// ------------------------------------------------------------------ TextBuf --

bool TextBuf::reserve(size_t extra) {
  if (failed_) return false;
  if (len_ + extra + 1 <= cap_) return true;
  size_t want = extra < SIZE_MAX / 4 - len_ ? 0 : SIZE_MAX;   // SIZE_MAX: no block can serve it
  if (want == 0) want = cap_ != 0 ? cap_ : 64;
  while (want != SIZE_MAX && want < len_ + extra + 1) want *= 2;
  char *grown = want != SIZE_MAX ? static_cast<char *>(AdjustMem(buf_, want)) : nullptr;
  if (grown == nullptr) {
    if (policy_ == OnFail::Exit) SysError("%s", OutOfMem);
    PutMem(buf_);
    buf_ = nullptr;
    len_ = cap_ = 0;
    failed_ = true;
    return false;
  }
  buf_ = grown;
  cap_ = want;
  return true;
}

void TextBuf::append(const char *text, size_t n) {
  if (!reserve(n)) return;
  memcpy(buf_ + len_, text, n);
  len_ += n;
  buf_[len_] = '\0';
}

void TextBuf::append(const char *text) { append(text, strlen(text)); }

void TextBuf::appendf(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  appendV(fmt, ap);
  va_end(ap);
}

void TextBuf::appendV(const char *fmt, va_list ap) {
  va_list probe;
  va_copy(probe, ap);
  const int n = vsnprintf(nullptr, 0, fmt, probe);
  va_end(probe);
  if (n < 0 || !reserve(static_cast<size_t>(n))) return;
  vsnprintf(buf_ + len_, cap_ - len_, fmt, ap);
  len_ += static_cast<size_t>(n);
}

void TextBuf::clear() {
  len_ = 0;
  failed_ = false;
  if (buf_ != nullptr) buf_[0] = '\0';
}

char *TextBuf::take() {
  if (failed_) {
    failed_ = false;
    return nullptr;
  }
  if (buf_ == nullptr && !reserve(0)) return nullptr;
  char *text = buf_;
  buf_ = nullptr;
  len_ = cap_ = 0;
  return text;
}

// --------------------------------------------------------------- BoundedBuf --

void BoundedBuf::append(const char *text, size_t n) {
  if (size_ == 0) return;
  const size_t room = size_ - 1 - len_;
  if (n > room) {
    n = room;
    cut_ = true;
  }
  memcpy(buf_ + len_, text, n);
  len_ += n;
  buf_[len_] = '\0';
}

void BoundedBuf::append(const char *text) { append(text, strlen(text)); }

void BoundedBuf::appendf(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  appendV(fmt, ap);
  va_end(ap);
}

void BoundedBuf::appendV(const char *fmt, va_list ap) {
  if (size_ == 0) return;
  const size_t room = size_ - len_;
  const int n = vsnprintf(buf_ + len_, room, fmt, ap);
  if (n < 0) {
    buf_[len_] = '\0';
    cut_ = true;
    return;
  }
  if (static_cast<size_t>(n) >= room) {
    len_ = size_ - 1;
    cut_ = true;
  } else {
    len_ += static_cast<size_t>(n);
  }
}
