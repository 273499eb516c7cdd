// Tests of the tokenizer, the token-list searches, SortTokens, ParseStr and
// the line input: each feature is a table of input and expected result.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "utils.h"

namespace {

using Tokens = std::vector<std::string>;

Tokens takeAllGetToken(const char *in, const char *delims, std::string *dels) {
  Tokens out;
  for (char *t = GetToken(in, delims); t; t = GetToken(nullptr, delims)) {
    out.emplace_back(t);
    dels->push_back(chTokenDel ? chTokenDel : '0');
  }
  return out;
}

Tokens takeAllGetTokenD(const char *in, const char *delims) {
  Tokens out;
  const char *cursor = nullptr;
  char buf[TOKEN_BUF_SIZE];
  for (char *t = GetTokenD(in, delims, &cursor, buf); t; t = GetTokenD(nullptr, delims, &cursor, buf))
    out.emplace_back(t);
  return out;
}

Tokens takeAllGetTokenParse(std::string &work, const char *delims) {
  Tokens out;
  for (char *t = GetTokenParse(work.data(), delims); t; t = GetTokenParse(nullptr, delims)) out.emplace_back(t);
  return out;
}

// The common scanning rule in all three forms: GetToken and GetTokenD decode
// escape pairs, GetTokenParse keeps them.
TEST(Tokenizer, ScanningRuleInAllThreeForms) {
  struct Case {
    const char *in, *delims;
    Tokens decoded;
    std::string dels;    // chTokenDel after each token of GetToken ('0' for none)
    Tokens parsed;
  } cases[] = {
      {",,a,,b,", ",", {"a", "b"}, ",,", {"a", "b"}},
      {"key=value", " =", {"key", "value"}, "=0", {"key", "value"}},
      {"a\\,b c", ", ", {"a,b", "c"}, " 0", {"a\\,b", "c"}},
      {"x\\ty", " ", {"x\ty"}, "0", {"x\\ty"}},
      {"\\n\\r\\\\\\q", " ", {"\n\r\\q"}, "0", {"\\n\\r\\\\\\q"}},
      {"abc", ",", {"abc"}, "0", {"abc"}},
      {",abc", ",", {"abc"}, ",", {"abc"}},
      {"", ",", {}, "", {}},
      {",,,", ",", {}, "", {}},
      {"  a  b  ", " ", {"a", "b"}, "  ", {"a", "b"}},
      {"a b", "", {"a b"}, "0", {"a b"}},
      {"ab\\", ",", {"ab\\"}, "0", {"ab\\"}},      // lone backslash: literal, scan ends
      {"\\", ",", {"\\"}, "0", {"\\"}},
      {"a,\\", ",", {"a", "\\"}, ",0", {"a", "\\"}},
      {"a\tb\nc", " \t\n", {"a", "b", "c"}, "\t\n0", {"a", "b", "c"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string("input '") + c.in + "' delims '" + c.delims + "'");
    std::string dels;
    EXPECT_EQ(takeAllGetToken(c.in, c.delims, &dels), c.decoded);
    EXPECT_EQ(dels, c.dels);
    EXPECT_EQ(takeAllGetTokenD(c.in, c.delims), c.decoded);
    std::string work = c.in;
    EXPECT_EQ(takeAllGetTokenParse(work, c.delims), c.parsed);
  }
}

TEST(Tokenizer, DelimiterRecordedAndResumePoint) {
  const char *in = ",abc";
  EXPECT_STREQ(GetToken(in, ","), "abc");
  EXPECT_EQ(chTokenDel, ',');          // the leading delimiter was consumed
  EXPECT_EQ(szTokenIn, in + 4);

  const char *kv = "key=value";
  EXPECT_STREQ(GetToken(kv, " ="), "key");
  EXPECT_EQ(chTokenDel, '=');
  EXPECT_STREQ(szTokenIn, "value");
  EXPECT_EQ(GetTokenBufInput(), kv + 4);

  EXPECT_STREQ(GetToken(nullptr, " ="), "value");
  EXPECT_EQ(GetToken(nullptr, " ="), nullptr);
  EXPECT_EQ(chTokenDel, 0);
  EXPECT_EQ(GetToken(nullptr, " ="), nullptr);   // stays at the end
}

TEST(Tokenizer, GetTokenParseWritesNulsOverDelimiters) {
  char line[] = ",,ab,\\,c  d";
  EXPECT_STREQ(GetTokenParse(line, ", "), "ab");
  EXPECT_EQ(chTokenDel, ',');
  EXPECT_STREQ(szTokenIn, "\\,c  d");
  EXPECT_STREQ(GetTokenParse(nullptr, ", "), "\\,c");
  EXPECT_EQ(chTokenDel, ' ');
  EXPECT_STREQ(GetTokenParse(nullptr, ", "), "d");
  EXPECT_EQ(GetTokenParse(nullptr, ", "), nullptr);
  const char expected[] = "\0\0ab\0\\,c\0\0d";
  EXPECT_EQ(0, memcmp(line, expected, sizeof line));
}

TEST(Tokenizer, GetTokenDLeavesSharedScanAlone) {
  GetToken("one two", " ");
  const char *resume = szTokenIn;
  const char *pos = GetTokenBufInput();
  const char *cursor = nullptr;
  char buf[TOKEN_BUF_SIZE];
  EXPECT_STREQ(GetTokenD("x;y", ";", &cursor, buf), "x");
  EXPECT_EQ(chTokenDel, ';');
  EXPECT_STREQ(cursor, "y");
  EXPECT_STREQ(GetTokenD(nullptr, ";", &cursor, buf), "y");
  EXPECT_EQ(GetTokenD(nullptr, ";", &cursor, buf), nullptr);
  EXPECT_STREQ(GetTokenBuf, "one");
  EXPECT_EQ(szTokenIn, resume);
  EXPECT_EQ(GetTokenBufInput(), pos);
  EXPECT_STREQ(GetToken(nullptr, " "), "two");
}

// End-of-line mode: a token ended by a newline gives null, with the token in
// the buffer, the scan past the newline and the resume point unchanged.
TEST(Tokenizer, EndOfLineMode) {
  const char *in = "a b\nc d";
  EXPECT_STREQ(GetToken(in, " \n"), "a");
  const char *resume = szTokenIn;
  EXPECT_EQ(GetToken(TOKEN_EOL, " \n"), nullptr);
  EXPECT_STREQ(GetTokenBuf, "b");
  EXPECT_EQ(chTokenDel, '\n');
  EXPECT_EQ(szTokenIn, resume);
  EXPECT_STREQ(GetTokenBufInput(), "c d");
  EXPECT_STREQ(GetToken(TOKEN_EOL, " \n"), "c");
  EXPECT_STREQ(szTokenIn, "d");
  EXPECT_STREQ(GetToken(TOKEN_EOL, " \n"), "d");   // ended by the end of input

  // Leading newlines are ordinary leading delimiters.
  GetToken("x", " \n");
  SetTokenBuf("\n\ny z");
  EXPECT_STREQ(GetToken(TOKEN_EOL, " \n"), "y");

  const char *cursor = "p\nq";
  const char *start = cursor;
  char buf[TOKEN_BUF_SIZE];
  EXPECT_EQ(GetTokenD(TOKEN_EOL, "\n", &cursor, buf), nullptr);
  EXPECT_STREQ(buf, "p");
  EXPECT_EQ(cursor, start);                          // not updated

  char line[] = "u\nv w";
  EXPECT_STREQ(GetTokenParse(line, " "), "u\nv");
  char line2[] = "u\nv w";
  GetTokenParse(line2, "#");                         // start a scan, all one token
  SetTokenBuf(line2);
  const char *before = szTokenIn;
  EXPECT_EQ(GetTokenParse(TOKEN_EOL, "\n "), nullptr);
  EXPECT_EQ(szTokenIn, before);
  EXPECT_STREQ(GetTokenBufInput(), "v w");
  EXPECT_STREQ(GetTokenParse(TOKEN_EOL, "\n "), "v");
}

// A token longer than 254 characters is cut; the scan moves past all of it.
TEST(Tokenizer, LongTokenCutAt254) {
  for (size_t len : {253u, 254u, 255u, 600u}) {
    SCOPED_TRACE(len);
    std::string in = std::string(len, 'x') + ",\\" + std::string(len, 'z') + ",next";
    std::string want(std::min<size_t>(len, 254), 'x');
    EXPECT_EQ(GetToken(in.c_str(), ","), want);
    EXPECT_STREQ(szTokenIn, in.c_str() + len + 1);
    EXPECT_EQ(GetToken(nullptr, ","), std::string(std::min<size_t>(len, 254), 'z'));
    EXPECT_STREQ(GetToken(nullptr, ","), "next");

    const char *cursor = nullptr;
    char buf[TOKEN_BUF_SIZE];
    EXPECT_EQ(GetTokenD(in.c_str(), ",", &cursor, buf), want);
    GetTokenD(nullptr, ",", &cursor, buf);
    EXPECT_STREQ(GetTokenD(nullptr, ",", &cursor, buf), "next");
  }
}

// GetTokenD says of each token whether it was cut; an escape pair is one
// character of the token, and a call that finds no token reports no cut.
TEST(Tokenizer, GetTokenDReportsACut) {
  const struct {
    std::string in;
    std::vector<bool> cuts;   // one per token
  } cases[] = {
      {std::string(254, 'x'), {false}},
      {std::string(255, 'x') + " y", {true, false}},
      {std::string(253, 'x') + "\\n", {false}},
      {std::string(254, 'x') + "\\n", {true}},
      {"a " + std::string(600, 'x'), {false, true}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.in.size());
    const char *cursor = nullptr;
    char buf[TOKEN_BUF_SIZE];
    bool cut = false;
    std::vector<bool> cuts;
    for (char *t = GetTokenD(c.in.c_str(), " ", &cursor, buf, &cut); t; t = GetTokenD(nullptr, " ", &cursor, buf, &cut))
      cuts.push_back(cut);
    EXPECT_EQ(cuts, c.cuts);
    EXPECT_FALSE(cut);
  }
}

TEST(Tokenizer, GetTokenN) {
  struct Case {
    const char *in;
    int n;
    const char *want;
  } cases[] = {
      {"a b c", 3, "c"}, {"a b c", 4, nullptr}, {"a b c", 0, "a"}, {"a b c", -5, "a"},
      {"a b c", 1, "a"}, {"  a   b", 2, "b"},   {"", 1, nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.in) + " n=" + std::to_string(c.n));
    char *t = GetTokenN(c.in, " ", c.n);
    if (c.want == nullptr) {
      EXPECT_EQ(t, nullptr);
    } else {
      EXPECT_STREQ(t, c.want);
    }
  }
  GetTokenN("a b c d", " ", 2);
  EXPECT_STREQ(GetToken(nullptr, " "), "c");      // the scan continues after it
}

TEST(Tokenizer, GetTokenCountKeepsScanInProgress) {
  struct Case {
    const char *in, *delims;
    int want;
  } cases[] = {
      {"a b  c", " ", 3}, {"", " ", 0}, {"   ", " ", 0}, {"a\\ b c", " ", 2}, {",x,,y,", ",", 2},
  };
  const char *line = "one two three";
  EXPECT_STREQ(GetToken(line, " "), "one");
  const char *resume = szTokenIn;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(GetTokenCount(c.in, c.delims), c.want);
    EXPECT_EQ(szTokenIn, resume);
    EXPECT_STREQ(GetTokenBuf, "one");
  }
  EXPECT_EQ(GetTokenCount(nullptr, " "), 2);       // the rest of the scan in progress
  EXPECT_STREQ(GetToken(nullptr, " "), "two");
  EXPECT_EQ(GetTokenCount(nullptr, " "), 1);
  EXPECT_STREQ(GetToken(nullptr, " "), "three");
}

