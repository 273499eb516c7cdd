// Private helpers of the record database module: scope guards for streams
// and descriptors, and a text that grows in memory of the block manager.
#pragma once
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "MemMgr.h"

namespace dbm_detail {

// Closes a stream at the end of a scope.
struct StreamCloser {
  FILE *f;
  ~StreamCloser() { if (f) fclose(f); }
};

// Closes a descriptor at the end of a scope.
struct FdCloser {
  int fd;
  ~FdCloser() { if (fd >= 0) close(fd); }
};

// A NUL-terminated text grown with AdjustMem; when memory runs out the text
// is dropped and take() gives null. take() hands the block to the caller.
struct TextBuilder {
  char *p = nullptr;
  size_t len = 0, cap = 0;
  bool failed = false;

  void append(const char *s, size_t n) {
    if (failed) return;
    if (len + n + 1 > cap) {
      size_t want = cap ? cap : 64;
      while (want < len + n + 1) want *= 2;
      char *q = static_cast<char *>(AdjustMem(p, want));
      if (!q) {
        PutMem(p);
        p = nullptr;
        failed = true;
        return;
      }
      p = q;
      cap = want;
    }
    memcpy(p + len, s, n);
    len += n;
    p[len] = 0;
  }
  void append(const char *s) { append(s, strlen(s)); }
  char *take() {
    if (!failed && !p) append("", 0);
    char *r = failed ? nullptr : p;
    p = nullptr;
    return r;
  }
  ~TextBuilder() { PutMem(p); }
};

}  // namespace dbm_detail
