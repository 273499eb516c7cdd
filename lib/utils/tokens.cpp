// Tokens and token lists: the tokenizer every parser of the system uses, and
// the keyword tables searched by item number.
//
// GetToken keeps one scan for the whole process (a non-null input starts it,
// null continues it); GetTokenD is its re-entrant twin on the caller's cursor.
// A backslash escapes the next character; a lone backslash at the very end of
// the input is taken as a literal backslash and ends the scan there.
#include "utils.h"

#include <cstdio>
#include <cstring>

#include "MemMgr.h"

const char *szTokenIn = nullptr;
char GetTokenBuf[TOKEN_BUF_SIZE];
char chTokenDel = 0;

namespace {

const char *szIn = nullptr;                  // the scan position
constexpr size_t FRAME_BUF_SIZE = 512;       // framed token of FindToken/FindTokenC
constexpr size_t TOKEN_MAX = TOKEN_BUF_SIZE - 1;

// The delimiter set of one call, looked up in constant time.
class DelimSet {
 public:
  explicit DelimSet(const char *delims) {
    if (delims == nullptr) return;
    for (const unsigned char *d = reinterpret_cast<const unsigned char *>(delims); *d; d++) has_[*d] = true;
  }
  bool contains(unsigned char c) const { return has_[c]; }
 private:
  bool has_[256] = {};
};

char decodeEscape(char c) {
  switch (c) {
    case 'n': return '\n';
    case 'r': return '\r';
    case 't': return '\t';
    default: return c;
  }
}

struct ScanResult {
  const char *next;   // the scan position after the token
  size_t length;      // characters in the token (before any cut)
  bool eolStop;       // end-of-line mode: a token ended by a newline
};

// Takes one token from p by the common scanning rule, decoding escape pairs.
// At most TOKEN_MAX characters are stored in out (always terminated); the
// scan still moves past the whole token.
ScanResult scanDecoded(const char *p, const DelimSet &delims, bool eolMode, char *out) {
  size_t n = 0;
  auto take = [&](char c) {
    if (n < TOKEN_MAX) out[n] = c;
    n++;
  };
  bool eolStop = false;
  for (;;) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c == '\0') break;
    if (c == '\\') {
      if (p[1] == '\0') {               // lone backslash: literal, end of input
        take('\\');
        p++;
        break;
      }
      take(decodeEscape(p[1]));
      p += 2;
      continue;
    }
    if (delims.contains(c)) {
      p++;
      chTokenDel = static_cast<char>(c);
      if (n == 0) continue;             // leading delimiters collapse
      eolStop = eolMode && c == '\n';
      break;
    }
    take(static_cast<char>(c));
    p++;
  }
  out[n < TOKEN_MAX ? n : TOKEN_MAX] = '\0';
  return {p, n, eolStop};
}

// Number of sep characters in list[0..last], last included.
int countSeparators(const char *list, const char *last, char sep) {
  int count = 0;
  for (const char *p = list; p <= last; p++)
    if (*p == sep) count++;
  return count;
}

unsigned char foldAscii(unsigned char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; }

// Compares n bytes of a and b, letter case ignored (C locale), stopping at a
// NUL as strncmp does.
int compareNoCase(const char *a, const char *b, size_t n) {
  for (size_t i = 0; i < n; i++) {
    unsigned char x = foldAscii(static_cast<unsigned char>(a[i]));
    unsigned char y = foldAscii(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
    if (x == '\0') return 0;
  }
  return 0;
}

// Length of the list item at p: up to and including the next separator that
// is not escaped, or the rest of the string for the last item.
size_t itemLength(const char *p, char sep) {
  const char *q = StrChr(p, sep);
  return q ? static_cast<size_t>(q - p) + 1 : strlen(p);
}

}  // namespace

// ---------------------------------------------------------------- tokenizers --

char *GetToken(const char *in, const char *delims) {
  bool eolMode = in == TOKEN_EOL;
  if (in != nullptr && !eolMode) szIn = in;
  chTokenDel = 0;
  if (szIn == nullptr) {
    GetTokenBuf[0] = '\0';
    return nullptr;
  }
  ScanResult r = scanDecoded(szIn, DelimSet(delims), eolMode, GetTokenBuf);
  szIn = r.next;
  if (r.eolStop) return nullptr;
  szTokenIn = szIn;
  return r.length ? GetTokenBuf : nullptr;
}

char *GetTokenD(const char *in, const char *delims, const char **cursor, char *buf, bool *cut) {
  bool eolMode = in == TOKEN_EOL;
  const char *start = (in != nullptr && !eolMode) ? in : (cursor ? *cursor : nullptr);
  chTokenDel = 0;
  if (cut != nullptr) *cut = false;
  if (buf == nullptr) return nullptr;
  if (start == nullptr) {
    buf[0] = '\0';
    return nullptr;
  }
  ScanResult r = scanDecoded(start, DelimSet(delims), eolMode, buf);
  if (cut != nullptr) *cut = r.length > TOKEN_MAX;
  if (r.eolStop) return nullptr;
  if (cursor) *cursor = r.next;
  return r.length ? buf : nullptr;
}

char *GetTokenParse(char *in, const char *delims) {
  bool eolMode = in == TOKEN_EOL;
  if (in != nullptr && !eolMode) szIn = in;
  chTokenDel = 0;
  if (szIn == nullptr) return nullptr;
  DelimSet set(delims);
  // The scan runs over the caller's own writable string.
  char *p = const_cast<char *>(szIn);
  char *start = nullptr;
  bool eolStop = false;
  for (;;) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c == '\0') break;
    if (c == '\\') {
      if (start == nullptr) start = p;
      if (p[1] == '\0') {
        p++;
        break;
      }
      p += 2;
      continue;
    }
    if (set.contains(c)) {
      *p++ = '\0';
      chTokenDel = static_cast<char>(c);
      if (start == nullptr) continue;
      eolStop = eolMode && c == '\n';
      break;
    }
    if (start == nullptr) start = p;
    p++;
  }
  szIn = p;
  if (eolStop) return nullptr;
  szTokenIn = szIn;
  return start;
}