TEST(Tokenizer, SetTokenBufResumesSavedScan) {
  const char *outer = "a b c";
  GetToken(outer, " ");
  const char *saved = szTokenIn;
  EXPECT_STREQ(GetToken("x y", " "), "x");           // a second scan abandons the first
  SetTokenBuf(saved);
  EXPECT_EQ(GetTokenBufInput(), saved);
  EXPECT_EQ(szTokenIn, saved);
  EXPECT_STREQ(GetToken(nullptr, " "), "b");
  EXPECT_STREQ(GetToken(nullptr, " "), "c");
}

TEST(Tokenizer, ParseStr) {
  struct Case {
    const char *in, *delims;
    int max;
    Tokens want;
  } cases[] = {
      {"  ls  -l   x ", " ", 2, {"ls", "-l"}},
      {"  ls  -l   x ", " ", 5, {"ls", "-l", "x"}},
      {"a:b::c", ":", 4, {"a", "b", "c"}},
      {"a\\ b", " ", 4, {"a\\", "b"}},        // no escapes
      {"", " ", 3, {}},
      {"   ", " ", 3, {}},
      {"abc", " ", 1, {"abc"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.in) + " max=" + std::to_string(c.max));
    std::string work = c.in;
    char *fields[5];
    for (char *&f : fields) f = work.data();
    int n = ParseStr(work.data(), c.delims, fields, c.max);
    ASSERT_EQ(n, static_cast<int>(c.want.size()));
    for (int i = 0; i < n; i++) EXPECT_STREQ(fields[i], c.want[i].c_str());
    for (int i = n; i < c.max; i++) EXPECT_EQ(fields[i], nullptr);
  }
  char *fields[2] = {nullptr, nullptr};
  char text[] = "a b";
  EXPECT_EQ(ParseStr(nullptr, " ", fields, 2), 0);
  EXPECT_EQ(ParseStr(text, " ", fields, 0), 0);
  EXPECT_STREQ(text, "a b");                          // untouched for a maximum of 0
  // With the maximum reached the rest of the string is not touched.
  char rest[] = "a b c d";
  EXPECT_EQ(ParseStr(rest, " ", fields, 2), 2);
  EXPECT_EQ(0, memcmp(rest, "a\0b\0c d", sizeof rest));
}

