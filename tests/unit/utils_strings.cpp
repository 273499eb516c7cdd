// Tests of the path helpers, saved strings, search and copy functions, the
// measure conversion and GetToolPath: each feature is a table of input and
// expected result.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "MemMgr.h"
#include "utils.h"

namespace {

// A saved string, released at the end of the scope.
struct Saved {
  explicit Saved(char *p) : p(p) {}
  ~Saved() { PutMem(p); }
  Saved(const Saved &) = delete;
  Saved &operator=(const Saved &) = delete;
  char *p;
};

TEST(Paths, SplittingTable) {
  struct Case {
    const char *path, *path_, *fn, *ext, *pathExt, *pathName;
  } cases[] = {
      // path              StripPath  StripFn     StripExt     StripPathExt StripPathName
      {"a/b/c",            "c",       "a/b",      "a/b/c",     "c",         "a"},
      {"a/b/",             "b",       "a/b",      "a/b/",      "b",         "a"},
      {"name",             "name",    ".",        "name",      "name",      "name"},
      {"",                 "",        ".",        "",          "",          ""},
      {"/",                "/",       "/",        "/",         "",          ""},
      {"//",               "//",      "/",        "//",        "",          ""},
      {"/c",               "c",       "/",        "/c",        "c",         "c"},
      {"//x",              "x",       "/",        "//x",       "x",         "x"},
      {"setup",            "setup",   ".",        "setup",     "setup",     "setup"},
      {"./setup",          "setup",   ".",        "./setup",   "setup",     "setup"},
      {"/setup",           "setup",   "/",        "/setup",    "setup",     "setup"},
      {"/opt/pkg/setup",   "setup",   "/opt/pkg", "/opt/pkg/setup", "setup", "pkg/setup"},
      {"/opt/pkg/",        "pkg",     "/opt/pkg", "/opt/pkg/", "pkg",       "pkg/"},
      {"file.tar.gz",      "file.tar.gz", ".",    "file",      "file",      "file.tar.gz"},
      {".profile",         ".profile", ".",       ".profile",  ".profile",  ".profile"},
      {"..a.b",            "..a.b",   ".",        "..a",       "..a",       "..a.b"},
      {"dir.d/file.txt",   "file.txt", "dir.d",   "dir",       "file",      "txt"},
      {"dir/archive.tar.Z", "archive.tar.Z", "dir", "dir/archive", "archive", "Z"},
      {"/usr/lib/libx.so.1", "libx.so.1", "/usr/lib", "/usr/lib/libx", "libx", "1"},
      {"dir/file",         "file",    "dir",      "dir/file",  "file",      "file"},
      {".",                ".",       ".",        ".",         ".",         ""},
      {"..",               "..",      ".",        "..",        "..",        ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string("path '") + c.path + "'");
    EXPECT_STREQ(StripPath(c.path), c.path_);
    EXPECT_STREQ(StripFn(c.path), c.fn);
    EXPECT_STREQ(StripExt(c.path), c.ext);
    EXPECT_STREQ(StripPathExt(c.path), c.pathExt);
    EXPECT_STREQ(StripPathName(c.path), c.pathName);
  }
  EXPECT_STREQ(StripPath(nullptr), "");
  EXPECT_STREQ(StripFn(nullptr), ".");
  EXPECT_STREQ(StripPathExt(nullptr), "");
  EXPECT_STREQ(StripPathName(nullptr), "");
}

// Inputs longer than a static buffer are cut at its end, never written past.
TEST(Paths, LongInputsAreCut) {
  std::string longName(300, 'n');
  std::string longDir = "/" + std::string(400, 'd');
  struct Case {
    std::string in;
    char *(*fn)(const char *);
    std::string want;
  } cases[] = {
      {"/x/" + longName, StripPath, std::string(127, 'n')},
      {"/x/" + longName + ".c", StripPathExt, std::string(127, 'n')},
      {longName + ".c", StripExt, std::string(127, 'n')},
      {longDir + "/f", StripFn, longDir.substr(0, 255)},
      {"a/" + longName, StripPathName, std::string(125, 'n')},
      {std::string(600, 'z'), GenName, "Z" + std::string(253, 'z')},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.want.size());
    EXPECT_EQ(c.fn(c.in.c_str()), c.want);
  }
}

