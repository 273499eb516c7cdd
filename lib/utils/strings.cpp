// Strings, paths and saved strings: the path helpers that split a file name
// into directory, base name and extension, the saved strings every module
// keeps its texts in, and small searching and copying functions.
//
// Each path helper returns its own static buffer, overwritten by its next
// call; an input longer than the buffer is cut at the buffer's end. A saved
// string lives in memory of the block manager and belongs to the caller.
#include "utils.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "MemMgr.h"

namespace {

constexpr size_t PATH_BUF_SIZE = 128;     // StripPath, StripExt, StripPathExt, StripPathName
constexpr size_t DIR_BUF_SIZE = 256;      // StripFn
constexpr size_t NAME_BUF_SIZE = 255;     // GenName
constexpr size_t CWD_BUF_SIZE = 512;      // first try for the working directory
constexpr size_t SAVESTR_LOCAL = 65536;   // local formatting area of SaveStr__

// Characters are classified as in the C locale, whatever locale is set.
bool isAsciiUpper(unsigned char c) { return c >= 'A' && c <= 'Z'; }
bool isAsciiLower(unsigned char c) { return c >= 'a' && c <= 'z'; }
bool isAsciiAlpha(unsigned char c) { return isAsciiUpper(c) || isAsciiLower(c); }
bool isAsciiAlnum(unsigned char c) { return isAsciiAlpha(c) || (c >= '0' && c <= '9'); }
bool isAsciiPrint(unsigned char c) { return c >= 0x20 && c < 0x7f; }
unsigned char upperAscii(unsigned char c) { return isAsciiLower(c) ? c - 'a' + 'A' : c; }
unsigned char lowerAscii(unsigned char c) { return isAsciiUpper(c) ? c - 'A' + 'a' : c; }

// Copies n bytes of src into a static buffer of size bytes, cut to fit.
char *copyInto(char *buf, size_t size, const char *src, size_t n) {
  if (n >= size) n = size - 1;
  memcpy(buf, src, n);
  buf[n] = '\0';
  return buf;
}

// Finds the last non-empty component of path: its start and length. Returns
// false when the path has none ("" or slashes only).
bool findLastComponent(const char *path, const char **start, size_t *len) {
  size_t end = strlen(path);
  while (end > 0 && path[end - 1] == '/') end--;
  if (end == 0) return false;
  size_t begin = end;
  while (begin > 0 && path[begin - 1] != '/') begin--;
  *start = path + begin;
  *len = end - begin;
  return true;
}

// Length of the directory part of path by the rule of StripFn; 0 means ".".
size_t dirPartLength(const char *path) {
  const char *slash = strrchr(path, '/');
  if (slash == nullptr) return 0;
  if (slash == path) return 1;          // the root slash stays
  return static_cast<size_t>(slash - path);
}

// Length of name up to the dot that StripExt cuts at (leading dots skipped).
size_t extCutLength(const char *name, size_t len) {
  size_t i = 0;
  while (i < len && name[i] == '.') i++;
  const void *dot = memchr(name + i, '.', len - i);
  return dot ? static_cast<size_t>(static_cast<const char *>(dot) - name) : len;
}

[[noreturn]] void failAllocation() { SysError("Unable to allocate memory"); }

// A saved copy of the first n bytes of s.
char *saveBytes(const char *s, size_t n) {
  char *p = static_cast<char *>(GetMem(n + 1));
  if (p == nullptr) failAllocation();
  memcpy(p, s, n);
  p[n] = '\0';
  return p;
}

// Reads the working directory into memory of the block manager (the caller
// releases it); null when it cannot be read.
char *readWorkingDir() {
  for (size_t size = CWD_BUF_SIZE; size <= (size_t{1} << 20); size *= 8) {
    MemHolder buf(GetMem(size));
    if (buf.get() == nullptr) failAllocation();
    if (getcwd(buf.str(), size) != nullptr) return static_cast<char *>(buf.release());
    if (errno != ERANGE) return nullptr;
  }
  return nullptr;
}

// Joins the absolute directory base with the relative dir and resolves "."
// and ".." components by text alone; the result is a saved string.
char *joinNormalised(const char *base, const char *dir) {
  size_t baseLen = strlen(base), dirLen = strlen(dir);
  MemHolder out(GetMem(baseLen + dirLen + 3));
  if (out.get() == nullptr) failAllocation();
  char *o = out.str();
  size_t n = 0;
  auto append = [&](const char *comp, size_t len) {
    if (len == 0 || (len == 1 && comp[0] == '.')) return;
    if (len == 2 && comp[0] == '.' && comp[1] == '.') {
      while (n > 0 && o[n - 1] != '/') n--;      // drop the last component
      if (n > 0) n--;                            // and its slash
      return;
    }
    o[n++] = '/';
    memcpy(o + n, comp, len);
    n += len;
  };
  for (const char *text : {base, dir}) {
    const char *p = text;
    while (*p) {
      const char *q = p;
      while (*q && *q != '/') q++;
      append(p, static_cast<size_t>(q - p));
      p = *q ? q + 1 : q;
    }
  }
  if (n == 0) o[n++] = '/';
  return saveBytes(o, n);
}

}  // namespace

