// End-to-end runs of the installer's command line and disk list: the usage
// for -h and --help, refused options and relative directories (nothing made
// on the machine), and a disk list whose words are separated by tabs.
#include "e2e.h"

namespace {

using e2e::Dist;
using e2e::Invocation;
using e2e::Outcome;
using e2e::RunSetup;

const std::string kUsage =
    "usage: setup [workdir] [installdir]\n"
    "       setup [workdir] install installdir\n"
    "       setup -v | -h | --help\n";

class CommandLineRun : public e2e::SetupTest {
 protected:
  static Dist &dist() {
    static Dist d;
    return d;
  }
  void SetUp() override {
    e2e::SetupTest::SetUp();
    if (IsSkipped()) return;
    ASSERT_TRUE(dist().ok());
  }
};

// Options are answered or refused before the licence: no question, no log.
TEST_F(CommandLineRun, OptionsBeforeTheLicence) {
  struct Case {
    std::vector<std::string> args;
    int status;
    bool onOut;       // the usage on standard output, else on standard error
    std::string err;  // what standard error begins with
  };
  const Case cases[] = {
      {{"--help"}, 0, true, ""},
      {{"-h"}, 0, true, ""},
      {{"/srv/w", "/opt", "--help"}, 0, true, ""},
      {{"--bogus"}, 2, false, "setup: unknown option --bogus\n"},
      {{"/srv/w", "install", "-x"}, 2, false, "setup: unknown option -x\n"},
      {{"-"}, 2, false, "setup: unknown option -\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Invocation r;
    r.args = c.args;
    r.keepUpper = true;
    Outcome o = RunSetup(dist().path(), r);
    ASSERT_EQ(o.sandboxStatus, 0) << o.sandboxErr;
    EXPECT_EQ(o.status, c.status);
    const std::string &usage = c.onOut ? o.out : o.err;
    EXPECT_EQ(usage.rfind(c.err + kUsage, 0), 0u) << usage;
    EXPECT_EQ(c.onOut ? o.err : o.out, "");
    EXPECT_FALSE(o.hasLog);
    EXPECT_EQ(o.written, "");
  }
}

// A base or work-area parent must be absolute: refused with status 2 before
// a directory or the link /usr/Tarnu/tpxx is made.
TEST_F(CommandLineRun, RelativeDirectoriesAreRefused) {
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const Case cases[] = {
      {{"install", "relative"}, "ERROR: the installation directory \"relative\" is not an absolute path\n"},
      {{"/srv/w", "opt"}, "ERROR: the installation directory \"opt\" is not an absolute path\n"},
      {{"work", "/opt"}, "ERROR: the work-area directory \"work\" is not an absolute path\n"},
      {{"/srv/w", "/opt", "./w"}, "ERROR: the work-area directory \"./w\" is not an absolute path\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Invocation r;
    r.args = c.args;
    r.cwd = "/var";
    r.keepUpper = true;
    Outcome o = RunSetup(dist().path(), r);
    ASSERT_EQ(o.sandboxStatus, 0) << o.sandboxErr;
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err, c.err);
    EXPECT_EQ(o.written, "") << "nothing is made outside /tmp";
  }
}

// The join reads the disk list with the same separators as the copy: a
// list of tab-separated words installs like one word a line.
TEST_F(CommandLineRun, TabSeparatedDiskList) {
  e2e::TempDir copy;
  const std::string dir = copy / "dist";
  e2e::fs::copy(dist().path(), dir, e2e::fs::copy_options::recursive);
  std::string list = e2e::ReadFile(dir + "/disks");
  ASSERT_NE(list.find("pkg_tar.001\n"), std::string::npos) << list;
  for (char &ch : list)
    if (ch == '\n') ch = '\t';
  list.back() = '\n';  // "...\tend_of_list\n"
  e2e::WriteFile(dir + "/disks", list);
  Invocation r;
  r.after = e2e::Describe({"/usr/Tarnu/tpxx/tprint"});
  Outcome o = RunSetup(dir, r);
  ASSERT_EQ(o.sandboxStatus, 0) << o.sandboxErr;
  EXPECT_EQ(o.status, 0) << o.out << o.log;
  EXPECT_EQ(o.err, "");
  EXPECT_NE(o.log.find("/usr/bin/tar xvfp /tmp/TarnuInstall/Linuxi386Tpxx.tar\n"), std::string::npos);
  EXPECT_EQ(o.report, "-rwxr-xr-x root:root '/usr/Tarnu/tpxx/tprint'\n");
}

}  // namespace
