// Tests of line-oriented editing: OpenFile's error modes and its guarded
// writes in shared directories, the comment filter of GetLine with LineCnt
// and InPos, open edits, and every member of the edit family on small files
// in a temporary directory, including names the shell would act on.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "utils.h"

namespace {

int removeEntry(const char *path, const struct stat *, int, struct FTW *) { return remove(path); }

// Files may grow to bytes only; a write beyond fails instead of a signal.
void limitFileSize(rlim_t bytes) {
  signal(SIGXFSZ, SIG_IGN);
  rlimit limit;
  limit.rlim_cur = limit.rlim_max = bytes;
  setrlimit(RLIMIT_FSIZE, &limit);
}

class EditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    snprintf(name_, sizeof name_, "tarnu-test-%d", static_cast<int>(getpid()));
    my_name = name_;
    flUseLog = 0;
    flInputFilterState = 1;
    char tmpl[] = "/tmp/tarnu-edit-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    if (pIn != nullptr) fclose(pIn);
    pIn = nullptr;
    nftw(dir_.c_str(), removeEntry, 8, FTW_DEPTH | FTW_PHYS);
    std::string log = "/tmp/" + std::string(name_) + ".log";
    unlink(log.c_str());
  }
  std::string path(const std::string &name) const { return dir_ + "/" + name; }
  void write(const std::string &name, const std::string &text) const {
    std::ofstream(path(name), std::ios::binary) << text;
  }
  std::string read(const std::string &name) const {
    std::ifstream f(path(name), std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }
  bool exists(const std::string &name) const { return access(path(name).c_str(), F_OK) == 0; }
  std::vector<std::string> entries() const {
    std::vector<std::string> out;
    std::string cmd = "ls -A '" + dir_ + "'";
    FILE *p = popen(cmd.c_str(), "r");
    char buf[512];
    while (p != nullptr && fgets(buf, sizeof buf, p) != nullptr) {
      buf[strcspn(buf, "\n")] = '\0';
      out.emplace_back(buf);
    }
    if (p != nullptr) pclose(p);
    return out;
  }

  char name_[64];
  std::string dir_;
};

// ---------------------------------------------------------------- OpenFile --