// ------------------------------------------------------------- path helpers --

char *StripPath(const char *path) {
  static char buf[PATH_BUF_SIZE];
  if (path == nullptr) return copyInto(buf, sizeof buf, "", 0);
  const char *start;
  size_t len;
  if (!findLastComponent(path, &start, &len)) return copyInto(buf, sizeof buf, path, strlen(path));
  return copyInto(buf, sizeof buf, start, len);
}

char *StripFn(const char *path) {
  static char buf[DIR_BUF_SIZE];
  size_t len = path ? dirPartLength(path) : 0;
  if (len == 0) return copyInto(buf, sizeof buf, ".", 1);
  return copyInto(buf, sizeof buf, path, len);
}

char *StripExt(const char *name) {
  static char buf[PATH_BUF_SIZE];
  if (name == nullptr) return copyInto(buf, sizeof buf, "", 0);
  size_t len = strlen(name);
  return copyInto(buf, sizeof buf, name, extCutLength(name, len));
}

// A path without a non-empty component ("" or "/") has no name: "".
char *StripPathExt(const char *path) {
  static char buf[PATH_BUF_SIZE];
  const char *start;
  size_t len;
  if (path == nullptr || !findLastComponent(path, &start, &len)) return copyInto(buf, sizeof buf, "", 0);
  return copyInto(buf, sizeof buf, start, extCutLength(start, len));
}

char *StripPathName(const char *path) {
  static char buf[PATH_BUF_SIZE];
  if (path == nullptr || FindToken(path, ";.;..;") != 0) return copyInto(buf, sizeof buf, "", 0);
  copyInto(buf, sizeof buf, path, strlen(path));
  char *save = nullptr;
  char *piece = strtok_r(buf, "/", &save);
  if (piece == nullptr) return copyInto(buf, sizeof buf, "", 0);
  char *next;
  while ((next = strtok_r(nullptr, ".", &save)) != nullptr && next[1] != '/') piece = next;
  return piece;
}

char *GenName(const char *text) {
  static char buf[NAME_BUF_SIZE];
  size_t n = 0;
  if (text != nullptr) {
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
    while (*p && !isAsciiAlpha(*p)) p++;
    bool runStart = true;
    for (; *p && n < sizeof buf - 1; p++) {
      if (!isAsciiAlnum(*p)) {
        runStart = true;
        continue;
      }
      buf[n++] = static_cast<char>(runStart ? upperAscii(*p) : lowerAscii(*p));
      runStart = false;
    }
  }
  buf[n] = '\0';
  return buf;
}

// ------------------------------------------------------------ saved strings --

char *SaveStr(const char *str) { return SaveStr_(str); }

char *SaveStr(const volatile char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  char *s = SaveStrV(const_cast<const char *>(fmt), ap);
  va_end(ap);
  return s;
}

// The text is measured first and formatted straight into a block of its
// exact length, so no text is ever cut. A null format saves "".
char *SaveStrV(const char *fmt, va_list ap) {
  if (fmt == nullptr) return saveBytes("", 0);
  va_list measure;
  va_copy(measure, ap);
  int len = vsnprintf(nullptr, 0, fmt, measure);
  va_end(measure);
  if (len < 0) return saveBytes("", 0);
  char *p = static_cast<char *>(GetMem(static_cast<size_t>(len) + 1));
  if (p == nullptr) failAllocation();
  vsnprintf(p, static_cast<size_t>(len) + 1, fmt, ap);
  return p;
}

// Formats into a local area; a longer text is formatted again into a block
// of its own length rather than cut.
char *SaveStr__(const char *fmt, ...) {
  if (fmt == nullptr) return nullptr;
  static char local[SAVESTR_LOCAL];
  va_list ap, again;
  va_start(ap, fmt);
  va_copy(again, ap);
  int len = vsnprintf(local, sizeof local, fmt, ap);
  va_end(ap);
  char *s;
  if (len < 0)
    s = saveBytes("", 0);
  else if (static_cast<size_t>(len) < sizeof local)
    s = saveBytes(local, static_cast<size_t>(len));
  else
    s = SaveStrV(fmt, again);
  va_end(again);
  return s;
}

// A verbatim copy; a null string saves "".
char *SaveStr_(const char *str) {
  if (str == nullptr) return saveBytes("", 0);
  return saveBytes(str, strlen(str));
}

char *GetEnv(const char *name) {
  if (name == nullptr) return nullptr;
  const char *v = getenv(name);
  return v ? SaveStr_(v) : nullptr;
}

int CopyStr(char *dst, size_t size, const char *src) {
  if (src == nullptr) src = "";
  size_t len = strlen(src);
  if (dst == nullptr || size == 0) return 0;
  size_t n = len < size ? len : size - 1;
  memcpy(dst, src, n);
  dst[n] = '\0';
  return n == len;
}

// ---------------------------------------------------------- string functions --

int StrLen(const char *s) { return s ? static_cast<int>(strlen(s)) : 0; }

