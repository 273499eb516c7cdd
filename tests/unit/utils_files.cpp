// Tests of file queries, the input-file reader, whole-file reads, the
// changes made through the command table (with over-long and shell-unsafe
// names refused), the environment probes and FindExistingPath, all in a
// temporary directory.
#include <gtest/gtest.h>

#include <ftw.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>

#include "MemMgr.h"
#include "SysCmd.h"
#include "utils.h"

namespace {

int removeEntry(const char *path, const struct stat *, int, struct FTW *) { return remove(path); }

std::string saved(char *s) {
  std::string out = s != nullptr ? s : "(null)";
  PutMem(s);
  return out;
}

class FilesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static char name[64];
    snprintf(name, sizeof name, "tarnu-test-%d", static_cast<int>(getpid()));
    my_name = name;
    flUseLog = 0;
    InitSysCmdList();
  }
  void SetUp() override {
    char tmpl[] = "/tmp/tarnu-files-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    CloseInputFile();
    nftw(dir_.c_str(), removeEntry, 8, FTW_DEPTH | FTW_PHYS);
    unlink(("/tmp/" + std::string(my_name) + ".log").c_str());
  }
  std::string path(const std::string &name) const { return dir_ + "/" + name; }
  void write(const std::string &name, const std::string &text) const {
    std::ofstream(path(name), std::ios::binary) << text;
  }
  bool exists(const std::string &name) const {
    struct stat st;
    return lstat(path(name).c_str(), &st) == 0;
  }
  int mode(const std::string &name) const {
    struct stat st;
    return stat(path(name).c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
  }
  // A tree for the queries: file "a", directory "d" with "inner", a link
  // "dl" to nowhere and a link "ld" to "d".
  void makeTree() const {
    write("a", "text\n");
    mkdir(path("d").c_str(), 0755);
    write("d/inner", "");
    ASSERT_EQ(symlink(path("nowhere").c_str(), path("dl").c_str()), 0);
    ASSERT_EQ(symlink(path("d").c_str(), path("ld").c_str()), 0);
  }

  std::string dir_;
};

// ----------------------------------------------------------------- queries --

TEST_F(FilesTest, FindFileDecidesFromTheListing) {
  makeTree();
  const std::string d = dir_;
  const std::string longName = "d/" + std::string(300, 'n');
  const std::string file = d + "/a";
  const std::string missingDir = d + "/missing";
  struct Case { const char *dir; std::string name; bool nullName; int expected; };
  const Case cases[] = {
      {d.c_str(), "a", false, 1},
      {d.c_str(), "nosuch", false, 0},
      {d.c_str(), "d/inner", false, 1},      // a name with a slash
      {d.c_str(), "d/nosuch", false, 0},
      {d.c_str(), "d/", false, 1},           // empty name after the split: present
      {d.c_str(), "dl", false, 1},           // a dangling link counts
      {d.c_str(), "", false, 1},             // the directory itself
      {d.c_str(), "", true, 1},
      {nullptr, "", false, 0},
      {nullptr, "", true, 0},
      {nullptr, d + "/a", false, 1},
      {nullptr, d + "/dl", false, 1},
      {nullptr, d + "/nosuch", false, 0},
      {file.c_str(), "x", false, 0},         // a file is no readable directory
      {missingDir.c_str(), "x", false, 0},
      {d.c_str(), longName, false, 0},       // does not fit 256 bytes: refused
      {"/etc", "passwd", false, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.dir ? c.dir : "(null)") + " | " + (c.nullName ? "(null)" : c.name));
    EXPECT_EQ(FindFile(c.dir, c.nullName ? nullptr : c.name.c_str()), c.expected);
  }
  EXPECT_EQ(FindFile((d + "/a").c_str(), nullptr), 1);
  EXPECT_EQ(FindFile("/etc/passwd", nullptr), 1);
}

