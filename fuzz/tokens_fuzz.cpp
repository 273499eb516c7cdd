// Fuzz target of the tokenizers and token lists: the input is split into a
// delimiter set, a token and a text; every scanner runs over the text and
// the list searches and the sort over it as a list. The shared scan and the
// re-entrant scan must agree, tokens must fit their buffer, and list
// searches must name an item that exists.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "MemMgr.h"
#include "fuzz_support.h"

namespace {

using fuzzsupport::takePart;

void check(bool ok) {
  if (!ok) abort();
}

int countChar(const std::string &s, char c) {
  int n = 0;
  for (char x : s) n += x == c;
  return n;
}

void scanText(const std::string &text, const std::string &delims) {
  std::vector<std::string> shared;
  for (char *t = GetToken(text.c_str(), delims.c_str()); t; t = GetToken(nullptr, delims.c_str())) {
    check(strlen(t) < TOKEN_BUF_SIZE);
    shared.emplace_back(t);
  }
  std::vector<std::string> own;
  char buf[TOKEN_BUF_SIZE];
  const char *cursor = nullptr;
  for (char *t = GetTokenD(text.c_str(), delims.c_str(), &cursor, buf); t;
       t = GetTokenD(nullptr, delims.c_str(), &cursor, buf))
    own.emplace_back(t);
  check(shared == own);
  check(GetTokenCount(text.c_str(), delims.c_str()) == static_cast<int>(shared.size()));
  if (!shared.empty()) {
    const char *nth = GetTokenN(text.c_str(), delims.c_str(), static_cast<int>(shared.size()));
    check(nth != nullptr && shared.back() == nth);
  }

  // The in-place scan and the field split work on copies of their own.
  std::string copy = text;
  int parsed = 0;
  for (char *t = GetTokenParse(copy.data(), delims.c_str()); t; t = GetTokenParse(nullptr, delims.c_str())) {
    check(t >= copy.data() && t < copy.data() + copy.size() + 1);
    parsed++;
  }
  std::string fields = text;
  char *field[16];
  const int n = ParseStr(fields.data(), delims.c_str(), field, 16);
  check(n >= 0 && n <= 16);
  for (int i = 0; i < n; i++) check(field[i] >= fields.data() && field[i] < fields.data() + fields.size());
  (void)parsed;
}

void searchList(const std::string &list, const std::string &token) {
  if (list.empty()) return;
  const int items = countChar(list, list[0]);
  int found = FindToken(token.c_str(), list.c_str());
  check(found >= 0 && found <= items);
  found = FindTokenC(token.c_str(), list.c_str());
  check(found >= 0 && found <= items);
  found = FindTokenWithDelim(list.c_str(), token.c_str(), ',');
  check(found >= 0 && found <= countChar(list, ',') + 1);

  std::string sorted = list;
  sorted.push_back('\0');   // room for the separator the sort may add
  SortTokens(sorted.data(), ',', static_cast<int>(list.size() & 1));
  check(strlen(sorted.c_str()) <= list.size() + 1);
  std::string again = list;
  again.push_back('\0');
  SortTokens(again.data(), list[0], 0);
  check(strlen(again.c_str()) <= list.size() + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  size_t pos = 0;
  const std::string delims = takePart(data, size, pos);
  const std::string token = takePart(data, size, pos);
  const std::string text = takePart(data, size, pos);
  scanText(text, delims.empty() ? " \t\n" : delims);
  searchList(text, token);
  const char *skipped = SkipSpace(text.c_str());
  check(skipped >= text.c_str() && skipped <= text.c_str() + text.size());
  SetTokenBuf(nullptr);
  return 0;
}
