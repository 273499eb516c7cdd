// Tests of the log file and the error reports: truncation per run, creation
// with 0666, files that must never be written through (links, other owners),
// and the exact texts and exit statuses of SysError, ErrorMsg, errormsg,
// CreateTextFile and SysCmdP.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "SysCmd.h"
#include "utils.h"

namespace {

std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void writeFile(const std::string &path, const std::string &text, mode_t mode = 0644) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  fchmod(fd, mode);
  close(fd);
}

bool exists(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

mode_t modeOf(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedUseLog_ = flUseLog;
    savedName_ = my_name;
    char tmpl[] = "/tmp/tarnu-logtest-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    useName("tarnu-test-" + std::to_string(getpid()));
    flUseLog = 1;
    ResetLogRun();
  }
  void TearDown() override {
    for (const std::string &p : cleanup_) unlink(p.c_str());
    std::string cmd = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(system(cmd.c_str()), 0);
    flUseLog = savedUseLog_;
    my_name = savedName_;
    ResetLogRun();
  }
  // Makes name the invocation name; its log is removed at the end.
  void useName(const std::string &name) {
    name_ = name;
    my_name = const_cast<char *>(name_.c_str());
    logPath_ = "/tmp/" + name_ + ".log";
    unlink(logPath_.c_str());
    cleanup_.push_back(logPath_);
  }

  unsigned char savedUseLog_ = 0;
  char *savedName_ = nullptr;
  std::string dir_, name_, logPath_;
  std::vector<std::string> cleanup_;
};

TEST_F(LogTest, OffWritesNothing) {
  flUseLog = 0;
  PutLogMsg("initializing system\n");
  EXPECT_FALSE(exists(logPath_));
}

TEST_F(LogTest, CreatedWorldWritableAndAppended) {
  const mode_t old = umask(022);
  PutLogMsg("initializing system\n");
  PutLogMsg("%s: %s\n", "WARNING_MSG", "exit status 1");
  umask(old);
  EXPECT_EQ(readFile(logPath_), "initializing system\nWARNING_MSG: exit status 1\n");
  EXPECT_EQ(modeOf(logPath_), 0666u);
}

TEST_F(LogTest, FirstMessageOfEachRunTruncates) {
  PutLogMsg("run one\n");
  PutLogMsg("more of run one\n");
  ResetLogRun();   // a second process run
  PutLogMsg("run two\n");
  EXPECT_EQ(readFile(logPath_), "run two\n");
}

TEST_F(LogTest, ExistingLogKeepsItsPermissions) {
  writeFile(logPath_, "an old run\n", 0600);
  PutLogMsg("new\n");
  EXPECT_EQ(readFile(logPath_), "new\n");
  EXPECT_EQ(modeOf(logPath_), 0600u);
}

// A name the shell would interpret never reaches the touch command line; the
// log is still created, with 0666.
TEST_F(LogTest, NameWithShellCharactersIsNotRunThroughTheShell) {
  const std::string marker = dir_ + "/ran.log";
  cleanup_.push_back("/tmp/tarnu-test-" + std::to_string(getpid()));
  const char *home = getenv("HOME");
  const std::string savedHome = home != nullptr ? home : "/";
  setenv("HOME", dir_.c_str(), 1);
  useName("tarnu-test-" + std::to_string(getpid()) + ";cd;touch ran");
  const mode_t old = umask(077);
  PutLogMsg("x\n");
  umask(old);
  setenv("HOME", savedHome.c_str(), 1);
  EXPECT_FALSE(exists(marker));
  EXPECT_EQ(readFile(logPath_), "x\n");
  EXPECT_EQ(modeOf(logPath_), 0666u);
}