int ParseStr(char *str, const char *delims, char **fields, int max) {
  if (fields == nullptr || max <= 0) return 0;
  for (int i = 0; i < max; i++) fields[i] = nullptr;
  if (str == nullptr) return 0;
  DelimSet set(delims);
  int count = 0;
  char *p = str;
  while (count < max) {
    while (*p && set.contains(static_cast<unsigned char>(*p))) p++;
    if (*p == '\0') break;
    fields[count++] = p;
    while (*p && !set.contains(static_cast<unsigned char>(*p))) p++;
    if (*p == '\0') break;
    *p++ = '\0';
  }
  return count;
}

char *GetTokenN(const char *in, const char *delims, int n) {
  char *token = GetToken(in, delims);
  for (int i = 2; i <= n && token != nullptr; i++) token = GetToken(nullptr, delims);
  return token;
}

int GetTokenCount(const char *in, const char *delims) {
  const char *savedIn = szIn, *savedTokenIn = szTokenIn;
  char savedBuf[TOKEN_BUF_SIZE];
  memcpy(savedBuf, GetTokenBuf, sizeof savedBuf);
  int count = 0;
  for (char *t = GetToken(in, delims); t != nullptr; t = GetToken(nullptr, delims)) count++;
  szIn = savedIn;
  szTokenIn = savedTokenIn;
  memcpy(GetTokenBuf, savedBuf, sizeof savedBuf);
  return count;
}

void SetTokenBuf(const char *pos) { szIn = szTokenIn = pos; }

const char *GetTokenBufInput() { return szIn; }

// ---------------------------------------------------------------- list search --

// The framed token (separator, token, separator) must fit 512 bytes; a
// longer token is not found.
int FindToken(const char *token, const char *list) {
  if (token == nullptr || list == nullptr || list[0] == '\0') return 0;
  const char sep = list[0];
  size_t len = strlen(token);
  if (len + 3 > FRAME_BUF_SIZE) return 0;
  char frame[FRAME_BUF_SIZE];
  frame[0] = sep;
  memcpy(frame + 1, token, len);
  frame[len + 1] = sep;
  frame[len + 2] = '\0';
  const char *match = StrStr(list, frame);
  if (match == nullptr) {
    const char *last = strrchr(list, sep);
    if (strcmp(last + 1, token) != 0) return 0;
    match = last;
  }
  return countSeparators(list, match, sep);
}

int FindTokenC(const char *token, const char *list) {
  if (token == nullptr || list == nullptr || list[0] == '\0') return 0;
  const char sep = list[0];
  size_t len = strlen(token);
  if (len + 3 > FRAME_BUF_SIZE) return 0;
  int count = 0;
  for (const char *p = list; *p; p++) {
    if (*p != sep) continue;
    count++;
    if (compareNoCase(p + 1, token, len) == 0 && (p[len + 1] == sep || p[len + 1] == '\0')) return count;
  }
  return 0;
}

int FindTokenWithDelim(const char *list, const char *token, char sep) {
  if (list == nullptr || token == nullptr) return 0;
  size_t len = strlen(token);
  int item = 1;
  for (const char *p = list;; item++) {
    const char *end = strchr(p, sep);
    if (sep == '\0' || end == nullptr) return strcmp(p, token) == 0 ? item : 0;
    if (static_cast<size_t>(end - p) == len && memcmp(p, token, len) == 0) return item;
    p = end + 1;
  }
}

// Selection sort over a working copy; the result always ends with the
// separator, so it may be one character longer than the input.
void SortTokens(char *list, char sep, int ignoreCase) {
  if (list == nullptr || sep == '\0') return;
  size_t total = strlen(list);
  MemHolder holder(GetMem(total + 1));
  if (holder.get() == nullptr) SysError("Unable to allocate memory");
  char *copy = holder.str();
  memcpy(copy, list, total + 1);
  char *out = list;
  while (*out == sep) out++;
  char *rest = copy;
  while (*rest == sep) rest++;
  auto less = [&](const char *a, const char *b, size_t n) {
    return (ignoreCase ? compareNoCase(a, b, n) : strncmp(a, b, n)) < 0;
  };
  while (*rest) {
    char *best = rest;
    size_t bestLen = itemLength(rest, sep);
    for (char *it = rest + bestLen; *it;) {
      size_t n = itemLength(it, sep);
      if (less(it, best, n)) {
        best = it;
        bestLen = n;
      }
      it += n;
    }
    memcpy(out, best, bestLen);
    out += bestLen;
    memmove(best, best + bestLen, strlen(best + bestLen) + 1);
    if (out[-1] != sep) *out++ = sep;
  }
  *out = '\0';
}

// ------------------------------------------------------------------- input --

char *Gets(char *buf, int size) {
  if (buf == nullptr || size <= 0) return nullptr;
  int n = 0;
  bool ended = false;
  while (n < size - 1) {
    int c = getchar();
    if (c == '\n') break;
    if (c == EOF || c == 255) {
      ended = true;
      break;
    }
    buf[n++] = static_cast<char>(c);
  }
  buf[n] = '\0';
  return ended && n == 0 ? nullptr : buf;
}

char *SkipSpace(const char *text) {
  if (text == nullptr) return nullptr;
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) text++;
  return const_cast<char *>(text);
}