// A directory that may be searched but not read hides its entries from
// FindFile, not from FindFile_. Root reads everything, so the check runs in
// a child that has become "nobody".
TEST_F(FilesTest, UnreadableDirectoryHidesEntries) {
  ASSERT_EQ(mkdir(path("closed").c_str(), 0711), 0);
  ASSERT_EQ(chmod(path("closed").c_str(), 0711), 0);
  ASSERT_EQ(chmod(dir_.c_str(), 0711), 0);
  write("closed/f", "");
  const std::string closed = path("closed");
  EXPECT_EQ(FindFile(closed.c_str(), "f"), 1);
  EXPECT_EXIT(
      {
        if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) exit(2);
        exit(FindFile(closed.c_str(), "f") == 0 && FindFile_(closed.c_str(), "f") == 1 ? 3 : 4);
      },
      testing::ExitedWithCode(3), "");
}

TEST_F(FilesTest, FindFileUnderscoreFollowsLinks) {
  makeTree();
  const std::string d = dir_;
  struct Case { const char *dir; const char *name; int expected; };
  const std::string a = d + "/a";
  const std::string tooLong = std::string(300, 'x');
  const Case cases[] = {
      {d.c_str(), "a", 1},     {d.c_str(), "dl", 0},    {d.c_str(), "ld", 1},
      {d.c_str(), nullptr, 1}, {nullptr, a.c_str(), 1}, {nullptr, "", 0},
      {nullptr, nullptr, 0},   {d.c_str(), tooLong.c_str(), 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.dir ? c.dir : "(null)") + " | " + (c.name ? c.name : "(null)"));
    EXPECT_EQ(FindFile_(c.dir, c.name), c.expected);
  }
}

