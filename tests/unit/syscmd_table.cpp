// Tests of the command table and its resolution: the rows callers rely on,
// search order across directories and PATH, on-demand lookup, the saved
// command strings, and the stop on a command that cannot be found.
#include "syscmd_testenv.h"

#include <cstring>
#include <iterator>

namespace {

TEST(ComListRows, RowNumbersNamesOptionsAndWaits) {
  struct Row {
    int index;
    const char *name;
    const char *flags;
    int wait;
  };
  const Row rows[] = {
      {0, "", "", 0},           {1, "", "", 0},          {2, "cancel", "", 2},
      {CMD_CAT, "cat", "", 0},  {CMD_CHGRP, "chgrp", "", 0}, {CMD_CHMOD, "chmod", "", 0},
      {CMD_CHOWN, "chown", "", 0}, {CMD_CLEAR, "clear", "", 0}, {CMD_CP, "cp", "-p", 0},
      {CMD_CP_R, "cp", "-pr", 0}, {14, "eject", "-f", 1},    {15, "eject", "-q", 1},
      {CMD_LN, "ln", "", 0},    {19, "lpc", "", 1},      {24, "kill", "-KILL", 0},
      {CMD_MV, "mv", "-f", 0},  {CMD_MKDIR, "mkdir", "-p", 0}, {CMD_RM, "rm", "-f", 0},
      {CMD_RM_RF, "rm", "-rf", 0}, {CMD_SH, "sh", "", 0},   {33, "tar", "cvfp", 0},
      {CMD_TAR_X, "tar", "xvfp", 0}, {CMD_TOUCH, "touch", "", 0}, {CMD_WHOAMI, "whoami", "", 0},
      {CMD_SED, "sed", "", 0},  {CMD_DU, "du", "-s", 0}, {CMD_LPD, "lpd", "", 0},
      {44, "pkgadd", "", 1},    {56, "lpsystem", "", 1}, {CMD_PS, "ps", "-ace", 0},
      {58, "bar", "", 0},       {CMD_DF, "df", "", 0},   {60, "lpq", "-P", 0},
      {66, "capture", "", 0},   {67, "lpset", "", 1},    {70, "piomisc_ext", "", 0},
      {71, "piomisc_base", "", 0}, {81, "startsrc", "", 1}, {82, "stopsrc", "", 0},
      {83, "lssrc", "", 0},
      // The rows of other print systems keep their places and settle times too.
      {8, "compress", "", 0}, {11, "cupsd", "", 0}, {12, "id", "", 0}, {13, "echo", "", 0},
      {16, "file", "", 0}, {18, "lp", "", 0}, {20, "lpr", "", 0}, {21, "lprm", "", 1},
      {22, "lpstat", "", 1}, {23, "ls", "", 0}, {27, "more", "", 0}, {28, "ping", "", 0},
      {32, "sleep", "", 0}, {36, "uncompress", "", 0}, {38, "zcat", "", 0},
      {39, "uname", "", 0}, {42, "checkpc", "", 0}, {45, "pkginfo", "", 0},
      {46, "pkgrm", "", 1}, {47, "accept", "", 1}, {48, "disable", "", 1},
      {49, "cupsdisable", "", 1}, {50, "enable", "", 1}, {51, "cupsenable", "", 1},
      {52, "lpadmin", "", 1}, {53, "lpfilter", "", 1}, {54, "lpsched", "", 1},
      {55, "lpshut", "", 1}, {61, "ypcat", "", 0}, {62, "reject", "", 1}, {63, "pmadm", "", 1},
      {64, "sacadm", "", 1}, {65, "volcheck", "", 0}, {68, "instnetpr", "", 1},
      {69, "piomkpq", "", 0}, {72, "lsallq", "", 0}, {73, "mkque", "", 0},
      {74, "mkquedev", "", 0}, {75, "rmque", "", 0}, {76, "rmquedev", "", 0},
      {77, "piochdfq", "", 0}, {78, "enq", "", 0}, {79, "lsquedev", "", 0},
      {80, "lsque", "", 0},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.index);
    EXPECT_STREQ(ComList[r.index].pCmd, r.name);
    EXPECT_STREQ(ComList[r.index].pFlags, r.flags);
    EXPECT_EQ(ComList[r.index].iWait, r.wait);
  }
  EXPECT_EQ(std::size(rows), 84u);   // every row before the end of the table
  EXPECT_EQ(ComList[84].pCmd, nullptr);
  for (int i = 2; i < 84; ++i) {
    SCOPED_TRACE(i);
    ASSERT_NE(ComList[i].pCmd, nullptr);
    EXPECT_NE(ComList[i].pCmd[0], '\0');
    EXPECT_TRUE(ComList[i].iWait == 0 || ComList[i].iWait == 1 || ComList[i].iWait == 2);
  }
  EXPECT_STREQ(SearchPaths, "/usr/sbin:/usr/bin:/bin:/sbin:/etc:/usr/etc");
}

