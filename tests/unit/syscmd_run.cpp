// Tests of command execution: the exact command text run through the
// stand-in "sh" (which records its -c argument), the log line, the progress
// dot and the redirection of every mode, failure reports and exit statuses,
// the refusal of command lines that do not fit, and the settle times.
#include "syscmd_testenv.h"
#include "valgrind_slack.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <regex>
#include <sys/wait.h>

namespace {

class RunTest : public CmdEnv {
 protected:
  void SetUp() override {
    CmdEnv::SetUp();
    bin_ = MakeDir("bin");
    rec_ = dir_ + "/sh.rec";
    Script(bin_, "sh", "printf '%s\\n' \"$2\" >> '" + rec_ + "'\nexec /bin/sh \"$@\"\n");
    Script(bin_, "cp", "echo \"cp $*\"\n");
    Script(bin_, "ln", "exit 0\n");
    Script(bin_, "mv", "echo moved\n");
    Script(bin_, "cat", "exit 0\n");
    Script(bin_, "rm", "echo 'rm out'\necho 'rm err' >&2\nexit 3\n");
    Script(bin_, "chgrp", "exit 4\n");
    Script(bin_, "eject", "exit 0\n");
    for (int row : std::initializer_list<int>{CMD_SH, CMD_CP, CMD_LN, CMD_MV, CMD_CAT, CMD_RM, CMD_RM_RF, CMD_CHGRP, 14})
      Point(row, bin_);
    flUseLog = 1;
    flSysCmdLog = 1;
    WriteText(logPath_, "", 0666);   // the log exists: no touch runs
  }

  // The texts the stand-in sh received, one per line; the log's descriptor
  // (the lowest free one, 3 to 9) shows as L.
  std::string Recorded() {
    static const std::regex kLogFd(" 1>&([3-9]) 2>&\\1");
    return std::regex_replace(ReadText(rec_), kLogFd, " 1>&L 2>&L");
  }
  std::string Redirect() { return " 1>&L 2>&L"; }