TEST(TokenList, FindTokenAndFindTokenC) {
  struct Case {
    const char *token, *list;
    int exact, noCase;
  } cases[] = {
      {"yes", ",y,yes,n,no,", 2, 2},
      {"YES", ",y,yes,n,no,", 0, 2},
      {"y", ",y,yes,n,no,", 1, 1},
      {"pr_BR", ",en_US,es_ES,it_IT,fr_FR,ge_GE,pr_BR", 6, 6},
      {"PR_br", ",en_US,es_ES,it_IT,fr_FR,ge_GE,pr_BR", 0, 6},
      {"-v", ",install,-v", 2, 2},
      {"b", ",a,,b,", 3, 3},
      {"ye", ",y,yes,", 0, 0},
      {"es", ",y,yes,", 0, 0},
      {"yess", ",y,yes", 0, 0},
      {".", ";.;..;", 1, 1},
      {"..", ";.;..;", 2, 2},
      {"", ",a,,b", 2, 2},
      {"", ",a,b,", 3, 3},
      {"", ",a,b", 0, 0},
      {"a", "", 0, 0},
      {"a", "a", 0, 0},
      {"x", "|x|y", 1, 1},
      {"y", "|x|y", 2, 2},
      {"a,b", ",a,b,", 1, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string("'") + c.token + "' in '" + c.list + "'");
    EXPECT_EQ(FindToken(c.token, c.list), c.exact);
    EXPECT_EQ(FindTokenC(c.token, c.list), c.noCase);
  }
  EXPECT_EQ(FindToken(nullptr, ",a,"), 0);
  EXPECT_EQ(FindToken("a", nullptr), 0);
  EXPECT_EQ(FindTokenC(nullptr, ",a,"), 0);
  EXPECT_EQ(FindTokenC("a", nullptr), 0);
}