class TableTest : public CmdEnv {};

// Two directories: "cp" in both, "sed" (a subdirectory) and "lpd" (not
// executable) in the second only. The earlier directory wins; only the
// name is checked.
TEST_F(TableTest, FillCmdPathsResolvesInSearchOrder) {
  const std::string a = MakeDir("a"), b = MakeDir("b");
  Script(a, "cp", "exit 0\n");
  Script(b, "cp", "exit 0\n");
  MakeDir("b/sed");
  WriteText(b + "/lpd", "", 0644);
  ClearTable();

  EXPECT_EQ(FillCmdPaths(a.c_str()), 1);
  EXPECT_EQ(FillCmdPaths(b.c_str()), 1);
  EXPECT_EQ(FillCmdPaths((dir_ + "/missing").c_str()), 1);

  struct Expect {
    int index;
    const char *dir;   // null: unresolved
  };
  const Expect expect[] = {
      {CMD_CP, a.c_str()}, {CMD_CP_R, a.c_str()}, {CMD_SED, b.c_str()},
      {CMD_LPD, b.c_str()}, {CMD_RM, nullptr},    {0, nullptr}, {1, nullptr},
  };
  for (const Expect &e : expect) {
    SCOPED_TRACE(e.index);
    if (e.dir == nullptr) {
      EXPECT_EQ(ComList[e.index].pPath, nullptr);
    } else {
      ASSERT_NE(ComList[e.index].pPath, nullptr);
      EXPECT_STREQ(ComList[e.index].pPath, e.dir);
    }
  }
  // Rows found in one directory share its string.
  EXPECT_EQ(ComList[CMD_CP].pPath, ComList[CMD_CP_R].pPath);
  EXPECT_EQ(ComList[CMD_SED].pPath, ComList[CMD_LPD].pPath);
}

TEST_F(TableTest, FillCmdPathsIsFalseOnceEveryRowIsResolved) {
  const std::string a = MakeDir("a");
  Script(a, "lssrc", "exit 0\n");
  for (int i = 2; i < 84; ++i) Point(i, "/elsewhere");
  ComList[83].pPath = nullptr;
  EXPECT_EQ(FillCmdPaths(a.c_str()), 0);
  EXPECT_STREQ(ComList[83].pPath, a.c_str());
}

TEST_F(TableTest, FillCmdPathFollowsFullSearchPath) {
  const std::string a = MakeDir("a"), b = MakeDir("b");
  Script(a, "cp", "exit 0\n");
  Script(b, "cp", "exit 0\n");
  Script(b, "sed", "exit 0\n");
  ClearTable();
  FullSearchPath = SaveStr("::%s/none:%s:%s", dir_.c_str(), a.c_str(), b.c_str());

  EXPECT_EQ(FillCmdPath(CMD_CP), 1);
  EXPECT_STREQ(ComList[CMD_CP].pPath, a.c_str());
  EXPECT_EQ(FillCmdPath(CMD_SED), 1);
  EXPECT_STREQ(ComList[CMD_SED].pPath, b.c_str());
  EXPECT_EQ(FillCmdPath(CMD_LPD), 0);
  EXPECT_EQ(ComList[CMD_LPD].pPath, nullptr);
  EXPECT_EQ(FillCmdPath(0), 0);
  EXPECT_EQ(FillCmdPath(84), 0);
}

