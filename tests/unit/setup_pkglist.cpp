// Tests of the package list: every command word and attribute carried out in
// a temporary work area and application directory, the release conditions,
// line continuation and long lines, the refused lines, the scratch file of
// the stream edit, and the ways a list ends the run.
#include <gtest/gtest.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "MemMgr.h"
#include "SysCmd.h"
#include "pkglist.h"
#include "setup.h"
#include "utils.h"

// The system's release can be made unreadable: this definition stands in
// for the C library's uname in the test program.
static bool failUname = false;
extern "C" int uname(struct utsname *name) {
  if (failUname) {
    errno = EFAULT;
    return -1;
  }
  return static_cast<int>(syscall(SYS_uname, name));
}

namespace {

namespace fs = std::filesystem;

std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeFile(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string replaceAll(std::string text, const std::string &from, const std::string &to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

std::string systemRelease() {
  struct utsname name {};
  uname(&name);
  return name.release;
}

// One expectation on a path after a list has run.
struct Expect {
  enum What { Content, Mode, Absent, Dir, LinkTo, Owner, Group };
  std::string path;   // "{app}" and "{root}" are replaced
  What what;
  std::string value;
};

class PkgListTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    flUseLog = 0;
    my_name = SaveStr("tarnu-test-%d", static_cast<int>(getpid()));
    InitSysCmdList();
  }

  void SetUp() override {
    umask(022);
    char tmpl[] = "/tmp/tarnu-pkglist.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    work_ = root_ + "/work";
    app_ = root_ + "/app";
    fs::create_directories(work_ + "/pkg/fonts");
    fs::create_directories(app_);
    writeFile(work_ + "/pkg/tprint", "alpha\ncharlie\n");
    writeFile(work_ + "/pkg/fonts/courier.fnt", "font\n");
    savedWork_ = pTarnuInstallDir;
    savedApp_ = pAppDir;
    pTarnuInstallDir = SaveStr("%s", work_.c_str());
    pAppDir = SaveStr("%s", app_.c_str());
    scratch_ = std::string("/tmp/") + my_name + ".tmp";
  }

  void TearDown() override {
    PutMem(pTarnuInstallDir);
    PutMem(pAppDir);
    pTarnuInstallDir = savedWork_;
    pAppDir = savedApp_;
    std::error_code ec;
    fs::remove_all(root_, ec);
    fs::remove_all(scratch_, ec);
  }

  std::string expand(const std::string &text) const {
    return replaceAll(replaceAll(text, "{app}", app_), "{root}", root_);
  }

  int run(const std::string &list) {
    writeFile(work_ + "/pkg/pkg.list", expand(list));
    return ProcessPkgList("pkg");
  }

  void check(const Expect &e) const {
    const std::string path = expand(e.path);
    SCOPED_TRACE(path);
    struct stat st {};
    const bool there = lstat(path.c_str(), &st) == 0;
    switch (e.what) {
      case Expect::Absent:
        EXPECT_FALSE(there);
        return;
      case Expect::Content:
        ASSERT_TRUE(there);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(readFile(path), e.value);
        return;
      case Expect::Mode:
        ASSERT_TRUE(there);
        EXPECT_EQ(st.st_mode & 07777, std::stoul(e.value, nullptr, 8));
        return;
      case Expect::Dir:
        ASSERT_TRUE(there);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        return;
      case Expect::LinkTo:
        ASSERT_TRUE(there);
        ASSERT_TRUE(S_ISLNK(st.st_mode));
        EXPECT_EQ(fs::read_symlink(path).string(), expand(e.value));
        return;
      case Expect::Owner: {
        ASSERT_TRUE(there);
        const passwd *pw = getpwnam(e.value.c_str());
        ASSERT_NE(pw, nullptr);
        EXPECT_EQ(st.st_uid, pw->pw_uid);
        return;
      }
      case Expect::Group: {
        ASSERT_TRUE(there);
        const group *gr = getgrnam(e.value.c_str());
        ASSERT_NE(gr, nullptr);
        EXPECT_EQ(st.st_gid, gr->gr_gid);
        return;
      }
    }
  }

  void clearApp() {
    fs::remove_all(app_);
    fs::create_directories(app_);
  }

  std::string root_, work_, app_, scratch_;
  char *savedWork_ = nullptr, *savedApp_ = nullptr;
};

TEST_F(PkgListTest, CommandsAndAttributes) {
  struct Case {
    std::string list;
    std::vector<Expect> expect;
  };
  const std::string original = "alpha\ncharlie\n";
  const std::vector<Case> cases = {
      {"c tprint mode 755 owner daemon group bin\n",
       {{"{app}/tprint", Expect::Content, original}, {"{app}/tprint", Expect::Mode, "755"},
        {"{app}/tprint", Expect::Owner, "daemon"}, {"{app}/tprint", Expect::Group, "bin"}}},
      {"dir fonts mode 700\n",
       {{"{app}/fonts/courier.fnt", Expect::Content, "font\n"}, {"{app}/fonts", Expect::Mode, "700"}}},
      // The copy goes to the destination; the mode still to the application directory.
      {"dir fonts mode 755\ndirto fonts {root}/work mode 700\n",
       {{"{root}/work/fonts/courier.fnt", Expect::Content, "font\n"},
        {"{root}/work/fonts", Expect::Mode, "755"}, {"{app}/fonts", Expect::Mode, "700"}}},
      {"t marker mode 600\n",
       {{"{app}/marker", Expect::Content, ""}, {"{app}/marker", Expect::Mode, "600"}}},
      {"c tprint\nm tprint sed -e s/a/b/ -e s/c/d/\n",
       {{"{app}/tprint", Expect::Content, "blpha\ndhbrlie\n"}, {"{app}/tprint", Expect::Mode, "644"}}},
      {"m missing sed -e s/a/b/\ns missing mode 700\nm missing t x\n",
       {{"{app}/missing", Expect::Absent, ""}, {"{app}/x", Expect::Absent, ""}}},
      {"c tprint\ns tprint mode 640\n", {{"{app}/tprint", Expect::Mode, "640"}}},
      {"# c tprint\n  \n\n", {{"{app}/tprint", Expect::Absent, ""}}},
      {"#abc tprint mode 700\n", {{"{app}/tprint", Expect::Mode, "700"}}},
      {"xyz tprint mode 700\n",
       {{"{app}/tprint", Expect::Content, original}, {"{app}/tprint", Expect::Mode, "700"}}},
      {"newdir spool mode 777\n", {{"{app}/spool", Expect::Dir, ""}, {"{app}/spool", Expect::Mode, "777"}}},
      {"newdir a/b\n", {{"{app}/a/b", Expect::Dir, ""}, {"{app}/a/b", Expect::Mode, "775"}}},
      {"c tprint link {root}/lnk\n", {{"{root}/lnk", Expect::LinkTo, "{app}/tprint"}}},
      {"c tprint name tp2\n",
       {{"{app}/tp2", Expect::Content, original}, {"{app}/tprint", Expect::Absent, ""}}},
      {"c tprint foo bar mode 700 baz\n", {{"{app}/tprint", Expect::Mode, "700"}}},
      {"c tprint mode\n", {{"{app}/tprint", Expect::Mode, "644"}}},
      // A later "sed" takes one word; the edited file keeps the scratch file's mode.
      {"c tprint mode 700 sed s/a/b/ mode 600\n",
       {{"{app}/tprint", Expect::Content, "blpha\nchbrlie\n"}, {"{app}/tprint", Expect::Mode, "600"}}},
      {"c tprint sed -e 's/a/x y/'   \n", {{"{app}/tprint", Expect::Content, "x ylpha\nchx yrlie\n"}}},
      {"c tprint sed\n", {{"{app}/tprint", Expect::Content, original}}},
      // A first "sed" takes the line as written: its escapes are sed's own,
      // and its words are not held to the length of a word.
      {"c tprint sed -e 's/al/\\n/' -e 's/e$/\\r/'\n",
       {{"{app}/tprint", Expect::Content, "\npha\ncharli\r\n"}}},
      {"c tprint sed -e 's/alpha/" + std::string(300, 'x') + "/'\n",
       {{"{app}/tprint", Expect::Content, std::string(300, 'x') + "\ncharlie\n"}}},
      {"c tprint\nv >= 0 m tprint sed -e 's/^c/\\r/'\n",
       {{"{app}/tprint", Expect::Content, "alpha\n\rharlie\n"}}},
      // Continued lines, also in the middle of a word.
      {"c tprint \\\nmode 700\n", {{"{app}/tprint", Expect::Mode, "700"}}},
      {"c tprint mode 7\\\n00 \\\n owner daemon\n",
       {{"{app}/tprint", Expect::Mode, "700"}, {"{app}/tprint", Expect::Owner, "daemon"}}},
      {"c\nt\ndirto fonts\ncheckps\n", {{"{app}/fonts", Expect::Absent, ""}}},
      {"checkps ,no-such-program-xyz,\nt after\n", {{"{app}/after", Expect::Content, ""}}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.list);
    clearApp();
    fs::remove_all(root_ + "/lnk");
    fs::remove_all(work_ + "/fonts");
    EXPECT_EQ(run(c.list), 0);
    for (const auto &e : c.expect) check(e);
    EXPECT_FALSE(fs::exists(fs::symlink_status(scratch_)));
  }
}

TEST_F(PkgListTest, ReleaseConditionsOnThisSystem) {
  const std::string r = systemRelease();
  ASSERT_FALSE(r.empty());
  struct Case {
    std::string line;
    bool done;
  };
  const std::vector<Case> cases = {
      {"v = " + r + " t m", true},
      {"v <= " + r + " t m", true},
      {"v >= " + r + " t m", true},
      {"v < " + r + " t m", false},
      {"v > " + r + " t m", false},
      {"v != " + r + " t m", false},
      {"v =< " + r + " t m", false},
      {"v >= " + r + " v <= " + r + " t m", true},
      {"v >= " + r + " v < " + r + " t m", false},
      {"v > 0 v < ~ t m", true},
      {"v >= " + r + " # t m", false},
      {"v >= " + r, false},
      {"v >=", false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.line);
    clearApp();
    EXPECT_EQ(run(c.line + "\n"), 0);
    EXPECT_EQ(fs::exists(app_ + "/m"), c.done);
  }
  clearApp();
  EXPECT_EQ(run("v = " + r + " c tprint mode 700\n"), 0);
  check({"{app}/tprint", Expect::Mode, "700"});
}

// Without a release the line is read as attribute pairs from the release
// word on, with the operator word standing as the entry.
TEST_F(PkgListTest, UnreadableReleaseReportsAndReadsPairs) {
  writeFile(app_ + "/tprint", "x\n");
  chmod((app_ + "/tprint").c_str(), 0644);
  failUname = true;
  testing::internal::CaptureStderr();
  // The last line's pairs start at "y": "mode" then takes an escaped line end.
  const int result = run("v tprint mode 700\nv >= 2.4 t never\nv x y z w sed mode 7\\n00\n");
  const std::string err = testing::internal::GetCapturedStderr();
  failUname = false;
  EXPECT_EQ(result, 0);
  const std::string report = "failed ts get version: " + std::string(strerror(EFAULT)) + "\n";
  EXPECT_EQ(err, report + report + report +
                     "WARNING: package list line refused, a word holds a line end: "
                     "v x y z w sed mode 7\\n00\n");
  check({"{app}/tprint", Expect::Mode, "700"});
  check({"{app}/never", Expect::Absent, ""});
}

TEST(ReleaseCondition, ComparesByteByByte) {
  struct Case {
    const char *op, *word, *release;
    int expected;
  };
  const Case cases[] = {
      {">=", "2.4", "2.4.20", 1},   {">=", "2.4", "2.10", 0},      {"<", "2.6", "2.4.20", 1},
      {"<", "2.6", "2.6", 0},       {"<=", "2.6", "2.6", 1},       {"=", "5.15.0", "5.15.0", 1},
      {"=", "5.15", "5.15.0", 0},   {">", "5.15", "5.15.0", 1},    {">", "5.15.0", "5.15.0", 0},
      {"!=", "1", "2", 0},          {"", "1", "2", 0},             {"=>", "1", "2", 0},
      {"<", "2.10", "2.9", 0},      {nullptr, "1", "1", 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.op ? c.op : "(null)") + " " + c.word + " on " + c.release);
    EXPECT_EQ(TestReleaseCondition(c.op, c.word, c.release), c.expected);
  }
}