TEST_F(FilesTest, TypeSizeAndTime) {
  makeTree();
  struct Case { const char *name; int type; long size; };
  const Case cases[] = {{"d", 1, -1}, {"ld", 2, -1}, {"dl", 2, 0}, {"a", 3, 5}, {"nosuch", 0, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(GetFileType(path(c.name).c_str()), c.type);
    if (c.size >= 0) {
      EXPECT_EQ(GetFileSize(path(c.name).c_str()), c.size);
    }
  }
  struct stat st;
  ASSERT_EQ(stat(path("a").c_str(), &st), 0);
  EXPECT_EQ(GetFileTime(path("a").c_str()), static_cast<long>(st.st_mtime));
  EXPECT_EQ(GetFileTime(path("nosuch").c_str()), 0);
}

TEST_F(FilesTest, FileSearchFindsFirstMatchingLine) {
  write("cfg", "alpha\nbeta gamma\nbeta again\n");
  struct Case { const char *pattern; const char *expected; };
  const Case cases[] = {{"beta", "beta gamma\n"}, {nullptr, "alpha\n"}, {"delta", nullptr}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.pattern ? c.pattern : "(null)");
    char *found = FileSearch(path("cfg").c_str(), c.pattern, 0);
    if (c.expected == nullptr) {
      EXPECT_EQ(found, nullptr);
    } else {
      ASSERT_NE(found, nullptr);
      EXPECT_STREQ(found, c.expected);
    }
  }
  testing::internal::CaptureStderr();
  EXPECT_EQ(FileSearch(path("nosuch").c_str(), "x", 0), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// ------------------------------------------------------ input-file reader --

TEST_F(FilesTest, ReaderJoinsContinuationLines) {
  write("list", "one \\\ntwo \\\nthree\nb\\\n");
  ASSERT_EQ(OpenInputFile(path("list").c_str(), 0), 1);
  EXPECT_EQ(FileStatus, 0);
  EXPECT_STREQ(InputFileName, path("list").c_str());
  ASSERT_EQ(GetFileLine(), 1);
  EXPECT_STREQ(LineBuf, "one \\\ntwo \\\nthree\n");
  EXPECT_EQ(LineLen, 12);
  ASSERT_EQ(GetFileLine(), 1);      // a continuation at the end of the file
  EXPECT_STREQ(LineBuf, "b\\\n");
  EXPECT_EQ(LineLen, 0);
  EXPECT_EQ(GetFileLine(), 0);
  EXPECT_EQ(FileStatus, 1);
  EXPECT_EQ(GetFileLine(), 0);
}

TEST_F(FilesTest, ReaderCutsLogicalLineAt4095) {
  std::string text;
  for (int i = 0; i < 10; ++i) text += std::string(500, static_cast<char>('a' + i)) + "\\\n";
  text += "end\n";
  write("long", text);
  ASSERT_EQ(OpenInputFile(path("long").c_str(), 0), 1);
  ASSERT_EQ(GetFileLine(), 1);
  EXPECT_EQ(strlen(LineBuf), 4095u);
  EXPECT_EQ(std::string(LineBuf), text.substr(0, 4095));
  EXPECT_EQ(LineLen, 8 * 502);
  // A physical line longer than 510 characters is read in pieces.
  write("wide", std::string(600, 'w') + "\n");
  ASSERT_EQ(OpenInputFile(path("wide").c_str(), 0), 1);
  ASSERT_EQ(GetFileLine(), 1);
  EXPECT_EQ(strlen(LineBuf), 510u);
}

TEST_F(FilesTest, ReaderOpenFailures) {
  std::string missing = path("missing");
  snprintf(LineBuf, sizeof LineBuf, "stale");
  LineLen = 7;
  testing::internal::CaptureStderr();
  EXPECT_EQ(OpenInputFile(missing.c_str(), 0), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(FileStatus, 2);
  EXPECT_STREQ(LineBuf, "");
  EXPECT_EQ(LineLen, 0);
  EXPECT_EQ(GetFileLine(), 0);

  testing::internal::CaptureStderr();
  EXPECT_EQ(OpenInputFileF(1, "%s/%s", dir_.c_str(), "missing"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "WARNING: can't open file, " + missing + "\n");

  // A formatted path that does not fit 512 bytes is not opened under a cut name.
  std::string name(600, 'n');
  write(name.substr(0, 200), "x\n");
  EXPECT_EQ(OpenInputFileF(0, "%s/%s", dir_.c_str(), name.c_str()), 0);
  EXPECT_EQ(FileStatus, 2);

  write("ok", "x\n");
  EXPECT_EQ(OpenInputFileF(0, "%s/%s", dir_.c_str(), "ok"), 1);
  CloseInputFile();
  EXPECT_EQ(FileStatus, 1);
  EXPECT_EQ(pIn, nullptr);
}

TEST_F(FilesTest, ReaderFatalLevelEndsWithStatusZero) {
  std::string missing = path("missing");
  EXPECT_EXIT(OpenInputFile(missing.c_str(), 2), testing::ExitedWithCode(0),
              "ERROR: can't open file, " + missing);
}

TEST_F(FilesTest, TextLinesSkipCommentsAndBlankLines) {
  write("list", "# comment\n\n  word rest\n\t\n#x\nlast\n");
  ASSERT_EQ(OpenInputFile(path("list").c_str(), 0), 1);
  EXPECT_EQ(GetFileTextLine(nullptr), 0);
  for (const char *expected : {"word", "last"}) {
    ASSERT_EQ(GetFileTextLine(" \t\n"), 1);
    EXPECT_STREQ(LineBuf, expected);
  }
  EXPECT_EQ(GetFileTextLine(" \t\n"), 0);
}

// ------------------------------------------------------- whole-file reads --

TEST_F(FilesTest, GetFileContentReadsAtMost4095Bytes) {
  std::string big(5000, 'z');
  big[0] = 'A';
  write("big", big);
  ASSERT_EQ(GetFileContent(dir_.c_str(), "big"), 1);
  EXPECT_EQ(std::string(LineBuf), big.substr(0, 4095));
  write("small", "abc");
  ASSERT_EQ(GetFileContent(path("small").c_str(), nullptr), 1);
  EXPECT_STREQ(LineBuf, "abc");
  EXPECT_EQ(GetFileContent(dir_.c_str(), "missing"), 0);
  EXPECT_STREQ(LineBuf, "");
}

TEST_F(FilesTest, GetFileContentRHonoursSize) {
  write("f", "abcdef");
  struct Case { int size; const char *expected; };
  for (Case c : {Case{3, "abc"}, Case{6, "abcdef"}, Case{10, "abcdef"}, Case{0, ""}}) {
    SCOPED_TRACE(c.size);
    char buf[11];
    memset(buf, '#', sizeof buf);
    ASSERT_EQ(GetFileContentR(dir_.c_str(), "f", buf, c.size), 1);
    EXPECT_STREQ(buf, c.expected);
  }
  char buf[8];
  EXPECT_EQ(GetFileContentR(dir_.c_str(), "missing", buf, 7), 0);
  EXPECT_EQ(GetFileContentR(dir_.c_str(), std::string(300, 'f').c_str(), buf, 7), 0);
}

TEST_F(FilesTest, SavedFileContent) {
  write("empty", "");
  write("one", "x");
  write("normal", "line 1\nline 2\n");
  struct Case { const char *name; std::string expected; int size; };
  const Case cases[] = {
      {"empty", "(null)", 0},
      {"one", "x", 1},     // a one-byte file keeps its byte
      {"normal", "line 1\nline 2\n", 14},
      {"missing", "(null)", 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    SavedFileSize = -1;
    EXPECT_EQ(saved(GetSavedFileContent(dir_.c_str(), c.name)), c.expected);
    EXPECT_EQ(SavedFileSize, c.size);
  }
  EXPECT_EQ(saved(GetSavedFileContent(path("normal").c_str(), nullptr)), "line 1\nline 2\n");
}

// ------------------------------------------------------------------ changes --

TEST_F(FilesTest, CreateFileMakesDirectoriesAndFiles) {
  EXPECT_EQ(CreateFile(path("opt/pkg").c_str(), nullptr, "755", nullptr, nullptr), 0);
  EXPECT_EQ(GetFileType(path("opt/pkg").c_str()), 1);
  EXPECT_EQ(mode("opt/pkg"), 0755);

  EXPECT_EQ(CreateFile(path("db").c_str(), "que", "666", "root", "root"), 0);
  EXPECT_EQ(GetFileType(path("db/que").c_str()), 3);
  EXPECT_EQ(GetFileSize(path("db/que").c_str()), 0);
  EXPECT_EQ(mode("db/que"), 0666);

  // An existing directory is kept; the file is touched, not emptied.
  write("db/keep", "data");
  EXPECT_EQ(CreateFile(path("db").c_str(), "keep", "600", nullptr, nullptr), 0);
  EXPECT_EQ(GetFileSize(path("db/keep").c_str()), 4);
  EXPECT_EQ(mode("db/keep"), 0600);
  EXPECT_EQ(CreateFile(nullptr, "x", nullptr, nullptr, nullptr), 0);
}

TEST_F(FilesTest, DeleteAndRename) {
  mkdir(path("tree").c_str(), 0755);
  write("tree/f", "x");
  write("g", "y");
  EXPECT_EQ(DeleteFile(dir_.c_str(), "tree"), 0);
  EXPECT_FALSE(exists("tree"));
  EXPECT_EQ(DeleteFile(nullptr, path("g").c_str()), 0);
  EXPECT_FALSE(exists("g"));
  EXPECT_EQ(DeleteFile(dir_.c_str(), "missing"), 0);
  EXPECT_EQ(DeleteFile(nullptr, nullptr), 0);

  write("h", "z");
  EXPECT_EQ(DeleteFile_(path("h").c_str(), nullptr), 0);
  EXPECT_FALSE(exists("h"));
  write("i", "z");
  EXPECT_EQ(DeleteFile_(dir_.c_str(), "i"), 0);
  EXPECT_FALSE(exists("i"));

  write("old", "1");
  EXPECT_EQ(RenameFile(dir_.c_str(), "old", "new"), 0);
  EXPECT_FALSE(exists("old"));
  EXPECT_TRUE(exists("new"));
  EXPECT_EQ(RenameFile(nullptr, path("new").c_str(), path("newer").c_str()), 0);
  EXPECT_TRUE(exists("newer"));
  EXPECT_EQ(RenameFile(dir_.c_str(), "absent", "other"), 0);
  EXPECT_FALSE(exists("other"));
}

// Words the shell would act on, and paths that do not fit, run no command.
TEST_F(FilesTest, UnsafeAndOverlongChangesAreRefused) {
  write("a b", "keep");
  write("x;y", "keep");
  struct Case { const char *what; std::function<int()> change; int status; };
  const std::string d = dir_;
  const std::string deep = d + "/" + std::string(600, 'p');
  const Case cases[] = {
      {"create with blank", [&] { return CreateFile(d.c_str(), "a b", "644", nullptr, nullptr); }, EINVAL},
      {"create bad owner", [&] { return CreateFile(d.c_str(), "f", nullptr, "root;touch pwned", nullptr); }, EINVAL},
      {"create bad perm", [&] { return CreateFile(d.c_str(), "f", "$(touch pwned)", nullptr, nullptr); }, EINVAL},
      {"create too long", [&] { return CreateFile(deep.c_str(), nullptr, nullptr, nullptr, nullptr); }, ENAMETOOLONG},
      {"delete with blank", [&] { return DeleteFile(d.c_str(), "a b"); }, EINVAL},
      {"delete_ with semicolon", [&] { return DeleteFile_(d.c_str(), "x;y"); }, EINVAL},
      {"delete too long", [&] { return DeleteFile(deep.c_str(), "x"); }, ENAMETOOLONG},
      {"rename to unsafe", [&] { return RenameFile(d.c_str(), "x;y", "z`id`"); }, EINVAL},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    testing::internal::CaptureStderr();
    EXPECT_EQ(c.change(), c.status);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("WARNING: ", 0), 0u) << err;
  }
  EXPECT_TRUE(exists("a b"));
  EXPECT_TRUE(exists("x;y"));
  EXPECT_FALSE(exists("a"));
  EXPECT_FALSE(exists("b"));
  EXPECT_FALSE(exists("f"));
  EXPECT_FALSE(exists("pwned"));
}

// ------------------------------------------------------------------- probes --

TEST_F(FilesTest, UserAndHostNames) {
  const passwd *pw = getpwuid(getuid());
  ASSERT_NE(pw, nullptr);
  EXPECT_EQ(saved(GetUserName()), pw->pw_name);
  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  EXPECT_EQ(saved(GetHostname()), host);
}

// Without whoami in the command table the name comes from the user id:
// "root" for 0, else "User ID:  <id>" with two blanks. Each case runs in a
// child whose table row names a command that cannot be found.
TEST_F(FilesTest, UserNameWithoutWhoami) {
  struct Case { const char *what; uid_t uid; const char *expected; };
  const Case cases[] = {{"root", 0, "root"}, {"nobody", 65534, "User ID:  65534"}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EXIT(
        {
          ComList[CMD_WHOAMI].pPath = nullptr;
          ComList[CMD_WHOAMI].pCmd = "tarnu-no-such-whoami";
          if (TestCmd(CMD_WHOAMI)) exit(5);
          if (getuid() != c.uid && (setgid(c.uid) != 0 || setuid(c.uid) != 0)) exit(2);
          char *name = GetUserName();
          exit(name != nullptr && strcmp(name, c.expected) == 0 ? 3 : 4);
        },
        testing::ExitedWithCode(3), "");
  }
}

// ---------------------------------------------------------------- locating --

TEST_F(FilesTest, FindExistingPathWalksUp) {
  mkdir(path("d").c_str(), 0755);
  const std::string d = dir_;
  const std::string overlong = d + "/d/" + std::string(5000, 'q') + "/r";
  struct Case { std::string in; std::string expected; int flag; };
  const Case cases[] = {
      {d + "/newdir/sub", d, 7},
      {d + "/d", d + "/d", 1},
      {d + "/d/x/y/z", d + "/d", 7},
      {"/", "/", 1},
      {"no-such-relative-dir-xyz/abc", ".", 7},
      {overlong, d + "/d", 7},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.in.substr(0, 80));
    int flag = 7;
    EXPECT_EQ(saved(FindExistingPath(c.in.c_str(), &flag)), c.expected);
    EXPECT_EQ(flag, c.flag);
  }
}

}  // namespace