TEST(Paths, GenName) {
  struct Case {
    const char *in, *want;
  } cases[] = {
      {"hello world-2x", "HelloWorld2x"}, {"  3d printer", "DPrinter"}, {"my-queue_name", "MyQueueName"},
      {"ABC def", "AbcDef"},              {"123", ""},                  {"", ""},
      {"a1b2 c", "A1b2C"},                {"x--y", "XY"},               {"\xe9t\xe9", "T"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_STREQ(GenName(c.in), c.want);
  }
  EXPECT_STREQ(GenName(nullptr), "");
}

TEST(SavedStrings, FormattedAndVerbatim) {
  struct Case {
    const char *name;
    char *got;
    const char *want;
  } cases[] = {
      {"verbatim percent", SaveStr("100%s done %d%%"), "100%s done %d%%"},
      {"verbatim empty", SaveStr(""), ""},
      {"formatted", SaveStr("%s-%03d", "q", 7), "q-007"},
      {"SaveStr_", SaveStr_("50% %n"), "50% %n"},
      {"SaveStr_ null", SaveStr_(nullptr), ""},
      {"SaveStr__", SaveStr__("%d:%s", 4, "x"), "4:x"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Saved s(c.got);
    ASSERT_NE(s.p, nullptr);
    EXPECT_STREQ(s.p, c.want);
  }
  EXPECT_EQ(SaveStr__(nullptr), nullptr);
}

// A text longer than the formatting area comes back whole.
TEST(SavedStrings, LongTextsAreWhole) {
  for (size_t len : {4095u, 8192u, 20000u, 70000u}) {
    SCOPED_TRACE(len);
    std::string text(len, 'w');
    text[len / 2] = 'M';
    std::string want = "<" + text + ">";
    Saved a(SaveStr("<%s>", text.c_str()));
    EXPECT_EQ(std::string(a.p), want);
    Saved b(SaveStr__("<%s>", text.c_str()));
    EXPECT_EQ(std::string(b.p), want);
    Saved c(SaveStr(text.c_str()));
    EXPECT_EQ(std::string(c.p), text);
    std::string fmt = text + "%d";       // a long format as well
    Saved d(SaveStr(fmt.c_str(), 5));
    EXPECT_EQ(std::string(d.p), text + "5");
  }
}

TEST(SavedStrings, GetEnv) {
  std::string name = "TARNU_TEST_ENV_" + std::to_string(getpid());
  EXPECT_EQ(GetEnv(name.c_str()), nullptr);
  setenv(name.c_str(), "v%s 1", 1);
  Saved v(GetEnv(name.c_str()));
  ASSERT_NE(v.p, nullptr);
  EXPECT_STREQ(v.p, "v%s 1");
  setenv(name.c_str(), "", 1);
  Saved e(GetEnv(name.c_str()));
  ASSERT_NE(e.p, nullptr);
  EXPECT_STREQ(e.p, "");
  unsetenv(name.c_str());
  EXPECT_EQ(GetEnv(nullptr), nullptr);
}

#ifndef TARNU_ASAN
// Caps the address space a little above its present size, then asks for a
// 400 MB text.
void saveBeyondAddressSpace() {
  long pages = 0, rss = 0;
  FILE *f = fopen("/proc/self/statm", "r");
  if (f) {
    if (fscanf(f, "%ld %ld", &pages, &rss) != 2) pages = 0;
    fclose(f);
  }
  struct rlimit lim;
  getrlimit(RLIMIT_AS, &lim);
  lim.rlim_cur = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (32L << 20);
  setrlimit(RLIMIT_AS, &lim);
  SaveStr("%400000000d", 1);
}

// Allocation failure ends the process with the allocator's message.
TEST(SavedStringsDeathTest, AllocationFailureEndsProcess) {
  EXPECT_EXIT(saveBeyondAddressSpace(), testing::ExitedWithCode(1), ": Unable to allocate memory : ");
}
#endif

TEST(Strings, CopyStr) {
  struct Case {
    const char *src;
    size_t size;
    const char *want;
    int fitted;
  } cases[] = {
      {"abc", 4, "abc", 1}, {"abcd", 4, "abc", 0}, {"", 1, "", 1}, {"a", 1, "", 0}, {nullptr, 4, "", 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.src ? c.src : "(null)");
    char buf[8];
    memset(buf, 'Q', sizeof buf);
    EXPECT_EQ(CopyStr(buf, c.size, c.src), c.fitted);
    EXPECT_STREQ(buf, c.want);
    EXPECT_EQ(buf[c.size], 'Q');      // nothing written past the size
  }
  char one = 'Q';
  EXPECT_EQ(CopyStr(&one, 0, "x"), 0);
  EXPECT_EQ(one, 'Q');
}

TEST(Strings, Searches) {
  struct ChrCase {
    const char *s;
    int c;
    long at;    // index of the result, -1 for null
  } chr[] = {
      {"a\\,b,c", ',', 4}, {"a\\\\,b", ',', 3}, {"\\a", 'a', -1}, {"a\\", '\\', -1},
      {"x\\", 'y', -1},     {"abc", 'c', 2},     {"", 'a', -1},    {"ab", '\0', 2},
  };
  for (const ChrCase &c : chr) {
    SCOPED_TRACE(std::string("StrChr '") + c.s + "' '" + static_cast<char>(c.c) + "'");
    char *got = StrChr(c.s, c.c);
    EXPECT_EQ(got ? got - c.s : -1, c.at);
  }
  EXPECT_EQ(StrChr(nullptr, 'a'), nullptr);

  struct NCase {
    const char *s;
    int n;
    long chrAt, strAt;    // StrNChr(s, 'a', n) and StrNStr(s, "aa", n)
  } nth[] = {
      {"aaaa", 1, 0, 0},   {"aaaa", 3, 2, 2},  {"aaaa", 4, 3, -1}, {"aaaa", 5, -1, -1},
      {"aaaa", 0, -1, -1}, {"baab", 2, 2, -1}, {"", 1, -1, -1},
  };
  for (const NCase &c : nth) {
    SCOPED_TRACE(std::string(c.s) + " n=" + std::to_string(c.n));
    char *ch = StrNChr(c.s, 'a', c.n);
    char *st = StrNStr(c.s, "aa", c.n);
    EXPECT_EQ(ch ? ch - c.s : -1, c.chrAt);
    EXPECT_EQ(st ? st - c.s : -1, c.strAt);
  }
  EXPECT_EQ(StrNChr(nullptr, 'a', 1), nullptr);
  EXPECT_EQ(StrNStr(nullptr, "a", 1), nullptr);

  struct StrCase {
    const char *s, *pat;
    long exactAt, caseAt;
  } sub[] = {
      {"abc", "", -1, -1},        {"Hello", "LL", -1, 2},  {"Hello", "ll", 2, 2},
      {"abcabc", "cab", 2, 2},    {"ab", "abc", -1, -1},    {"", "a", -1, -1},
      {"xAbAB", "ab", -1, 1},     {"a\xe9", "\xc9", -1, -1},
  };
  for (const StrCase &c : sub) {
    SCOPED_TRACE(std::string("'") + c.s + "' '" + c.pat + "'");
    char *e = StrStr(c.s, c.pat);
    char *i = StrCaseStr(c.s, c.pat);
    EXPECT_EQ(e ? e - c.s : -1, c.exactAt);
    EXPECT_EQ(i ? i - c.s : -1, c.caseAt);
  }
  EXPECT_EQ(StrStr(nullptr, "a"), nullptr);
  EXPECT_EQ(StrStr("a", nullptr), nullptr);
  EXPECT_EQ(StrCaseStr(nullptr, "a"), nullptr);
  EXPECT_EQ(StrCaseStr("a", nullptr), nullptr);

  EXPECT_EQ(StrLen("abc"), 3);
  EXPECT_EQ(StrLen(""), 0);
  EXPECT_EQ(StrLen(nullptr), 0);
}

TEST(Strings, InPlaceFilters) {
  struct Case {
    const char *in, *noBackslash, *printOnly, *printLines;
  } cases[] = {
      {"a\\,b", "a,b", "a\\,b", "a\\,b"},
      {"\\\\x\\", "x", "\\\\x\\", "\\\\x\\"},
      {"l1\r\nl2\t\x01~\x7f\xff", "l1\r\nl2\t\x01~\x7f\xff", "l1l2~", "l1\r\nl2~"},
      {"", "", "", ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.in)));
    std::string a = c.in, b = c.in, d = c.in;
    EXPECT_EQ(StripAllBackslashes(a.data()), a.data());
    EXPECT_STREQ(a.c_str(), c.noBackslash);
    EXPECT_EQ(StripNonPrint(b.data(), 0), b.data());
    EXPECT_STREQ(b.c_str(), c.printOnly);
    StripNonPrint(d.data(), 1);
    EXPECT_STREQ(d.c_str(), c.printLines);
  }
  EXPECT_EQ(StripNonPrint(nullptr, 1), nullptr);
  EXPECT_EQ(StripAllBackslashes(nullptr), nullptr);
}