TEST_F(TableTest, TestCmdGetCmdAndGetCmdNoFlags) {
  const std::string a = MakeDir("a");
  for (const char *name : {"cp", "ln", "whoami"}) Script(a, name, "exit 0\n");
  ClearTable();
  FullSearchPath = SaveStr("%s", a.c_str());

  // Lookup on demand happens only while it is enabled.
  EXPECT_EQ(TestCmd(CMD_CP), 0);
  flInitSysCmd = 1;
  EXPECT_EQ(TestCmd(CMD_CP), 1);
  EXPECT_EQ(TestCmd(CMD_RM), 0);
  EXPECT_EQ(TestCmd(0), 0);
  EXPECT_EQ(TestCmd(1), 0);
  EXPECT_EQ(TestCmd(84), 0);

  struct Case {
    int index;
    const char *withFlags;   // "" for null
    const char *noFlags;
  };
  const Case cases[] = {
      {CMD_CP, "/cp -p", "/cp"},
      {CMD_LN, "/ln ", "/ln"},          // no options: a trailing blank
      {CMD_WHOAMI, "/whoami ", "/whoami"},
      {CMD_RM, "", ""},                 // unresolved
      {84, "", ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.index);
    MemHolder full(GetCmd(c.index));
    MemHolder bare(GetCmdNoFlags(c.index));
    if (*c.withFlags == '\0') {
      EXPECT_EQ(full.get(), nullptr);
      EXPECT_EQ(bare.get(), nullptr);
    } else {
      ASSERT_NE(full.get(), nullptr);
      ASSERT_NE(bare.get(), nullptr);
      EXPECT_EQ(std::string(full.str()), a + c.withFlags);
      EXPECT_EQ(std::string(bare.str()), a + c.noFlags);
    }
  }
}

// The start-up resolution over the real system directories and a PATH that
// holds a stand-in for a command this machine does not have.
TEST_F(TableTest, InitSysCmdListResolvesSearchPathsThenPath) {
  const std::string p = MakeDir("p");
  Script(p, "piomisc_base", "exit 0\n");
  Script(p, "cp", "exit 0\n");
  const char *oldPath = getenv("PATH");
  const std::string savedPath = oldPath != nullptr ? oldPath : "";
  const char *oldShell = getenv("SHELL");
  const std::string savedShell = oldShell != nullptr ? oldShell : "";
  setenv("PATH", p.c_str(), 1);
  ClearTable();
  flInitSysCmd = 1;
  flUseLog = 1;
  WriteText(logPath_, "the previous run\n", 0666);

  InitSysCmdList();

  // The first system directory that holds cp, not the PATH stand-in.
  std::string firstCp;
  for (const char *d : {"/usr/sbin", "/usr/bin", "/bin", "/sbin", "/etc", "/usr/etc"}) {
    if (PathExists(std::string(d) + "/cp")) {
      firstCp = d;
      break;
    }
  }
  ASSERT_FALSE(firstCp.empty());
  ASSERT_NE(ComList[CMD_CP].pPath, nullptr);
  EXPECT_EQ(std::string(ComList[CMD_CP].pPath), firstCp);
  ASSERT_NE(ComList[71].pPath, nullptr);
  EXPECT_EQ(std::string(ComList[71].pPath), p);
  EXPECT_EQ(flInitSysCmd, 0);
  EXPECT_EQ(flSysCmdLog, 1);
  EXPECT_EQ(std::string(FullSearchPath), std::string(SearchPaths) + ":" + p);
  ASSERT_NE(ComList[CMD_SH].pPath, nullptr);
  EXPECT_EQ(std::string(getenv("SHELL")), std::string(ComList[CMD_SH].pPath) + "/sh ");
  EXPECT_EQ(ReadText(logPath_), "initializing system\n");

  setenv("PATH", savedPath.c_str(), 1);
  setenv("SHELL", savedShell.c_str(), 1);
}

// After the start-up resolution a command that was not found stays
// unresolved, and naming it ends the run with status 1, never as a success.
TEST_F(TableTest, UnresolvedCommandStopsTheRunWithStatusOne) {
  const std::string a = MakeDir("a");
  Script(a, "sh", "exec /bin/sh \"$@\"\n");
  Point(CMD_SH, a);
  ComList[83].pPath = nullptr;
  FullSearchPath = SaveStr("%s", a.c_str());
  Script(a, "lssrc", "exit 0\n");   // present, but looked up no more
  const std::string expected = "ERROR: unable to locate system command 'lssrc'\n";
  EXPECT_EXIT(SysCmd(83, 1, "%s", "-a"), testing::ExitedWithCode(1), testing::Eq(expected));
  EXPECT_EXIT(SysCmd(-83, 0, "%s", "-a"), testing::ExitedWithCode(1), testing::Eq(expected));
  EXPECT_EXIT(GetCmdResponse(83, nullptr, "%s", "-a"), testing::ExitedWithCode(1),
              testing::Eq(expected));
  EXPECT_EQ(TestCmd(83), 0);
  EXPECT_EQ(GetCmd(83), nullptr);
  // An index outside the table is never read past its end.
  EXPECT_EXIT(SysCmd(85, 0, "%s", "x"), testing::ExitedWithCode(1),
              testing::Eq(std::string("ERROR: unable to locate system command '#85'\n")));
}

}  // namespace