  std::string bin_, rec_;
};

struct RunCase {
  const char *what;
  int index;
  int mode;
  const char *args;     // the caller's text, given through "%s"
  const char *inner;    // what sh -c received after the bin directory; "@R" = log redirection
  const char *log;      // log content after "@B" = the bin directory
  const char *out;      // standard output
};

// Commands that succeed, in every mode and with table rows with and without
// default options and negative indexes.
TEST_F(RunTest, CommandTextLogAndRedirection) {
  const RunCase cases[] = {
      {"cp in mode 1", CMD_CP, 1, "/a/b /c", "@B/cp -p /a/b /c@R",
       "@B/sh -c \"@B/cp -p /a/b /c\ncp -p /a/b /c\n", "."},
      {"cp in mode 2", CMD_CP, 2, "/a/b /c", "@B/cp -p /a/b /c@R",
       "@B/sh -c \"@B/cp -p /a/b /c\ncp -p /a/b /c\n", "."},
      {"ln, no options: two blanks", CMD_LN, 1, "-s x y", "@B/ln  -s x y@R",
       "@B/sh -c \"@B/ln  -s x y\n", "."},
      {"mv carries -f", CMD_MV, 0, "-f a b", "@B/mv -f -f a b 1>/dev/null 2>/dev/null", "", ""},
      {"negative index, mode 0", -CMD_MV, 0, "a b", "@B/mv -f a b 1>/dev/null 2>/dev/null", "", ""},
      {"negative index, mode 2", -CMD_CAT, 2, "a >> b", "@B/cat  a >> b", "", ""},
      {"negative index, mode 1", -CMD_MV, 1, "a b", "@B/mv -f a b", "", "moved\n"},
  };
  for (const RunCase &c : cases) {
    SCOPED_TRACE(c.what);
    unlink(rec_.c_str());
    WriteText(logPath_, "", 0666);
    auto expand = [this](std::string s) {
      for (size_t p; (p = s.find("@B")) != std::string::npos;) s.replace(p, 2, bin_);
      for (size_t p; (p = s.find("@R")) != std::string::npos;) s.replace(p, 2, Redirect());
      return s;
    };
    testing::internal::CaptureStdout();
    errno = 0;
    EXPECT_EQ(SysCmd(c.index, c.mode, "%s", c.args), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out);
    EXPECT_EQ(Recorded(), expand(c.inner) + "\n");
    EXPECT_EQ(ReadText(logPath_), expand(c.log));
  }
}

// Without logging the output of a mode-1 command is discarded; index 0 and 1
// run the text alone, index 1 with the dot, the log line and the redirection.
TEST_F(RunTest, RawCommandsAndLoggingOff) {
  const std::string out = dir_ + "/out";
  testing::internal::CaptureStdout();
  EXPECT_EQ(SysCmd(0, 1, "printf zero > %s", out.c_str()), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(ReadText(out), "zero");
  EXPECT_EQ(ReadText(logPath_), "");

  testing::internal::CaptureStdout();
  EXPECT_EQ(SysCmd(1, 1, "printf %s", "one"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), ".");
  EXPECT_EQ(ReadText(logPath_), "printf one\none");
  EXPECT_EQ(Recorded(), "");   // no sh -c wrapper

  flUseLog = 0;
  unlink(logPath_.c_str());
  testing::internal::CaptureStdout();
  EXPECT_EQ(SysCmd(CMD_CP, 1, "%s", "a b"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), ".");
  EXPECT_EQ(Recorded(), bin_ + "/cp -p a b 1>>/dev/null 2>>/dev/null\n");
  EXPECT_FALSE(PathExists(logPath_));

  flSysCmdLog = 0;   // before the start-up resolution: no dots
  testing::internal::CaptureStdout();
  EXPECT_EQ(SysCmd(CMD_CP, 1, "%s", "a b"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

// A failure is the command's exit status, whatever errno holds; mode 0 is
// silent, mode 1 logs a warning, and an exit status of 4 is a failure too.
TEST_F(RunTest, FailuresInModesZeroAndOne) {
  struct Case {
    const char *what;
    int index, mode, status;
    const char *log;    // after the command line
    const char *out;
  };
  const Case cases[] = {
      {"mode 0", CMD_RM, 0, 3, "", ""},
      {"mode 1", CMD_RM, 1, 3, "rm out\nrm err\nWARNING_MSG: exit status 3\n", "."},
      {"mode 1, silent row", -CMD_RM, 1, 3, "WARNING_MSG: exit status 3\n", "rm out\n"},
      {"status 4", CMD_CHGRP, 1, 4, "WARNING_MSG: exit status 4\n", "."},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    WriteText(logPath_, "", 0666);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    errno = 0;   // a failure that leaves errno at 0 is still a failure
    EXPECT_EQ(SysCmd(c.index, c.mode, "%s", "x"), c.status);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, c.index == -CMD_RM ? "rm err\n" : "");
    std::string log = ReadText(logPath_);
    if (c.index > 0 && c.mode != 0) {
      const std::string line = bin_ + "/sh -c \"" + bin_ + "/" + ComList[c.index].pCmd + " " +
                               ComList[c.index].pFlags + " x\n";
      ASSERT_EQ(log.compare(0, line.size(), line), 0) << log;
      log.erase(0, line.size());
    }
    EXPECT_EQ(log, c.log);
  }
}

TEST_F(RunTest, FailureInModeTwoEndsTheRun) {
  EXPECT_EXIT(
      {
        dup2(2, 1);   // standard output into the captured stream
        errno = 0;
        SysCmd(CMD_RM, 2, "%s", "-r /a");
      },
      testing::ExitedWithCode(1),
      testing::Eq(".ERROR: failed command: " + bin_ + "/sh -c \"" + bin_ +
                  "/rm -f -r /a\nERROR: exit status 3\n"));
  EXPECT_EQ(ReadText(logPath_), bin_ + "/sh -c \"" + bin_ +
                                    "/rm -f -r /a\nrm out\nrm err\nERROR: exit status 3\n");

  WriteText(logPath_, "", 0666);
  EXPECT_EXIT(
      {
        dup2(2, 1);
        SysCmd(-CMD_RM, 2, "%s", "x");
      },
      testing::ExitedWithCode(1),
      testing::Eq("rm out\nrm err\nERROR: failed command: " + bin_ + "/sh -c \"" + bin_ +
                  "/rm -f x\nERROR: exit status 3\n"));
  EXPECT_EQ(ReadText(logPath_), "ERROR: exit status 3\n");
}

// A command line that does not fit the buffer is never run cut short.
TEST_F(RunTest, CommandLinesThatDoNotFitAreRefused) {
  const std::string prefix = bin_ + "/sh -c \"" + bin_ + "/rm -rf ";
  const std::string redirect = Redirect() + "\"";
  struct Case {
    const char *what;
    size_t argLen;
    int status;
  };
  const Case cases[] = {
      {"fits exactly", 4095 - prefix.size() - redirect.size(), 0},
      {"cut by the closing quote", 4096 - prefix.size() - redirect.size(), E2BIG},
      {"cut by the redirection", 4095 - prefix.size(), E2BIG},
      {"far too long", 5000, E2BIG},
  };
  Script(bin_, "rm", "exit 0\n");
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    unlink(rec_.c_str());
    WriteText(logPath_, "", 0666);
    const std::string arg(c.argLen, 'a');
    testing::internal::CaptureStdout();
    EXPECT_EQ(SysCmd(CMD_RM_RF, 1, "%s", arg.c_str()), c.status);
    const std::string out = testing::internal::GetCapturedStdout();
    if (c.status == 0) {
      EXPECT_EQ(Recorded(), bin_ + "/rm -rf " + arg + Redirect() + "\n");
      EXPECT_EQ(out, ".");
    } else {
      EXPECT_FALSE(PathExists(rec_));
      EXPECT_EQ(out, "");
      EXPECT_EQ(ReadText(logPath_), "WARNING_MSG: command line too long, not run: rm...\n");
    }
  }
  const std::string arg(5000, 'a');
  EXPECT_EXIT(
      {
        dup2(2, 1);
        SysCmd(CMD_RM_RF, 2, "%s", arg.c_str());
      },
      testing::ExitedWithCode(1),
      testing::Eq(std::string("ERROR: command line too long, not run: rm...\n")));
  EXPECT_EQ(SysCmd(0, 0, "%s", arg.c_str()), E2BIG);
}

TEST(CmdStatusTest, ResultsOfSystem) {
  struct Case {
    int result, err, status;
    const char *text;
  };
  const Case cases[] = {
      {0, 0, 0, "exit status 0"},
      {3 << 8, 0, 3, "exit status 3"},
      {4 << 8, EINTR, 4, "exit status 4"},
      {255 << 8, 0, 255, "exit status 255"},
      {SIGKILL, 0, 128 + SIGKILL, "killed by signal 9"},
      {SIGINT, 0, 128 + SIGINT, "killed by signal 2"},
      {-1, EAGAIN, EAGAIN, "Resource temporarily unavailable"},
      {-1, 0, ECHILD, "No child processes"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.result);
    char text[128];
    errno = c.err;
    EXPECT_EQ(CmdStatus(c.result, text, sizeof text), c.status);
    EXPECT_STREQ(text, c.text);
  }
}

TEST_F(RunTest, SettleTimes) {
  using Clock = std::chrono::steady_clock;
  // Less than the one-second settle; under valgrind a command alone takes longer.
  const auto quick = std::chrono::milliseconds(ValgrindSlack(900));
  auto start = Clock::now();
  EXPECT_EQ(SysCmd(14, 0, "%s", "cd0"), 0);   // eject: one second
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(990));

  // Waiting for the process: it shows at once, so there is no time-out.
  const std::string ps = MakeDir("ps");
  Script(ps, "ps", "echo '  812 TS 19 ? 00:00:00 cp'\n");
  Point(CMD_PS, ps);
  ComList[CMD_CP].iWait = -1;
  start = Clock::now();
  testing::internal::CaptureStdout();
  EXPECT_EQ(SysCmd(CMD_CP, 1, "%s", "a b"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), ".");
  EXPECT_LT(Clock::now() - start, quick);
  EXPECT_EQ(ReadText(logPath_).find("Time out"), std::string::npos);

  start = Clock::now();
  EXPECT_EQ(SysCmd(1, 0, "%s", "true"), 0);   // raw commands never settle
  EXPECT_LT(Clock::now() - start, quick);
}

}  // namespace