// Files in /tmp that a root process must not write through: each is left as
// it was, the message is lost with "couldn't open", and the run goes on.
TEST_F(LogTest, UnsafeLogFilesAreLeftAlone) {
  const std::string target = dir_ + "/target";
  struct Case {
    const char *what;
    void (*plant)(const std::string &log, const std::string &target);
    bool targetExists;
  };
  const Case cases[] = {
      {"symbolic link to a file",
       [](const std::string &log, const std::string &t) {
         writeFile(t, "precious\n");
         ASSERT_EQ(symlink(t.c_str(), log.c_str()), 0);
       }, true},
      {"dangling symbolic link",
       [](const std::string &log, const std::string &t) {
         ASSERT_EQ(symlink(t.c_str(), log.c_str()), 0);
       }, false},
      {"second hard link",
       [](const std::string &log, const std::string &t) {
         writeFile(t, "precious\n");
         ASSERT_EQ(link(t.c_str(), log.c_str()), 0);
       }, true},
      {"file owned by another user",
       [](const std::string &log, const std::string &t) {
         writeFile(log, "precious\n", 0666);
         ASSERT_EQ(chown(log.c_str(), 65534, 65534), 0);
         (void)t;
       }, false},
      {"named pipe",
       [](const std::string &log, const std::string &) {
         ASSERT_EQ(mkfifo(log.c_str(), 0666), 0);
       }, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    if (geteuid() != 0 && strstr(c.what, "another user") != nullptr) continue;
    unlink(logPath_.c_str());
    unlink(target.c_str());
    c.plant(logPath_, target);
    struct stat before;
    ASSERT_EQ(lstat(logPath_.c_str(), &before), 0);
    ResetLogRun();
    testing::internal::CaptureStderr();
    PutLogMsg("planted\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: couldn't open " + logPath_ + "\n");
    struct stat after;
    ASSERT_EQ(lstat(logPath_.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode, before.st_mode);
    if (c.targetExists) {
      EXPECT_EQ(readFile(target), "precious\n");
    } else {
      EXPECT_FALSE(exists(target));
    }
    if (after.st_uid == 65534) {
      EXPECT_EQ(readFile(logPath_), "precious\n");
    }
  }
}

TEST_F(LogTest, ErrorMsgLevels) {
  struct Case {
    int level;
    const char *expected;
  };
  const Case cases[] = {
      {0, ""},
      {1, "WARNING: no file /a in 3\n"},
      {3, ""},
      {-1, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.level);
    testing::internal::CaptureStderr();
    ErrorMsg(c.level, 1, "no file %s in %d", "/a", 3);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.expected);
    EXPECT_STREQ(Line, "no file /a in 3");   // formatted into the shared line
  }
}

TEST_F(LogTest, ErrorMsgLevelTwoEndsWithTheCallersStatus) {
  EXPECT_EXIT(ErrorMsg(2, 0, "bad %s", "disk"), testing::ExitedWithCode(0),
              testing::Eq(std::string("ERROR: bad disk\n")));
  EXPECT_EXIT(ErrorMsg(2, 1, "bad %s", "disk"), testing::ExitedWithCode(1),
              testing::Eq(std::string("ERROR: bad disk\n")));
}

TEST_F(LogTest, SysErrorPrintsNameMessageAndSystemText) {
  useName("setup");
  EXPECT_EXIT(
      {
        errno = ENOENT;
        SysError("can't open file, %s", "/x");
      },
      testing::ExitedWithCode(1),
      testing::Eq(std::string("\nsetup: can't open file, /x : No such file or directory\n")));
}

TEST_F(LogTest, ErrormsgAndExitApp) {
  useName("setup");
  testing::internal::CaptureStderr();
  errormsg("disk %d of %d", 2, 3);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "setup: disk 2 of 3\n");
  EXPECT_EXIT(exit_app(2), testing::ExitedWithCode(2), "");
}

TEST_F(LogTest, CreateTextFile) {
  const std::string ok = dir_ + "/tarnu.sub";
  const mode_t old = umask(077);
  EXPECT_EQ(CreateTextFile(ok.c_str(), "wt", 0644, "queue %s\n", "lp0"), 1);
  EXPECT_EQ(readFile(ok), "queue lp0\n");
  EXPECT_EQ(modeOf(ok), 0644u);
  EXPECT_EQ(CreateTextFile(ok.c_str(), "at", 0, "%s\n", "more"), 1);
  EXPECT_EQ(readFile(ok), "queue lp0\nmore\n");
  EXPECT_EQ(modeOf(ok), 0644u);   // permissions 0: left as they are
  umask(old);

  const std::string missing = dir_ + "/no/such/dir/file";
  testing::internal::CaptureStderr();
  EXPECT_EQ(CreateTextFile(missing.c_str(), "wt", 0644, "%s", "x"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: couldn't open " + missing + "\n");

  // Opened, but the text does not fit on the device: not written.
  if (exists("/dev/full")) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(CreateTextFile("/dev/full", "wt", 0, "%s\n", "queue lp0"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: couldn't write /dev/full\n");
  }
}

TEST_F(LogTest, SysCmdPRunsReportsAndRefusesLongLines) {
  const std::string marker = dir_ + "/marker";
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_EQ(SysCmdP(1, "touch %s", marker.c_str()), 0);
  EXPECT_EQ(SysCmdP(1, "exit %d", 3), 3);
  EXPECT_EQ(SysCmdP(0, "exit %d", 5), 5);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "touch " + marker + "\nexit 3\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "WARNING_MSG: exit 3: exit status 3\n");
  EXPECT_TRUE(exists(marker));

  // A line longer than 511 characters is not run at all.
  const std::string longer = dir_ + "/" + std::string(520, 'a');
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const std::string args = marker + "2 " + longer;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SysCmdP(1, "touch %s", args.c_str()), E2BIG);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(990));   // still pauses
  testing::internal::GetCapturedStdout();
  EXPECT_NE(testing::internal::GetCapturedStderr().find("command line too long, not run"), std::string::npos);
  EXPECT_FALSE(exists(marker + "2"));

  EXPECT_EXIT(SysCmdP(2, "exit %d", 4), testing::ExitedWithCode(1),
              testing::Eq(std::string("ERROR: exit 4: exit status 4\n")));
}

}  // namespace