// The framed token must fit the 512-byte work buffer: up to 509 characters.
TEST(TokenList, LongTokensAtTheFrameLimit) {
  for (size_t len : {509u, 510u, 2000u}) {
    SCOPED_TRACE(len);
    std::string token(len, 'k');
    std::string middle = ",a," + token + ",b,";
    std::string last = ",a," + token;
    int want = len <= 509 ? 2 : 0;
    EXPECT_EQ(FindToken(token.c_str(), middle.c_str()), want);
    EXPECT_EQ(FindToken(token.c_str(), last.c_str()), want);
    EXPECT_EQ(FindTokenC(token.c_str(), middle.c_str()), want);
    EXPECT_EQ(FindTokenC(token.c_str(), last.c_str()), want);
  }
}

TEST(TokenList, FindTokenWithDelim) {
  struct Case {
    const char *list, *token;
    char sep;
    int want;
  } cases[] = {
      {"red:green:blue", "blue", ':', 3},
      {"red:green:blue", "red", ':', 1},
      {"red:green", "gre", ':', 0},
      {"red:green", "greens", ':', 0},
      {":a", "", ':', 1},
      {"", "", ':', 1},
      {"", "a", ':', 0},
      {"a::b", "", ':', 2},
      {"a::b", "b", ':', 3},
      {"a:b:", "", ':', 3},
      {"Red", "red", ':', 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string("'") + c.token + "' in '" + c.list + "'");
    EXPECT_EQ(FindTokenWithDelim(c.list, c.token, c.sep), c.want);
  }
  EXPECT_EQ(FindTokenWithDelim(nullptr, "a", ':'), 0);
  EXPECT_EQ(FindTokenWithDelim("a", nullptr, ':'), 0);
}