TEST_F(EditTest, OpenFileErrorModes) {
  std::string missing = path("missing");
  testing::internal::CaptureStderr();
  EXPECT_EQ(OpenFile(nullptr, missing.c_str(), "rt", 0), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

  testing::internal::CaptureStderr();
  EXPECT_EQ(OpenFile(nullptr, missing.c_str(), "rt", 1), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: can't open file, " + missing + "\n");

  write("present", "x\n");
  FILE *first = OpenFile(nullptr, path("present").c_str(), "rt", 0);
  ASSERT_NE(first, nullptr);
  // The given stream is closed before the open; ASan would see a leak otherwise.
  FILE *second = OpenFile(first, path("present").c_str(), "rt", 0);
  ASSERT_NE(second, nullptr);
  fclose(second);
}

TEST_F(EditTest, OpenFileFatalModeEndsWithSysErrorText) {
  std::string missing = path("missing");
  EXPECT_EXIT(OpenFile(nullptr, missing.c_str(), "rt", 2), testing::ExitedWithCode(1),
              "\ntarnu-test-[0-9]+: can't open file, " + missing + " : No such file or directory");
}

TEST_F(EditTest, OpenFileFRefusesPathThatDoesNotFit) {
  std::string longName(600, 'a');
  testing::internal::CaptureStderr();
  EXPECT_EQ(OpenFileF(nullptr, "wt", 1, "%s/%s", dir_.c_str(), longName.c_str()), nullptr);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.rfind("ERROR: can't open file, ", 0), 0u) << err;
  EXPECT_TRUE(entries().empty());

  FILE *f = OpenFileF(nullptr, "wt", 0, "%s/%s", dir_.c_str(), "made");
  ASSERT_NE(f, nullptr);
  fclose(f);
  EXPECT_TRUE(exists("made"));
}

// Writing in a directory that everyone may write: a planted link or a file
// with a second hard link is refused and its target keeps its content.
TEST_F(EditTest, OpenFileDoesNotWriteThroughPlantedFilesInSharedDirectory) {
  ASSERT_EQ(mkdir(path("shared").c_str(), 01777), 0);
  ASSERT_EQ(chmod(path("shared").c_str(), 01777), 0);
  write("victim", "secret\n");
  ASSERT_EQ(symlink(path("victim").c_str(), path("shared/link").c_str()), 0);
  ASSERT_EQ(link(path("victim").c_str(), path("shared/hard").c_str()), 0);
  struct Case { const char *name; const char *mode; };
  for (Case c : {Case{"shared/link", "wt"}, Case{"shared/link", "at"}, Case{"shared/link", "r+"},
                 Case{"shared/hard", "wt"}, Case{"shared/hard", "a"}, Case{"shared/hard", "r+b"}}) {
    SCOPED_TRACE(std::string(c.name) + " " + c.mode);
    EXPECT_EQ(OpenFile(nullptr, path(c.name).c_str(), c.mode, 0), nullptr);
    EXPECT_EQ(read("victim"), "secret\n");
  }
  // An own, singly linked file there is written and truncated as usual.
  write("shared/own", "old content\n");
  FILE *f = OpenFile(nullptr, path("shared/own").c_str(), "wt", 0);
  ASSERT_NE(f, nullptr);
  fputs("new\n", f);
  fclose(f);
  EXPECT_EQ(read("shared/own"), "new\n");
  f = OpenFile(nullptr, path("shared/own").c_str(), "at", 0);
  ASSERT_NE(f, nullptr);
  fputs("more\n", f);
  fclose(f);
  EXPECT_EQ(read("shared/own"), "new\nmore\n");
  f = OpenFile(nullptr, path("shared/own").c_str(), "r+", 0);
  ASSERT_NE(f, nullptr);
  fputs("N", f);
  fclose(f);
  EXPECT_EQ(read("shared/own"), "New\nmore\n");
  EXPECT_EQ(OpenFile(nullptr, path("shared/absent").c_str(), "r+", 0), nullptr);
  EXPECT_FALSE(exists("shared/absent"));
}

// The file to edit in a directory that everyone may write: a planted link,
// a second name, another user's file and a FIFO are refused (the process
// ends as for a missing file, without hanging) and nothing changes.
TEST_F(EditTest, EditInSharedDirectoryUsesOnlyOwnSingleFiles) {
  if (geteuid() != 0) GTEST_SKIP() << "needs a second user";
  ASSERT_EQ(mkdir(path("shared").c_str(), 01777), 0);
  ASSERT_EQ(chmod(path("shared").c_str(), 01777), 0);
  write("secret", "old\n");
  ASSERT_EQ(symlink(path("secret").c_str(), path("shared/link").c_str()), 0);
  ASSERT_EQ(link(path("secret").c_str(), path("shared/hard").c_str()), 0);
  ASSERT_EQ(mkfifo(path("shared/fifo").c_str(), 0600), 0);
  write("shared/foreign", "old\n");
  ASSERT_EQ(chown(path("shared/foreign").c_str(), 65534, 65534), 0);
  for (const char *name : {"shared/link", "shared/hard", "shared/fifo", "shared/foreign"}) {
    SCOPED_TRACE(name);
    EXPECT_EXIT(FileChange(path(name).c_str(), "", "old", "new"), testing::ExitedWithCode(1), "can't open file");
  }
  EXPECT_EQ(read("secret") + read("shared/foreign"), "old\nold\n");
  write("shared/own", "old\n");
  EXPECT_EQ(FileChange(path("shared/own").c_str(), "", "old", "new"), 0);
  EXPECT_EQ(read("shared/own"), "new\n");
}

// The edited file keeps the mode, owner and group of the file it replaces.
TEST_F(EditTest, EditKeepsModeOwnerAndGroup) {
  if (geteuid() != 0) GTEST_SKIP() << "needs a second user";
  for (mode_t mode : {0600, 04751}) {
    SCOPED_TRACE(mode);
    write("conf", "old\n");
    ASSERT_EQ(chown(path("conf").c_str(), 65534, 65533), 0);
    ASSERT_EQ(chmod(path("conf").c_str(), mode), 0);
    EXPECT_EQ(FileChange(path("conf").c_str(), "", "old", "new"), 0);
    struct stat st;
    ASSERT_EQ(stat(path("conf").c_str(), &st), 0);
    EXPECT_EQ(std::to_string(st.st_mode & 07777) + " " + std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid),
              std::to_string(mode) + " 65534:65533");
  }
}