TEST(Strings, SetVarContent) {
  const unsigned char src[4] = {1, 2, 3, 4};
  struct Case {
    int len, reverse;
    unsigned char want[4];
  } cases[] = {
      {2, 0, {1, 2, 9, 9}}, {2, 1, {2, 1, 9, 9}}, {4, 1, {4, 3, 2, 1}}, {0, 1, {9, 9, 9, 9}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.len) + " reverse=" + std::to_string(c.reverse));
    unsigned char dst[4] = {9, 9, 9, 9};
    SetVarContent(dst, src, c.len, c.reverse);
    EXPECT_EQ(0, memcmp(dst, c.want, 4));
  }
  unsigned char same[3] = {1, 2, 3};
  SetVarContent(same, same, 3, 1);                 // in place
  EXPECT_EQ(same[0], 3);
  EXPECT_EQ(same[1], 2);
  EXPECT_EQ(same[2], 1);
}

TEST(Numbers, MaxD) {
  EXPECT_EQ(MaxD(2, 1), 2);
  EXPECT_EQ(MaxD(1, 2), 2);
  EXPECT_EQ(MaxD(-1, -1), -1);
  EXPECT_EQ(MaxD(NAN, 3), 3);
  EXPECT_TRUE(std::isnan(MaxD(3, NAN)));
}