TEST(TokenList, SortTokens) {
  struct Case {
    const char *in;
    char sep;
    int ignoreCase;
    const char *want;
  } cases[] = {
      {"pear,apple,fig,", ',', 0, "apple,fig,pear,"},
      {"b,a", ',', 0, "a,b,"},
      {"a,b", ',', 0, "a,b,"},
      {",b,a,", ',', 0, ",a,b,"},
      {"ab,a,", ',', 0, "a,ab,"},
      {"b,B,a,A,", ',', 0, "A,B,a,b,"},
      {"b,C,a,", ',', 1, "a,b,C,"},
      {"x\\,z,x\\,a,", ',', 0, "x\\,a,x\\,z,"},      // escaped separators stay inside items
      {"only", ',', 0, "only,"},
      {"", ',', 0, ""},
      {",,", ',', 0, ",,"},
      {"c:b:a:", ':', 0, "a:b:c:"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.in);
    char buf[64] = {};
    snprintf(buf, sizeof buf, "%s", c.in);
    SortTokens(buf, c.sep, c.ignoreCase);
    EXPECT_STREQ(buf, c.want);
  }
  SortTokens(nullptr, ',', 0);    // nothing to do, must not crash
}

// Feeds text to standard input through a pipe for the duration of a test.
class StdinFeed {
 public:
  explicit StdinFeed(const std::string &text) {
    saved_ = dup(0);
    int fds[2];
    if (pipe(fds) != 0) ADD_FAILURE() << "pipe";
    if (write(fds[1], text.data(), text.size()) != static_cast<ssize_t>(text.size())) ADD_FAILURE() << "write";
    close(fds[1]);
    dup2(fds[0], 0);
    close(fds[0]);
    clearerr(stdin);
  }
  ~StdinFeed() {
    while (getchar() != EOF) {
    }
    dup2(saved_, 0);
    close(saved_);
    clearerr(stdin);
  }

 private:
  int saved_;
};

TEST(Input, Gets) {
  struct Case {
    std::string input;
    int size;
    std::vector<const char *> lines;   // results until the first null
  } cases[] = {
      {"abc\n", 64, {"abc"}},
      {"", 64, {}},
      {"abc\n\nxyz", 64, {"abc", "", "xyz"}},
      {"abcdef\n", 4, {"abc", "def", ""}},
      {std::string("ab\xff" "cd\n", 6), 64, {"ab", "cd"}},
      {std::string("\xff" "z\n", 3), 64, {}},          // 255 with nothing read
      {"a\r\n", 64, {"a\r"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.input));
    StdinFeed feed(c.input);
    char buf[64];
    memset(buf, 'Q', sizeof buf);
    for (const char *want : c.lines) {
      char *got = Gets(buf, c.size);
      ASSERT_EQ(got, buf);
      EXPECT_STREQ(got, want);
    }
    EXPECT_EQ(Gets(buf, c.size), nullptr);
    EXPECT_STREQ(buf, "");
  }
}

TEST(Input, SkipSpace) {
  struct Case {
    const char *in, *want;
  } cases[] = {
      {"  \t\n\v\f\rx y", "x y"}, {"x", "x"}, {"", ""}, {"   ", ""}, {"\xa0x", "\xa0x"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.in)));
    EXPECT_STREQ(SkipSpace(c.in), c.want);
  }
  EXPECT_EQ(SkipSpace(nullptr), nullptr);
}

}  // namespace
