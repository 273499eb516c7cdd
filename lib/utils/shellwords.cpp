// The one rule for words that reach a shell command line, and the one way
// to quote a word for it. The command layer builds every command text with
// these; the utilities below it and the installer above it use the same.
#include <cstring>

#include "Handles.h"
#include "utils.h"

int IsShellWord(const char *word, ShellContext context) {
  if (word == nullptr) return 0;
  if (context == ShellContext::Quoted) return strpbrk(word, "\"\n\r") == nullptr;
  if (*word == '\0') return 0;
  for (const char *p = word; *p != '\0'; ++p) {
    const char c = *p;
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       strchr(SHELL_WORD_MARKS, c) != nullptr;
    if (!plain) return 0;
  }
  return 1;
}

int QuoteShellWord(char *dst, size_t size, const char *text) {
  BoundedBuf out(dst, size);
  out.append('\'');
  for (const char *p = text; *p != '\0' && !out.cut(); ++p) {
    if (*p == '\'') out.append("'\\''");
    else out.append(*p);
  }
  out.append('\'');
  return out.cut() ? 0 : 1;
}