char *StrChr(const char *s, int c) {
  if (s == nullptr) return nullptr;
  char ch = static_cast<char>(c);
  for (; *s; s++) {
    if (*s == '\\') {
      if (s[1] == '\0') break;          // a lone backslash ends the string
      s++;
      continue;
    }
    if (*s == ch) return const_cast<char *>(s);
  }
  return ch == '\0' ? const_cast<char *>(s + strlen(s)) : nullptr;
}

char *StrNChr(const char *s, int c, int n) {
  if (s == nullptr || n < 1) return nullptr;
  char ch = static_cast<char>(c);
  for (const char *p = s;; p++) {
    if (*p == ch && --n == 0) return const_cast<char *>(p);
    if (*p == '\0') return nullptr;
  }
}

char *StrNStr(const char *s, const char *pattern, int n) {
  if (n < 1) return nullptr;
  char *p = StrStr(s, pattern);
  while (p != nullptr && --n > 0) p = StrStr(p + 1, pattern);
  return p;
}

char *StrStr(const char *s, const char *pattern) {
  if (s == nullptr || pattern == nullptr || *pattern == '\0') return nullptr;
  return const_cast<char *>(strstr(s, pattern));
}

char *StrCaseStr(const char *s, const char *pattern) {
  if (s == nullptr || pattern == nullptr || *pattern == '\0') return nullptr;
  const unsigned char first = upperAscii(static_cast<unsigned char>(*pattern));
  for (const char *p = s; *p; p++) {
    if (upperAscii(static_cast<unsigned char>(*p)) != first) continue;
    size_t i = 1;
    while (pattern[i] && upperAscii(static_cast<unsigned char>(p[i])) ==
                             upperAscii(static_cast<unsigned char>(pattern[i])))
      i++;
    if (pattern[i] == '\0') return const_cast<char *>(p);
  }
  return nullptr;
}

char *StripAllBackslashes(char *s) {
  if (s == nullptr) return nullptr;
  char *o = s;
  for (const char *p = s; *p; p++)
    if (*p != '\\') *o++ = *p;
  *o = '\0';
  return s;
}

char *StripNonPrint(char *s, int keepLineEnds) {
  if (s == nullptr) return nullptr;
  char *o = s;
  for (const char *p = s; *p; p++) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (isAsciiPrint(c) || (keepLineEnds && (c == '\n' || c == '\r'))) *o++ = *p;
  }
  *o = '\0';
  return s;
}

// Overlapping ranges are allowed in both orders.
void SetVarContent(void *dst, const void *src, int len, int reverse) {
  if (dst == nullptr || src == nullptr || len <= 0) return;
  memmove(dst, src, static_cast<size_t>(len));
  if (reverse) {
    unsigned char *d = static_cast<unsigned char *>(dst);
    std::reverse(d, d + len);
  }
}

double MaxD(double a, double b) { return a > b ? a : b; }

float CvtFloatFormat(double value, int from, int to) {
  if (from == to || from < 0 || from > 2 || to < 0 || to > 2) return static_cast<float>(value);
  constexpr long double CM_PER_INCH = 2.54L;
  constexpr long double PT_PER_INCH = 72.0L;
  long double v = value;
  switch (from * 3 + to) {
    case 1 * 3 + 0: v = v / CM_PER_INCH; break;
    case 2 * 3 + 0: v = v / PT_PER_INCH; break;
    case 0 * 3 + 1: v = v * CM_PER_INCH; break;
    case 2 * 3 + 1: v = v / PT_PER_INCH * CM_PER_INCH; break;
    case 0 * 3 + 2: v = v * PT_PER_INCH; break;
    case 1 * 3 + 2: v = v / CM_PER_INCH * PT_PER_INCH; break;
    default: break;
  }
  return static_cast<float>(v);
}

// ------------------------------------------------------------ locating paths --

// A relative directory part starting with "./" or "../" is joined to the
// working directory with "." and ".." resolved by text; any other relative
// one is joined as it stands ("../setup" gives "<cwd>/.."). Without a readable working directory the
// directory part itself is returned.
char *GetToolPath(const char *argv0) {
  if (argv0 == nullptr) argv0 = "";
  size_t dirLen = dirPartLength(argv0);
  if (argv0[0] == '/') return saveBytes(argv0, dirLen);
  MemHolder cwd(readWorkingDir());
  if (cwd.get() == nullptr) return dirLen ? saveBytes(argv0, dirLen) : SaveStr_(".");
  if (dirLen == 0 || (dirLen == 1 && argv0[0] == '.')) return SaveStr_(cwd.str());
  MemHolder dir(saveBytes(argv0, dirLen));
  if (strncmp(dir.str(), "./", 2) == 0 || strncmp(dir.str(), "../", 3) == 0)
    return joinNormalised(cwd.str(), dir.str());
  const char *slash = cwd.str()[strlen(cwd.str()) - 1] == '/' ? "" : "/";
  return SaveStr("%s%s%.*s", cwd.str(), slash, static_cast<int>(dirLen), argv0);
}
