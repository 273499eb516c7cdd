// End-to-end runs of the installer's command line and disk list: the usage
// for -h and --help, refused options and relative directories, and a disk
// list whose words are separated by tabs.
#include <algorithm>

#include "e2e.h"

namespace {

using e2e::Dist;
using e2e::Invocation;
using e2e::Outcome;
using e2e::RunSetup;

const std::string kUsage =
    "usage: setup [workdir] [installdir]\n"
    "       setup [workdir] install installdir\n"
    "       setup -v | -h | --help\n"
    "workdir: the absolute parent of the work area (default /tmp)\n"
    "installdir: the absolute installation base (default: the earlier one, else /usr)\n";

// The sample distribution, built once for all the runs of this file.
const Dist &dist() {
  static const Dist d;
  return d;
}

using CommandLineRun = e2e::SetupTest;

// Options are answered or refused before the licence (no question, no log),
// relative directories after it; nothing is made outside /tmp.
TEST_F(CommandLineRun, OptionsAndRelativeDirectories) {
  struct Case {
    std::vector<std::string> args;
    int status;
    bool asked;  // the licence was shown and the log begun
    std::string out, err;
  };
  const std::string relative = "\" is not an absolute path\n";
  const Case cases[] = {
      {{"--help"}, 0, false, kUsage, ""},
      {{"/srv/w", "/opt", "-h"}, 0, false, kUsage, ""},
      {{"/srv/w", "install", "-x"}, 2, false, "", "setup: unknown option -x\n" + kUsage},
      {{"install", "rel"}, 2, true, "", "ERROR: the installation directory \"rel" + relative},
      {{"/srv/w", "opt"}, 2, true, "", "ERROR: the installation directory \"opt" + relative},
      {{"work", "/opt"}, 2, true, "", "ERROR: the work-area directory \"work" + relative},
  };
  ASSERT_TRUE(dist().ok());
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Invocation r;
    r.args = c.args;
    r.cwd = "/var";
    r.keepUpper = true;
    Outcome o = RunSetup(dist().path(), r);
    ASSERT_EQ(o.sandboxStatus, 0) << o.sandboxErr;
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.hasLog, c.asked);
    EXPECT_EQ(c.asked ? c.out : o.out, c.out);
    EXPECT_EQ(o.err, c.err);
    EXPECT_EQ(o.written, "");
  }
}

// The join reads the disk list with the same separators as the copy: a
// list of tab-separated words installs like one word a line.
TEST_F(CommandLineRun, TabSeparatedDiskList) {
  ASSERT_TRUE(dist().ok());
  e2e::TempDir copy;
  const std::string dir = copy / "dist";
  e2e::fs::copy(dist().path(), dir, e2e::fs::copy_options::recursive);
  std::string list = e2e::ReadFile(dir + "/disks");
  ASSERT_NE(list.find("pkg_tar.001\n"), std::string::npos) << list;
  std::replace(list.begin(), list.end(), '\n', '\t');
  list.back() = '\n';  // "...\tend_of_list\n"
  e2e::WriteFile(dir + "/disks", list);
  Invocation r;
  r.after = e2e::Describe({"/usr/Tarnu/tpxx/tprint"});
  Outcome o = RunSetup(dir, r);
  ASSERT_EQ(o.sandboxStatus, 0) << o.sandboxErr;
  EXPECT_EQ(o.status, 0) << o.out << o.log;
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(o.report, "-rwxr-xr-x root:root '/usr/Tarnu/tpxx/tprint'\n");
}

}  // namespace