TEST_F(PkgListTest, AttributePairsCountAndApply) {
  struct Case {
    const char *text;
    int applied;
    const char *mode;
  };
  const Case cases[] = {
      {"mode 700", 1, "700"},
      {"mode 700 foo bar owner", 1, "700"},
      {"foo mode 700", 0, "644"},   // "mode" is foo's value
      {"sed", 0, "644"},
      {"sed    \n", 0, "644"},
      {"", 0, "644"},
      {"mode 600 mode 640", 2, "640"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    writeFile(app_ + "/f", "x\n");
    chmod((app_ + "/f").c_str(), 0644);
    EXPECT_EQ(ApplyPkgAttributes("f", c.text), c.applied);
    check({"{app}/f", Expect::Mode, c.mode});
  }
}

TEST_F(PkgListTest, NewdirOnASecondRunSkipsTheWholeLine) {
  EXPECT_EQ(run("newdir spool mode 777\n"), 0);
  check({"{app}/spool", Expect::Mode, "777"});
  EXPECT_EQ(run("newdir spool mode 700 link {root}/lnk\n"), 0);
  check({"{app}/spool", Expect::Mode, "777"});
  check({"{root}/lnk", Expect::Absent, ""});
}

TEST_F(PkgListTest, LongAndSplitLines) {
  // A line of 510 characters is whole; its attributes apply.
  std::string line = "c tprint";
  line += std::string(510 - line.size() - 8, ' ') + "mode 700";
  ASSERT_EQ(line.size(), 510u);
  EXPECT_EQ(run(line + "\n"), 0);
  check({"{app}/tprint", Expect::Mode, "700"});
  // A continued logical line may exceed one physical line's limit.
  clearApp();
  EXPECT_EQ(run("c tprint" + std::string(480, ' ') + "\\\n" + std::string(480, ' ') + "mode 710\n"), 0);
  check({"{app}/tprint", Expect::Mode, "710"});
  // A word of 254 characters, the most a word may have, is whole, escaped
  // characters counted once.
  const std::string longest(254, 'x');
  writeFile(work_ + "/pkg/" + longest, "long\n");
  for (const std::string &word : {longest, std::string(253, 'x') + "\\x"}) {
    SCOPED_TRACE(word.size());
    clearApp();
    testing::internal::CaptureStderr();
    EXPECT_EQ(run("c " + word + " mode 700\n"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    check({"{app}/" + longest, Expect::Mode, "700"});
  }
}

// A physical line longer than the reader's limit is refused whole, with any
// continuation joined to it: none of it runs, not even the tail of a comment.
TEST_F(PkgListTest, LinesOverTheLimitAreRefusedWhole) {
  const struct {
    std::string text;
    long warnings;   // two long physical lines are two refused lines
  } cases[] = {
      {"#" + std::string(509, ' ') + "t pwned mode 4777\n", 1},
      {"c tprint" + std::string(520, ' ') + "mode 700 \\\nt pwned\n", 1},
      {"c tprint \\\n" + std::string(4100, ' ') + "t pwned\n", 1},
      {"c tprint" + std::string(1100, ' ') + "t\n" + std::string(1100, ' ') + "pwned\n", 2},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text.size());
    clearApp();
    testing::internal::CaptureStderr();
    EXPECT_EQ(run(c.text + "t after\n"), 0);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("WARNING: package list line refused, the line is too long: ", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), c.warnings);
    check({"{app}/tprint", Expect::Absent, ""});
    check({"{app}/pwned", Expect::Absent, ""});
    check({"{app}/after", Expect::Content, ""});
  }
}

// A NUL byte hides the rest of its line: the line is refused whole (with
// its tail when it is also too long), and the next line runs.
TEST_F(PkgListTest, LineWithANulByteIsRefused) {
  using namespace std::string_literals;
  for (const std::string &text : {"c tprint\0 mode 700\n"s, "c tprint\0"s + std::string(600, ' ') + "t pwned\n"}) {
    SCOPED_TRACE(text.size());
    clearApp();
    testing::internal::CaptureStderr();
    EXPECT_EQ(run(text + "t after\n"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "WARNING: package list line refused, the line holds a NUL byte: c tprint\n");
    check({"{app}/tprint", Expect::Absent, ""});
    check({"{app}/pwned", Expect::Absent, ""});
    check({"{app}/after", Expect::Content, ""});
  }
}

TEST_F(PkgListTest, LineWithADoubleQuoteIsRefused) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(run("c tprint mode \"700\"\nt after\n# a \"quoted\" comment\n"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "WARNING: package list line refused, a word holds a double quote: c tprint mode \"700\"\n");
  check({"{app}/tprint", Expect::Absent, ""});
  check({"{app}/after", Expect::Content, ""});
}

TEST_F(PkgListTest, LinesWithUnfitWordsAreRefused) {
  struct Case {
    std::string line;
    const char *why;
  };
  const std::vector<Case> cases = {
      {"c " + std::string(300, 'x'), "a word is too long"},
      {"c " + std::string(255, 'x'), "a word is too long"},
      {"c " + std::string(254, 'x') + "\\x", "a word is too long"},
      {"c tprint\\nx mode 700", "a word holds a line end"},
      {"c tprint mode 700 link a\\rb", "a word holds a line end"},
      // Only a first "sed" takes the line as written; a later one takes a word.
      {"c tprint mode 700 sed s/a\\nb/", "a word holds a line end"},
      {"c tprint mode 700 sed s/a/" + std::string(300, 'x') + "/", "a word is too long"},
      {"v >= 0 c tprint mode 7\\n00", "a word holds a line end"},
      {"dirto fonts /x\\ny mode 700", "a word holds a line end"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.line);
    clearApp();
    testing::internal::CaptureStderr();
    EXPECT_EQ(run(c.line + "\nt after\n"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              std::string("WARNING: package list line refused, ") + c.why + ": " + c.line + "\n");
    check({"{app}/tprint", Expect::Absent, ""});
    check({"{app}/after", Expect::Content, ""});
  }
}

// Every word that becomes a path or a name in a command line holds only
// letters, digits and ._-/+,:@%=, and a path in the application directory
// no ".." component: each position with each kind of attack is refused, and
// nothing of the line runs (no marker, no mode changed).
TEST_F(PkgListTest, ShellSyntaxAndClimbingPathsAreRefused) {
  const std::string chars = "a word holds a character other than letters, digits and ._-/+,:@%=";
  const std::string climbs = "a path holds a .. component";
  const struct {
    const char *line;   // "@" stands for the word
    bool inside;        // a path that must stay in the application directory
  } positions[] = {
      {"c @ mode 600", true}, {"t @", true}, {"newdir @", true}, {"dir @", true},
      {"m @ mode 600", true}, {"v >= 0 c @ mode 600", true}, {"c tprint mode 600 name @", true},
      {"c tprint mode 600 bat @", true}, {"dirto fonts @", false}, {"c tprint mode @", false},
      {"c tprint owner @", false}, {"c tprint group @", false}, {"c tprint link @", false},
      {"checkps @", false},
  };
  const struct {
    const char *word;
    bool climbing;   // refused only where the path must stay inside
  } attacks[] = {
      {"x$(id)", false}, {"x`id`", false}, {"x;id", false}, {"$HOME", false},
      {"../../x", true}, {"a/../../x", true},
  };
  for (const auto &position : positions) {
    for (const auto &attack : attacks) {
      if (attack.climbing && !position.inside) continue;
      std::string line = position.line;
      line.replace(line.find('@'), 1, attack.word);
      SCOPED_TRACE(line);
      clearApp();
      chmod(app_.c_str(), 0755);
      testing::internal::CaptureStderr();
      EXPECT_EQ(run("c tprint\n" + line + "\nt after\n"), 0);
      EXPECT_EQ(testing::internal::GetCapturedStderr(),
                "WARNING: package list line refused, " + (attack.climbing ? climbs : chars) + ": " +
                    line + "\n");
      check({"{app}", Expect::Mode, "755"});
      check({"{app}/tprint", Expect::Mode, "644"});
      check({"{app}/after", Expect::Content, ""});
      check({"{root}/x", Expect::Absent, ""});
    }
  }
  // A dot that is not a ".." component, and free text where no path is made.
  testing::internal::CaptureStderr();
  EXPECT_EQ(run("c tprint name ..tprint..\nv < ~$ t both mode 600\n"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  check({"{app}/..tprint..", Expect::Content, "alpha\ncharlie\n"});
  check({"{app}/both", Expect::Mode, "600"});
}

// The stream edit must not write through a link planted at the scratch path.
TEST_F(PkgListTest, StreamEditIgnoresAPlantedScratchLink) {
  const std::string victim = root_ + "/victim";
  writeFile(victim, "precious\n");
  fs::create_symlink(victim, scratch_);
  EXPECT_EQ(run("c tprint sed -e s/alpha/omega/\n"), 0);
  EXPECT_EQ(readFile(victim), "precious\n");
  check({"{app}/tprint", Expect::Content, "omega\ncharlie\n"});
  check({"{app}/tprint", Expect::Mode, "644"});
  EXPECT_FALSE(fs::exists(fs::symlink_status(scratch_)));
}

TEST_F(PkgListTest, StreamEditScratchPermissionsFollowTheUmask) {
  umask(027);
  EXPECT_EQ(run("c tprint sed -e s/alpha/omega/\n"), 0);
  umask(022);
  check({"{app}/tprint", Expect::Mode, "640"});
}

// The record of a line: conditions, command (number), entry, destination,
// the pair words, a first "sed"'s text, the words used, and the cut flag.
std::string describe(const PkgLine &l) {
  auto text = [](const PkgWord *w) { return std::string(w != nullptr ? w->text : "-"); };
  std::string s = std::to_string(l.conditions) + "|" + text(l.command) + "(" + std::to_string(l.kind) +
                  ")|" + text(l.entry) + "|" + text(l.destination) + "|";
  for (int i = 0; i < l.pairs.size; i++) s += std::string(i ? " " : "") + l.pairs.words[i].text;
  s += "|" + std::string(l.pairs.sedText ? l.pairs.sedText : "-") + "|" + std::to_string(l.used);
  return s + (l.cut ? "|cut" : "");
}

TEST(PkgLineRecord, TakesALineApartOnce) {
  const std::string x300(300, 'x'), x254(254, 'x');
  const struct {
    std::string line, record;
  } cases[] = {
      {"v >= 2.4 v < 2.6 c drv mode 755\n", "2|c(4)|drv|-|mode 755|-|10"},
      {"dirto fonts /usr/share owner\n", "0|dirto(2)|fonts|/usr/share|owner|-|4"},
      {"m f sed -e 's/a/x y/'  \r\n", "0|m(5)|f|-|sed|-e 's/a/x y/'  |3"},
      {"m f sed   \n", "0|m(5)|f|-|sed|-|3"},
      {"c tprint \\\nmo\\\nde 7\\n00", "0|c(4)|tprint|-|mode 7\n00|-|4"},
      {"# c tprint", "0|#(6)|-|-||-|1"},
      {"v >= 0 v", "2|-(0)|-|-||-|4"},
      {std::string("c tprint\0mode 700\n", 19), "0|c(4)|tprint|-||-|2"},
      // A cut word counts where the line uses it, not after a first "sed"
      // or the program list of "checkps".
      {"c " + x300 + " mode 700", "0|c(4)|" + x254 + "|-|mode 700|-|4|cut"},
      {"c f name " + x300, "0|c(4)|f|-|name " + x254 + "|-|4|cut"},
      {"m f sed s/" + x300, "0|m(5)|f|-|sed|s/" + x300 + "|3"},
      {"checkps ,a, " + x300, "0|checkps(10)|,a,|-||-|2"},
  };
  PkgLine rec;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.line);
    ParsePkgLine(c.line.c_str(), rec);
    EXPECT_EQ(describe(rec), c.record);
  }
}

using PkgListDeathTest = PkgListTest;

TEST_F(PkgListDeathTest, EndsOfTheRun) {
  const std::string list = work_ + "/pkg/pkg.list";
  EXPECT_EXIT(ProcessPkgList("pkg"), testing::ExitedWithCode(0),
              "ERROR: can't open file, " + list);
  EXPECT_EXIT(run("c tprint owner no-such-user-xyz\nt after\n"), testing::ExitedWithCode(1), "");
  EXPECT_EXIT(run("c tprint\nm tprint sed -e 's/a/b\n"), testing::ExitedWithCode(1), "");
  // A scratch path that cannot be made afresh stops the edit and the run.
  fs::remove_all(scratch_);
  fs::create_directories(scratch_ + "/busy");
  EXPECT_EXIT(run("c tprint sed -e s/a/b/\n"), testing::ExitedWithCode(1), "");
  fs::remove_all(scratch_);
}

}  // namespace
