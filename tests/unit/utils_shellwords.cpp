// Tests of the shell-word checker in both contexts and of the quoting.
#include <gtest/gtest.h>

#include <string>

#include "utils.h"

namespace {

TEST(ShellWords, Contexts) {
  struct Case {
    const char *word;
    int asWord, quoted;
  };
  const Case cases[] = {
      {"/usr/local/x-1.2_b+c,d:e@f%g=h", 1, 1},
      {"", 0, 1},
      {"/tmp/\xc3\xa9", 0, 1},   // a letter outside ASCII is not one of ours
      {"~root", 0, 1},
      {"/a b", 0, 1},
      {"/a\tb", 0, 1},
      {"s/a/$(id)/`id`;'x'&|<>*?[]\\", 0, 1},
      {"/a\"b", 0, 0},
      {"/a\nb", 0, 0},
      {"/a\rb", 0, 0},
      {"/a\x7f", 0, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.word)));
    EXPECT_EQ(IsShellWord(c.word, ShellContext::Word), c.asWord);
    EXPECT_EQ(IsShellWord(c.word, ShellContext::Quoted), c.quoted);
  }
  EXPECT_EQ(IsShellWord(nullptr, ShellContext::Word), 0);
  EXPECT_EQ(IsShellWord(nullptr, ShellContext::Quoted), 0);
}

TEST(ShellWords, Quoting) {
  struct Case {
    const char *text;
    size_t size;
    const char *quoted;   // null: refused
  };
  const Case cases[] = {
      {"a b", 16, "'a b'"},
      {"it's", 16, "'it'\\''s'"},
      {"", 3, "''"},
      {"", 2, nullptr},
      {"abc", 5, nullptr},        // the closing quote does not fit
      {"a'", 5, nullptr},         // the escaped quote is cut
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    char out[16];
    const int ok = QuoteShellWord(out, c.size, c.text);
    EXPECT_EQ(ok, c.quoted != nullptr ? 1 : 0);
    if (c.quoted != nullptr) {
      EXPECT_STREQ(out, c.quoted);
    }
  }
}

}  // namespace