TEST(Numbers, CvtFloatFormat) {
  struct Case {
    double value;
    int from, to;
    float want;
  } cases[] = {
      {1, 0, 2, 72.0f},    {2.54, 1, 0, 1.0f},  {1, 0, 1, 2.54f},  {144, 2, 0, 2.0f},
      {72, 2, 1, 2.54f},   {2.54, 1, 2, 72.0f}, {5.08, 1, 1, 5.08f}, {3, 0, 3, 3.0f},
      {3, -1, 0, 3.0f},    {0, 0, 2, 0.0f},     {-1, 0, 1, -2.54f},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.value) + " " + std::to_string(c.from) + "->" + std::to_string(c.to));
    EXPECT_EQ(CvtFloatFormat(c.value, c.from, c.to), c.want);
  }
}

// GetToolPath is run from inside a temporary directory and from one whose
// name is longer than the 512-byte first attempt at the working directory.
class ToolPath : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/tarnu-tok-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    ASSERT_NE(getcwd(saved_, sizeof saved_), nullptr);
    ASSERT_EQ(mkdir((root_ + "/work").c_str(), 0700), 0);
    ASSERT_EQ(chdir((root_ + "/work").c_str()), 0);
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    work_ = here;
    parent_ = work_.substr(0, work_.rfind('/'));
  }
  void TearDown() override {
    EXPECT_EQ(chdir(saved_), 0);
    std::string cmd = "rm -rf '" + root_ + "'";
    EXPECT_EQ(system(cmd.c_str()), 0);
  }
  std::string root_, work_, parent_;
  char saved_[4096];
};

TEST_F(ToolPath, FromInvocationPath) {
  struct Case {
    const char *argv0;
    std::string want;
  } cases[] = {
      {"/cdrom/setup", "/cdrom"},
      {"/setup", "/"},
      {"setup", work_},
      {"./setup", work_},
      {".//setup", work_},
      {"sub/setup", work_ + "/sub"},
      {"../setup", work_ + "/.."},
      {"./dist/setup", work_ + "/dist"},
      {"../dist/setup", parent_ + "/dist"},
      {"./a/../b/./setup", work_ + "/b"},
      {"../../../../../../../../../../../x/setup", "/x"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.argv0);
    Saved s(GetToolPath(c.argv0));
    EXPECT_EQ(std::string(s.p), c.want);
  }
}

TEST_F(ToolPath, RootWorkingDirectory) {
  ASSERT_EQ(chdir("/"), 0);
  struct Case {
    const char *argv0, *want;
  } cases[] = {{"setup", "/"}, {"sub/setup", "/sub"}, {"./dist/setup", "/dist"}, {"../dist/setup", "/dist"}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.argv0);
    Saved s(GetToolPath(c.argv0));
    EXPECT_STREQ(s.p, c.want);
  }
}

TEST_F(ToolPath, DeepWorkingDirectory) {
  std::string deep = work_;
  for (int i = 0; i < 4; i++) {
    deep += "/" + std::string(200, static_cast<char>('a' + i));
    ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
  }
  ASSERT_EQ(chdir(deep.c_str()), 0);
  Saved here(GetToolPath("setup"));
  EXPECT_EQ(std::string(here.p), deep);
  Saved sub(GetToolPath("dist/setup"));
  EXPECT_EQ(std::string(sub.p), deep + "/dist");
  Saved up(GetToolPath("../dist/setup"));
  EXPECT_EQ(std::string(up.p), deep.substr(0, deep.rfind('/')) + "/dist");
}

}  // namespace
