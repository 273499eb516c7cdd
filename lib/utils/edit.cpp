// Line-oriented editing of text files: opening files with a uniform error
// policy, the comment-filtering reader GetLine over the shared stream pIn,
// and the in-place edit family, which copies a file line by line into
// "<base>.<ext>out" and moves that over the original through the shell.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include "utils.h"

FILE *pIn = nullptr;
FILE *pOut = nullptr;
char Line[LINE_SIZE];
char *pLine = Line;
int LineCnt = 0;
long InPos = 0;
unsigned char flInputFilterState = 1;

// Closes stream (when given) and opens path; errMode 2 ends the process,
// 1 reports on standard error, 0 is silent.
FILE *OpenFile(FILE *stream, const char *path, const char *mode, int errMode) {
  if (stream != nullptr) fclose(stream);
  FILE *f = (path != nullptr) ? fopen(path, mode) : nullptr;
  if (f != nullptr) return f;
  if (errMode == 2) SysError("can't open file, %s", path != nullptr ? path : "");
  if (errMode == 1) fprintf(stderr, "ERROR: can't open file, %s\n", path != nullptr ? path : "");
  return nullptr;
}

FILE *OpenFileF(FILE *stream, const char *mode, int errMode, const char *fmt, ...) {
  char path[512];
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(path, sizeof path, fmt, ap);
  va_end(ap);
  if (n < 0 || static_cast<size_t>(n) >= sizeof path) {
    // A path that does not fit is not cut into another one.
    if (stream != nullptr) fclose(stream);
    errno = ENAMETOOLONG;
    if (errMode == 2) SysError("can't open file, %s", path);
    if (errMode == 1) fprintf(stderr, "ERROR: can't open file, %s\n", path);
    return nullptr;
  }
  return OpenFile(stream, path, mode, errMode);
}
