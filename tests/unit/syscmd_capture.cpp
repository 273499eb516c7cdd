// Tests of output capture and the probes: response lists and strings, the
// ps command column, the df "avail" column, du, free-space decisions, the
// killing of a program's processes, and directory listings; over stand-in
// commands and over the real ones.
#include "syscmd_testenv.h"

#include <csignal>
#include <cstring>
#include <sys/wait.h>

namespace {

class CaptureTest : public CmdEnv {
 protected:
  void SetUp() override {
    CmdEnv::SetUp();
    bin_ = MakeDir("bin");
  }
  std::string bin_;
};

std::vector<std::string> Lines(CmdResponse *list) {
  std::vector<std::string> out;
  for (CmdResponse *r = list; r != nullptr; r = r->pNext) {
    EXPECT_EQ(r->pLine, reinterpret_cast<char *>(r + 1));   // text in the node's block
    out.push_back(r->pLine);
  }
  return out;
}

TEST_F(CaptureTest, ResponseListsAndStrings) {
  struct Case {
    const char *filter;
    std::vector<std::string> lines;
    const char *joined;   // null: no result
  };
  const Case cases[] = {
      {nullptr, {"a1\n", "b2\n", "a3"}, "a1\nb2\na3\n"},
      {"", {"a1\n", "b2\n", "a3"}, "a1\nb2\na3\n"},
      {"a", {"a1\n", "a3"}, "a1\na3\n"},
      {"zz", {}, nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.filter != nullptr ? c.filter : "(null)");
    CmdResponse *list = GetCmdResponse(0, c.filter, "printf '%s'", "a1\\nb2\\na3");
    EXPECT_EQ(Lines(list), c.lines);
    FreeResponseList(list);
    MemHolder joined(GetCmdResponseStr(1, c.filter, "printf '%s'", "a1\\nb2\\na3"));
    if (c.joined == nullptr) {
      EXPECT_EQ(joined.get(), nullptr);
    } else {
      ASSERT_NE(joined.get(), nullptr);
      EXPECT_STREQ(joined.str(), c.joined);
    }
  }
  // A table row: directory, name, options and a blank before the text.
  Script(bin_, "du", "echo \"args:$*\"\n");
  Point(CMD_DU, bin_);
  CmdResponse *list = GetCmdResponse(CMD_DU, nullptr, "%s", "x  y");
  EXPECT_EQ(Lines(list), std::vector<std::string>{"args:-s x y\n"});
  FreeResponseList(list);
  EXPECT_EQ(GetCmdResponse(0, nullptr, "%s", "exit 3"), nullptr);
}

TEST_F(CaptureTest, LongCommandLinesAreRefusedNotCut) {
  const std::string marker = dir_ + "/ran";
  const std::string pad(4095, ' ');
  EXPECT_EQ(GetCmdResponse(0, nullptr, "touch %s;%s", marker.c_str(), pad.c_str()), nullptr);
  EXPECT_EQ(GetCmdResponseStr(0, nullptr, "touch %s;%s", marker.c_str(), pad.c_str()), nullptr);
  EXPECT_FALSE(PathExists(marker));
  const std::string fits(4095 - 7 - marker.size(), ' ');
  CmdResponse *none = GetCmdResponse(0, nullptr, "touch %s%s", marker.c_str(), fits.c_str());
  EXPECT_EQ(none, nullptr);
  EXPECT_TRUE(PathExists(marker));
}

// The process table: the sixth column must equal the name exactly.
TEST_F(CaptureTest, ProcessNumbersFromPs) {
  Script(bin_, "ps",
         "[ \"$1\" = -ace ] || exit 1\n"
         "echo '  PID CLS PRI TTY          TIME CMD'\n"
         "echo '  812 TS   19 ?        00:00:00 tpqadmin'\n"
         "echo '  813 TS   19 ?        00:00:00 tprintd'\n"
         "printf '  950 TS\\t19 pts/0    00:00:01 tpqadmin\\r\\n'\n"
         "echo '  960 TS   19 ?        00:00:00 tprint'\n"
         "echo '  961 TS   19 ?        00:00:00 my tprint'\n");
  Point(CMD_PS, bin_);
  struct Case {
    const char *name;
    const char *ids;   // null: none
  };
  const Case cases[] = {
      {"tpqadmin", " 812 950 "}, {"tprint", " 960 "}, {"tprintd", " 813 "},
      {"tpq", nullptr},          {"lpd", nullptr},    {"", nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    MemHolder ids(GetSysPsIdList(c.name));
    if (c.ids == nullptr) {
      EXPECT_EQ(ids.get(), nullptr);
    } else {
      ASSERT_NE(ids.get(), nullptr);
      EXPECT_STREQ(ids.str(), c.ids);
    }
  }
  struct Report {
    const char *list;
    const char *report;
  };
  const Report reports[] = {
      {"tpqadmin,tprint,lpd", "tpqadmin ( 812 950 )\ntprint ( 960 )\n"},
      {"lpd,,cupsd", nullptr},
      {",tprintd", "tprintd ( 813 )\n"},
  };
  for (const Report &r : reports) {
    SCOPED_TRACE(r.list);
    MemHolder report(CheckProcTableForExecs(r.list));
    if (r.report == nullptr) {
      EXPECT_EQ(report.get(), nullptr);
    } else {
      ASSERT_NE(report.get(), nullptr);
      EXPECT_STREQ(report.str(), r.report);
    }
  }
}

// A process number that is not a positive number is never signalled: kill
// of 0 or -1 would reach a process group or every process; nor is this
// process itself.
TEST_F(CaptureTest, KillProcessByNameSendsOnlyToRealProcessNumbers) {
  Script(bin_, "ps",
         "echo '    0 TS 19 ? 00:00:00 tarnuvictim'\n"
         "echo '   -1 TS 19 ? 00:00:00 tarnuvictim'\n"
         "echo '  " + std::to_string(getpid()) + " TS 19 ? 00:00:00 tarnuvictim'\n");
  Point(CMD_PS, bin_);
  EXPECT_EQ(KillProcessByName("tarnuvictim"), 0);   // we are still here
}

// Real ps: a copy of sleep under a unique name is found and killed.
TEST_F(CaptureTest, KillProcessByNameWithTheRealPs) {
  flInitSysCmd = 1;
  ComList[CMD_PS].pPath = nullptr;
  FullSearchPath = SaveStr("%s", SearchPaths);
  const std::string name = "tk" + std::to_string(getpid() % 100000000);
  const std::string prog = bin_ + "/" + name;
  std::string sleepPath = PathExists("/bin/sleep") ? "/bin/sleep" : "/usr/bin/sleep";
  ASSERT_EQ(system(("cp " + sleepPath + " " + prog).c_str()), 0);
  pid_t child = fork();
  if (child == 0) {
    execl(prog.c_str(), name.c_str(), "30", static_cast<char *>(nullptr));
    _exit(127);
  }
  ASSERT_GT(child, 0);
  MemHolder ids(nullptr);
  for (int i = 0; i < 50 && ids.get() == nullptr; ++i) {
    usleep(20000);
    ids.reset(GetSysPsIdList(name.c_str()));
  }
  ASSERT_NE(ids.get(), nullptr);
  EXPECT_EQ(std::string(ids.str()), " " + std::to_string(child) + " ");
  EXPECT_EQ(KillProcessByName(name.c_str()), 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
}

TEST_F(CaptureTest, DiskSpaceFromDf) {
  const std::string out = dir_ + "/df.out";
  const std::string args = dir_ + "/df.args";
  Script(bin_, "df", "printf '%s\\n' \"$@\" > '" + args + "'\ncat '" + out + "'\n");
  Point(CMD_DF, bin_);
  struct Case {
    const char *what;
    const char *output;
    int found;
    double avail;
    const char *line;
  };
  const Case cases[] = {
      {"GNU df",
       "Filesystem     1K-blocks     Used Available Use% Mounted on\n"
       "/dev/hda1 1000 400 600 40% /\n",
       1, 600, "/dev/hda1 1000 400 600 40% /\n"},
      {"BSD df, tabs",
       "Filesystem\t512-blocks Used avail Capacity Mounted on\n/dev/wd0a\t2000 100 1900 5% /\n",
       1, 1900, "/dev/wd0a\t2000 100 1900 5% /\n"},
      {"long device name on a line of its own",
       "Filesystem 1K-blocks Used Available Use% Mounted on\n/dev/mapper/vg-root\n"
       "   1000 400 600 40% /\n",
       0, 0, "/dev/mapper/vg-root\n"},
      {"no avail column", "Filesystem Size Used\n/dev/hda1 1000 400\n", 0, 0, ""},
      {"header only", "Filesystem 1K-blocks Used Available Use% Mounted on\n", 0, 0, ""},
      {"no output", "", 0, 0, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    WriteText(out, c.output);
    DiskSpaceInfo info;
    memset(&info, 'x', sizeof info);
    EXPECT_EQ(GetDiskSpace("/a path/it's", &info), c.found);
    EXPECT_EQ(info.dAvail, c.avail);
    EXPECT_STREQ(info.szLine, c.line);
    EXPECT_EQ(ReadText(args), "/a path/it's\n");   // one word, unchanged
  }
}

TEST_F(CaptureTest, DiskUsageAndAvailSpace) {
  // du answers 1234 for any path; df answers 600 free, except that it has no
  // figures for a directory named "nofs" (its parent is measured instead).
  Script(bin_, "du", "printf '1234\\t%s\\n' \"$2\"\n");
  Script(bin_, "df",
         "case \"$1\" in */nofs) echo 'Filesystem Size';;\n"
         "*) echo 'Filesystem 1K-blocks Used Available Use% Mounted on'\n"
         "   echo '/dev/hda1 1000 400 600 40% /';; esac\n");
  Point(CMD_DU, bin_);
  Point(CMD_DF, bin_);
  EXPECT_EQ(DUPath("/x"), 1234);
  WriteText(dir_ + "/old.tar", "x");
  MakeDir("nofs");
  struct Case {
    const char *dir;   // under the temporary directory
    const char *name;
    double needed;
    int fits;
  };
  const Case cases[] = {
      {"", "old.tar", 1834, 1}, {"", "old.tar", 1835, 0},   // the old file's space counts
      {"", "missing", 601, 0},  {"", nullptr, 600, 1},
      {"/nofs", nullptr, 600, 1}, {"/nofs", nullptr, 601, 0},
      {"/nofs/nofs", nullptr, 600, 1},                       // up until a parent has figures
      {"/nofs/nofs", nullptr, 601, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.dir) + " " + (c.name ? c.name : "(null)") + " " +
                 std::to_string(c.needed));
    EXPECT_EQ(AvailSpace((dir_ + c.dir).c_str(), c.name, c.needed), c.fits);
  }
  Script(bin_, "du", "exit 1\n");
  EXPECT_EQ(DUPath("/x"), 0);

  // No file system answers: the walk up stops at "/" (or "." for a relative
  // path) and nothing fits but nothing at all.
  const std::string asked = dir_ + "/df.asked";
  Script(bin_, "df", "printf '%s\\n' \"$1\" >> '" + asked + "'\necho 'Filesystem Size'\n");
  struct Walk {
    const char *dir;
    double needed;
    int fits;
    const char *asked;
  };
  const Walk walks[] = {
      {"/a/b", 1, 0, "/a/b\n/a\n/\n"},
      {"/a/b", 0, 1, "/a/b\n/a\n/\n"},
      {"a/b", 0, 1, "a/b\na\n.\n"},
  };
  for (const Walk &w : walks) {
    SCOPED_TRACE(w.dir);
    unlink(asked.c_str());
    EXPECT_EQ(AvailSpace(w.dir, nullptr, w.needed), w.fits);
    EXPECT_EQ(ReadText(asked), w.asked);
  }
}

TEST_F(CaptureTest, RealDfAndDu) {
  flInitSysCmd = 1;
  ComList[CMD_DF].pPath = nullptr;
  ComList[CMD_DU].pPath = nullptr;
  FullSearchPath = SaveStr("%s", SearchPaths);
  DiskSpaceInfo tmp, sub;
  ASSERT_EQ(GetDiskSpace("/tmp", &tmp), 1);
  EXPECT_GT(tmp.dAvail, 0);
  EXPECT_NE(tmp.szLine[0], '\0');
  ASSERT_EQ(GetDiskSpace(dir_.c_str(), &sub), 1);
  // The same file system (its figures may move between the two runs).
  EXPECT_EQ(std::string(sub.szLine).substr(0, strcspn(sub.szLine, " \t")),
            std::string(tmp.szLine).substr(0, strcspn(tmp.szLine, " \t")));
  WriteText(dir_ + "/big", std::string(256 * 1024, 'x'));
  EXPECT_GE(DUPath(dir_.c_str()), 256);
}

TEST_F(CaptureTest, DirectoryListings) {
  const std::string empty = MakeDir("empty");
  MemHolder list(GetDirFileList(empty.c_str()));
  ASSERT_NE(list.get(), nullptr);
  EXPECT_STREQ(list.str(), " . .. ");
  EXPECT_EQ(GetDirFileList((dir_ + "/missing").c_str()), nullptr);
  EXPECT_EQ(ReadDir(nullptr), nullptr);

  const std::string ppd = MakeDir("ppd");
  for (const char *f : {"a.ppd", "b.x.ppd", "ppd", "a.PPD", "c.txt", "d."}) WriteText(ppd + "/" + f, "");
  MakeDir("ppd/sub.ppd");
  struct Case {
    const char *ext;
    std::vector<std::string> names;   // empty: null result
  };
  const Case cases[] = {
      {"ppd", {"a.ppd", "b.x.ppd", "sub.ppd"}},
      {"PPD", {"a.PPD"}},
      {"txt", {"c.txt"}},
      {"zzz", {}},
      {nullptr, {"a.PPD", "a.ppd", "b.x.ppd", "c.txt", "d.", "ppd", "sub.ppd"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.ext != nullptr ? c.ext : "(null)");
    MemHolder found(SearchDirFileList(ppd.c_str(), c.ext));
    if (c.names.empty()) {
      EXPECT_EQ(found.get(), nullptr);
      continue;
    }
    ASSERT_NE(found.get(), nullptr);
    EXPECT_EQ(Items(found.str()), c.names);
    EXPECT_EQ(found.str()[0], ' ');
    EXPECT_EQ(found.str()[strlen(found.str()) - 1], ' ');
  }
  EXPECT_EQ(SearchDirFileList((dir_ + "/missing").c_str(), "ppd"), nullptr);
  MemHolder all(GetDirFileList(ppd.c_str()));
  EXPECT_EQ(Items(all.str()).size(), 9u);   // ".", ".." and seven names
}

}  // namespace