TEST_F(EditTest, OpenRawFileReportsOnStandardOutput) {
  std::string missing = path("missing");
  testing::internal::CaptureStdout();
  EXPECT_LT(OpenRawFile(missing.c_str(), O_RDONLY), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: can't open file, " + missing);
  write("present", "x");
  int fd = OpenRawFile(path("present").c_str(), O_RDONLY);
  EXPECT_GE(fd, 0);
  close(fd);
}

// ----------------------------------------------------------------- GetLine --

struct LineCase {
  const char *input;
  std::vector<std::string> lines;   // Line after each call
  std::vector<int> counts;          // LineCnt (= result) of each call
};

TEST_F(EditTest, GetLineFiltersComments) {
  const LineCase cases[] = {
      {"  value // note\n", {"value "}, {1}},
      {"/* a */ b\n", {" b"}, {1}},
      {"/* a\nb */ c\n", {"c"}, {2}},
      {"/* one\ntwo\nthree */\nafter\n", {"", "after"}, {3, 1}},
      {"\n", {""}, {1}},
      {"a /* x */ b /* y */ c\n", {"a  b /* y */ c"}, {1}},
      {"url://host\n", {"url:"}, {1}},
      {"dos line\r\n", {"dos line"}, {1}},
      {"\t  \n", {""}, {1}},
      {"last without newline", {"last without newline"}, {1}},
      // Text in front of a block comment that closes on a later line stays.
      {"x /* a\nb */ y\n", {"x  y"}, {2}},
      {"x /* a\nmid\nb */ y /* c\nd */ z\n", {"x  y  z"}, {4}},
      // A comment still open at the end of the file ends the reading.
      {"/* open\nnever closed\n", {}, {}},
  };
  for (const LineCase &c : cases) {
    SCOPED_TRACE(c.input);
    write("in", c.input);
    pIn = fopen(path("in").c_str(), "r");
    ASSERT_NE(pIn, nullptr);
    for (size_t i = 0; i < c.lines.size(); ++i) {
      EXPECT_EQ(GetLine(), c.counts[i]);
      EXPECT_EQ(LineCnt, c.counts[i]);
      EXPECT_EQ(pLine, Line);
      EXPECT_EQ(std::string(Line), c.lines[i]);
    }
    EXPECT_EQ(GetLine(), 0);
    fclose(pIn);
    pIn = nullptr;
  }
}

TEST_F(EditTest, GetLineClearsTheRestOfTheFirst512Bytes) {
  memset(Line, 'z', 600);
  write("in", "short\n");
  pIn = fopen(path("in").c_str(), "r");
  ASSERT_EQ(GetLine(), 1);
  for (int i = 5; i < 512; ++i) ASSERT_EQ(Line[i], '\0') << i;
}

TEST_F(EditTest, GetLineInPosAndRepositioning) {
  // offsets:      0      6     11       18        26
  write("in", "first\n/* a\nb */ c\n// only\nlast\n");
  pIn = fopen(path("in").c_str(), "r");
  ASSERT_NE(pIn, nullptr);
  struct Step { int count; long pos; const char *text; };
  const Step steps[] = {{1, 0, "first"}, {2, 11, "c"}, {1, 18, ""}, {1, 26, "last"}};
  for (const Step &s : steps) {
    SCOPED_TRACE(s.text);
    EXPECT_EQ(GetLine(), s.count);
    EXPECT_EQ(InPos, s.pos);
    EXPECT_STREQ(Line, s.text);
  }
  EXPECT_EQ(GetLinePos(26), 1);
  EXPECT_STREQ(Line, "last");
  EXPECT_EQ(GetLinePos(0), 1);
  EXPECT_STREQ(Line, "first");
  EXPECT_EQ(GetLineN(0), 0);
  EXPECT_EQ(GetLineN(2), 1);   // the comment line, then "" of "// only"
  EXPECT_STREQ(Line, "");
  EXPECT_EQ(InPos, 18);

  char buf[16];
  EXPECT_STREQ(fgetsp(buf, sizeof buf, pIn, 6), "/* a\n");
}

TEST_F(EditTest, GetLineUnfilteredKeepsLinesAsTheyAre) {
  flInputFilterState = 0;
  write("in", "  a // b\n/* c\n\n");
  pIn = fopen(path("in").c_str(), "r");
  for (const char *expected : {"  a // b\n", "/* c\n", "\n"}) {
    EXPECT_EQ(GetLine(), 1);
    EXPECT_STREQ(Line, expected);
  }
  EXPECT_EQ(GetLine(), 0);
  flInputFilterState = 1;
}

TEST_F(EditTest, GetLineReadsLongLinesInPiecesOf510) {
  flInputFilterState = 0;
  write("in", std::string(600, 'x') + "\n");
  pIn = fopen(path("in").c_str(), "r");
  EXPECT_EQ(GetLine(), 1);
  EXPECT_EQ(strlen(Line), 510u);
  EXPECT_EQ(GetLine(), 1);
  EXPECT_EQ(std::string(Line), std::string(90, 'x') + "\n");
  flInputFilterState = 1;
}

// ------------------------------------------------------------- edit family --

struct EditCase {
  const char *what;
  const char *input;
  std::function<int(const char *base, const char *ext)> edit;
  const char *expected;
};

TEST_F(EditTest, EditFamilyTransformsLines) {
  char insertNumbered[] = "#%#2 line\n";
  char insertPlain[] = "-- \n";
  char insertStart[] = "%s3[%#1]\n";
  char insertSearch[] = "> %#0\n";
  char insertEvery[] = "-\n";
  const EditCase cases[] = {
      {"change first occurrence", "old old\nkeep\n",
       [](const char *b, const char *e) { return FileChange(b, e, "old", "new"); }, "new old\nkeep\n"},
      {"change to nothing", "abcabc\n",
       [](const char *b, const char *e) { return FileChange(b, e, "b", nullptr); }, "acabc\n"},
      {"change char tab", "a\tb\t\n",
       [](const char *b, const char *e) { return FileChangeChar(b, e, "9", "32,32"); }, "a  b  \n"},
      {"change char hex and octal", "a=b\n",
       [](const char *b, const char *e) { return FileChangeChar(b, e, "0x3d", "072,0x3a"); }, "a::b\n"},
      {"change char deletes", "a-b-c\n",
       [](const char *b, const char *e) { return FileChangeChar(b, e, "45", nullptr); }, "abc\n"},
      {"change char above 127", "a\xe9z\n",
       [](const char *b, const char *e) { return FileChangeChar(b, e, "233", "101"); }, "aez\n"},
      {"change char signed form", "a\xe9z\n",
       [](const char *b, const char *e) { return FileChangeChar(b, e, "-23", "101"); }, "aez\n"},
      {"del keeps first n", "x lp y\nlp lp\nlplp\nnone\n",
       [](const char *b, const char *e) { return FileDel(b, e, 1, "lp"); }, "x lp y\n lp\nlp\nnone\n"},
      {"delformat empty mode", "a=b=c\n",
       [](const char *b, const char *e) { return FileDelFormat(b, e, "", "="); }, "ab=c\n"},
      {"delformat a", "key=value\nplain\n",
       [](const char *b, const char *e) { return FileDelFormat(b, e, "a", "="); }, "key=\nplain\n"},
      {"delformat b", "key=value\nplain\n",
       [](const char *b, const char *e) { return FileDelFormat(b, e, "b", "="); }, "=value\nplain\n"},
      {"delformat c", "#a#\nb#\n",
       [](const char *b, const char *e) { return FileDelFormat(b, e, "c", "35"); }, "a\nb\n"},
      {"delformat c above 127", "\xff" "a\xff\n",
       [](const char *b, const char *e) { return FileDelFormat(b, e, "c", "0xff"); }, "a\n"},
      {"delformat l", "a=1\nb\nc=2\n",
       [](const char *b, const char *e) { return FileDelFormat(b, e, "l", "="); }, "b\n"},
      {"delline keep 1", "lp1\nx\nlp2\nlp3\n",
       [](const char *b, const char *e) { return FileDelLine(b, e, 1, "lp"); }, "lp1\nx\n"},
      {"delline keep 0", "lp1\nx\n",
       [](const char *b, const char *e) { return FileDelLine(b, e, 0, "lp"); }, "x\n"},
      {"dellinepair", "BEGIN\nx\nEND\ny\n",
       [](const char *b, const char *e) { return FileDelLinePair(b, e, 0, "BEGIN", "END"); }, "x\ny\n"},
      {"dellinepair keep and nest", "BEGIN 1\nEND\nBEGIN 2\nBEGIN 3\na\nEND\nEND\nEND\n",
       [](const char *b, const char *e) { return FileDelLinePair(b, e, 1, "BEGIN", "END"); },
       "BEGIN 1\nEND\na\nEND\n"},
      {"insert numbered", "l0\nl1\nl2\nl3\nl4\n",
       [&](const char *b, const char *e) { return FileInsert(b, e, insertNumbered); },
       "l0\nl1\n#00000 line\nl2\n#00001 line\nl3\n#00002 line\nl4\n"},
      {"insert plain", "a\nb\n",
       [&](const char *b, const char *e) { return FileInsert(b, e, insertPlain); }, "-- \na\n-- \nb\n"},
      {"insert start value", "a\nb\n",
       [&](const char *b, const char *e) { return FileInsert(b, e, insertStart); }, "[00002]\na\n[00003]\nb\n"},
      {"search insert", "x\nhit 1\ny\nhit 2\n",
       [&](const char *b, const char *e) { return FileSearchInsert(b, e, insertSearch, "hit"); },
       "x\n> 00000\nhit 1\ny\n> 00001\nhit 2\n"},
      // An empty pattern is found at the start of every line.
      {"change empty pattern", "a\nb\n",
       [](const char *b, const char *e) { return FileChange(b, e, "", "> "); }, "> a\n> b\n"},
      {"delline empty pattern", "a\nb\nc\n",
       [](const char *b, const char *e) { return FileDelLine(b, e, 1, ""); }, "a\n"},
      {"delformat a empty pattern", "a\nb\n",
       [](const char *b, const char *e) { return FileDelFormat(b, e, "a", ""); }, "\n\n"},
      {"search insert empty pattern", "a\nb\n",
       [&](const char *b, const char *e) { return FileSearchInsert(b, e, insertEvery, ""); }, "-\na\n-\nb\n"},
      {"null pattern matches nothing", "a\nb\n",
       [](const char *b, const char *e) { return FileDelLine(b, e, 0, nullptr); }, "a\nb\n"},
  };
  for (const EditCase &c : cases) {
    SCOPED_TRACE(c.what);
    write("printcap", c.input);
    std::string base = path("printcap");
    EXPECT_EQ(c.edit(base.c_str(), ""), 0);
    EXPECT_EQ(read("printcap"), c.expected);
    EXPECT_EQ(entries(), std::vector<std::string>{"printcap"});
  }
  // The "%s" marker is taken out of the caller's own text.
  EXPECT_STREQ(insertStart, "[%#1]\n");
}

TEST_F(EditTest, EditWithExtensionUsesBaseDotExtOut) {
  write("hosts.cfg", "old\n");
  // A stale temporary of an earlier failed move is overwritten, not appended to.
  write("hosts.cfgout", "stale\n");
  std::string base = path("hosts");
  EXPECT_EQ(FileChange(base.c_str(), "cfg", "old", "new"), 0);
  EXPECT_EQ(read("hosts.cfg"), "new\n");
  EXPECT_EQ(entries(), std::vector<std::string>{"hosts.cfg"});
}

TEST_F(EditTest, DelFormatUnknownModeLeavesFileAlone) {
  write("f", "a=b\n");
  std::string base = path("f");
  EXPECT_EQ(FileDelFormat(base.c_str(), "", "x", "="), 1);
  EXPECT_EQ(read("f"), "a=b\n");
  EXPECT_EQ(entries(), std::vector<std::string>{"f"});
}

TEST_F(EditTest, EditOfMissingFileEndsTheProcess) {
  std::string base = path("missing");
  EXPECT_EXIT(FileChange(base.c_str(), "", "a", "b"), testing::ExitedWithCode(1),
              "can't open file, " + base);
}

// Names the shell would act on reach it quoted: the edit works on exactly
// that file and runs nothing else.
TEST_F(EditTest, EditNamesAreQuotedForTheShell) {
  const char *names[] = {"it's", "a b", "x;touch pwned", "$(touch pwned)", "`touch pwned`", "q\"q", "back\\slash"};
  for (const char *name : names) {
    SCOPED_TRACE(name);
    write(name, "old\n");
    std::string base = path(name);
    EXPECT_EQ(FileChange(base.c_str(), "", "old", "new"), 0);
    EXPECT_EQ(read(name), "new\n");
    EXPECT_EQ(entries(), std::vector<std::string>{name});
    EXPECT_FALSE(exists("pwned"));
    unlink(base.c_str());
  }
}

TEST_F(EditTest, NamesLongerThanTheBuffersAreRefused) {
  // 127 bytes fit the input name but not "<base>.out".
  std::string base = path(std::string(127 - dir_.size() - 1 - 2, 'n'));
  std::string name = base.substr(dir_.size() + 1);
  ASSERT_EQ(base.size(), 125u);
  write(name, "old\n");
  char insert[] = "x\n";
  EXPECT_EQ(FileChange(base.c_str(), "", "old", "new"), -1);
  EXPECT_EQ(FileInsert(base.c_str(), "", insert), -1);
  EXPECT_EQ(FileDelFormat(base.c_str(), "", "l", "old"), -1);
  EXPECT_EQ(read(name), "old\n");
  EXPECT_EQ(entries(), std::vector<std::string>{name});
  EXPECT_EQ(OpenIOFiles(base.c_str(), "cfg"), nullptr);
  EXPECT_EQ(ReplaceInputFile(), -1);
  EXPECT_EQ(read(name), "old\n");
}

// A copy cut short by a write failure (here the file size limit) never
// replaces the file, in the edit family as in an open edit.
TEST_F(EditTest, IncompleteCopyNeverReplacesTheFile) {
  std::string text;
  for (int i = 0; i < 60; ++i) text += std::string(99, 'x') + "\n";
  write("big", text);
  write("cfg", text);
  std::string big = path("big");
  std::string cfg = path("cfg");
  EXPECT_EXIT(
      {
        limitFileSize(1000);
        int changed = FileChange(big.c_str(), "", "x", "y");
        OpenIOFiles(cfg.c_str(), "");
        while (GetLine() > 0) fprintf(pOut, "%s\n", Line);
        int replaced = ReplaceInputFile();
        exit(changed == -1 && replaced == -1 ? 3 : 4);
      },
      testing::ExitedWithCode(3), "");
  EXPECT_TRUE(read("big") == text) << read("big").size() << " bytes";
  EXPECT_TRUE(read("cfg") == text) << read("cfg").size() << " bytes";
  EXPECT_EQ(entries(), (std::vector<std::string>{"big", "cfg"}));
}

TEST_F(EditTest, OpenEditReplacesFileThroughPInAndPOut) {
  write("cfg.txt", "one\n// gone\ntwo\n");
  std::string base = path("cfg");
  FILE *out = OpenIOFiles(base.c_str(), "txt");
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out, pOut);
  EXPECT_TRUE(exists("cfg.txtout"));
  while (GetLine() > 0) {
    if (Line[0] != '\0') fprintf(pOut, "%s!\n", Line);
  }
  EXPECT_EQ(ReplaceInputFile(), 0);
  EXPECT_EQ(pIn, nullptr);
  EXPECT_EQ(pOut, nullptr);
  EXPECT_EQ(read("cfg.txt"), "one!\ntwo!\n");
  EXPECT_EQ(entries(), std::vector<std::string>{"cfg.txt"});
}

}  // namespace
