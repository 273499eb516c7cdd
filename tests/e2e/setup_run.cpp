// End-to-end runs of the installer in the sandbox: new installations, the
// command line, upgrades with and without a move, a dangling link, the
// licence declined, "-v", broken distributions, space shortages, a user who
// is not root, the old-daemon question, running package programs, the
// languages, and the guards against unsafe words and a planted log link.
#include <regex>

#include "e2e.h"

namespace {

using e2e::Describe;
using e2e::Dist;
using e2e::Outcome;
using e2e::Invocation;
using e2e::RunSetup;

const std::string kEnglish = e2e::LicenceText("en_US.txt");
const std::string kAsked = kEnglish + " ";  // the licence and its question

// Standard output of a run that got past the licence: one dot per logged
// command, two for the administration tool, then a line end.
size_t count(const std::string &text, const std::string &what) {
  size_t n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

std::string dotsFor(const Outcome &o) { return std::string(e2e::LoggedCommands(o.log) + 2, '.') + "\n"; }

const std::string kInstalledFiles =
    Describe({"/usr/Tarnu", "/usr/Tarnu/tpxx", "/usr/Tarnu/tpxx/tpqadmin", "/usr/Tarnu/tpxx/tprint",
              "/usr/Tarnu/tpxx/tprtpxxtty", "/usr/Tarnu/tpxx/tsf", "/usr/Tarnu/tpxx/driver",
              "/usr/Tarnu/tpxx/.tp_cfg", "/usr/Tarnu/tpxx/TarnuPrinttpxx",
              "/usr/Tarnu/tpxx/v4DriverScript", "/usr/Tarnu/tpxx/TarnuTSF", "/usr/Tarnu/tpxx/spool",
              "/usr/Tarnu/tpxx/log/tpqadmin.log", "/var/spool/Tarnu",
              "/var/spool/Tarnu/tpxx/__tpa_download__", "/var/spool/Tarnu/tpxx/queues",
              "/usr/bin/tprint", "/usr/bin/tpqadmin", "/tmp/TarnuInstall"});

class SetupRun : public e2e::SetupTest {
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
  Outcome run(const Invocation &r) { return RunSetup(dist().path(), r); }
};

TEST_F(SetupRun, NewInstallationAtUsr) {
  Invocation r;
  r.keepUpper = true;
  r.after = kInstalledFiles + "cat /usr/Tarnu/tpxx/.tp_cfg; echo; cat /usr/Tarnu/tpxx/tpd.conf;"
                              "cat /usr/Tarnu/tpxx/log/tpqadmin.log; ls /tmp";
  Outcome o = run(r);
  ASSERT_EQ(o.sandboxStatus, 0) << o.sandboxErr;
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(o.out, kAsked + dotsFor(o));
  ASSERT_TRUE(o.hasLog);
  EXPECT_EQ(o.log.rfind("initializing system\n/usr/bin/sh -c \"/usr/bin/cp -p /dist/disks /tmp/TarnuInstall\n", 0), 0u)
      << o.log;
  for (const char *line :
       {"/usr/bin/sh -c \"/usr/bin/tar xvfp /tmp/TarnuInstall/Linuxi386Tpxx.tar\n",
        "/usr/bin/sh -c \"/usr/bin/mkdir -p /usr/Tarnu/tpxx\n",
        "/usr/bin/sh -c \"/usr/bin/chmod  755 /usr/Tarnu/tpxx\n",
        "/usr/bin/sh -c \"/usr/bin/chmod  775 /var/spool/Tarnu\n",
        "/usr/bin/sh -c \"/usr/bin/chmod  777 /var/spool/Tarnu/tpxx/__tpa_download__\n",
        "/usr/bin/sh -c \"/usr/bin/chmod  4755 /usr/Tarnu/tpxx/tsf\n",
        "/usr/bin/sh -c \"/usr/bin/rm -rf  /tmp/TarnuInstall\n"})
    EXPECT_NE(o.log.find(line), std::string::npos) << line;
  EXPECT_EQ(o.report,
            "drwxr-xr-x root:root '/usr/Tarnu'\n"
            "drwxr-xr-x root:root '/usr/Tarnu/tpxx'\n"
            "-rwxr-xr-x root:root '/usr/Tarnu/tpxx/tpqadmin'\n"
            "-rwxr-xr-x root:root '/usr/Tarnu/tpxx/tprint'\n"
            "-rwsr-xr-x root:root '/usr/Tarnu/tpxx/tprtpxxtty'\n"
            "-rwsr-xr-x root:root '/usr/Tarnu/tpxx/tsf'\n"
            "-rwxr-xr-x root:root '/usr/Tarnu/tpxx/driver'\n"
            "-rw-r--r-- root:root '/usr/Tarnu/tpxx/.tp_cfg'\n"
            "-rwxr-xr-x root:root '/usr/Tarnu/tpxx/TarnuPrinttpxx'\n"
            "-rwxr-xr-x root:root '/usr/Tarnu/tpxx/v4DriverScript'\n"
            "-rwxr-xr-x root:root '/usr/Tarnu/tpxx/TarnuTSF'\n"
            "drwxrwxrwx root:root '/usr/Tarnu/tpxx/spool'\n"
            "-rw-rw-rw- root:root '/usr/Tarnu/tpxx/log/tpqadmin.log'\n"
            "drwxrwxr-x root:root '/var/spool/Tarnu'\n"
            "drwxrwxrwx root:root '/var/spool/Tarnu/tpxx/__tpa_download__'\n"
            "lrwxrwxrwx root:root '/var/spool/Tarnu/tpxx/queues' -> '/usr/Tarnu/tpxx/spool'\n"
            "-rwxr-xr-x root:root '/usr/bin/tprint'\n"
            "-rwxr-xr-x root:root '/usr/bin/tpqadmin'\n"
            "missing /tmp/TarnuInstall\n"
            " BSD \n"
            "# Tarnu print daemon settings\n"
            "ToolPath=/usr/Tarnu/tpxx\n"
            "Version=4.10.43\n"
            "SpoolDir=/var/spool/Tarnu/tpxx\n"
            "tpqadmin: queue settings brought up to date\n"
            "tpqadmin: stale queue files removed\n"
            "setup.log\n");
  // Outside /tmp the run wrote the installation and nothing else.
  std::regex allowed("^/(usr(/Tarnu.*|/bin(/tprint|/tpqadmin)?|/share(/doc(/tarnu-doc.*)?)?)?|"
                     "var(/spool(/Tarnu.*)?)?)$");
  std::istringstream written(o.written);
  for (std::string path; std::getline(written, path);)
    EXPECT_TRUE(std::regex_match(path, allowed)) << path;
}

TEST_F(SetupRun, BaseAndWorkAreaOnTheCommandLine) {
  Invocation r;
  r.args = {"/srv/work/", "/opt/Tarnu/tpxx"};
  r.after = Describe({"/opt/Tarnu", "/opt/Tarnu/tpxx/tprint", "/usr/Tarnu", "/usr/Tarnu/tpxx",
                      "/srv/work", "/srv/work/TarnuInstall", "/tmp/TarnuInstall"}) +
            "cat /usr/bin/tprint | tail -2";
  Outcome o = run(r);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(o.out, kAsked + dotsFor(o));
  EXPECT_NE(o.log.find("/usr/bin/sh -c \"/usr/bin/mkdir -p /srv/work\n"), std::string::npos);
  EXPECT_NE(o.log.find("/usr/bin/sh -c \"/usr/bin/cp -p /dist/disks /srv/work/TarnuInstall\n"),
            std::string::npos);
  EXPECT_NE(o.log.find("/usr/bin/sh -c \"/usr/bin/ln  -s /opt/Tarnu/tpxx /usr/Tarnu/tpxx\n"),
            std::string::npos);
  EXPECT_EQ(o.report,
            "drwxr-xr-x root:root '/opt/Tarnu'\n"
            "-rwxr-xr-x root:root '/opt/Tarnu/tpxx/tprint'\n"
            "drwxrwxr-x root:root '/usr/Tarnu'\n"
            "lrwxrwxrwx root:root '/usr/Tarnu/tpxx' -> '/opt/Tarnu/tpxx'\n"
            "drwxr-xr-x root:root '/srv/work'\n"
            "missing /srv/work/TarnuInstall\n"
            "missing /tmp/TarnuInstall\n"
            "cd /opt/Tarnu/tpxx\n"
            "exec /opt/Tarnu/tpxx/tprint $*\n");
}

// A first installation made inside the sandbox before the run under test.
std::string installFirst(const std::string &args = "") {
  return "printf 'y\\n' | /dist/setup " + args + " >/dev/null 2>&1 || echo first run failed\n"
         "echo marker >/usr/Tarnu/tpxx/kept-by-upgrade\n";
}

TEST_F(SetupRun, UpgradeToTheSameBase) {
  Invocation r;
  r.before = installFirst();
  r.after = Describe({"/usr/Tarnu/tpxx", "/usr/Tarnu/tpxx/kept-by-upgrade", "/usr/Tarnu/tpxx/tsf",
                      "/usr/Tarnu/tpxx/fonts/courier.fnt"}) +
            "wc -l </usr/Tarnu/tpxx/log/tpqadmin.log";
  Outcome o = run(r);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(o.out, kAsked + dotsFor(o));
  EXPECT_EQ(o.log.find("mv -f -f"), std::string::npos) << "an upgrade in place moves nothing";
  EXPECT_EQ(o.log.find("__tpa_download__"), std::string::npos) << "no spool directories on an upgrade";
  // The package list runs before the printing-subsystem file is rewritten.
  EXPECT_NE(o.log.find("/usr/bin/sh -c \"/usr/bin/cp -p /tmp/TarnuInstall/pkg/tpqadmin /usr/Tarnu/tpxx\n"),
            std::string::npos);
  EXPECT_EQ(o.report,
            "drwxr-xr-x root:root '/usr/Tarnu/tpxx'\n"
            "-rw-r--r-- root:root '/usr/Tarnu/tpxx/kept-by-upgrade'\n"
            "-rwsr-xr-x root:root '/usr/Tarnu/tpxx/tsf'\n"
            "-rw-r--r-- root:root '/usr/Tarnu/tpxx/fonts/courier.fnt'\n"
            "4\n");
}

TEST_F(SetupRun, UpgradeThatMovesTheBase) {
  struct Case {
    const char *first;   // arguments of the first installation
    const char *second;  // arguments of the upgrade
    const char *report;
    const char *logLine;
  };
  const Case cases[] = {
      {"", "/tmp /opt",
       "lrwxrwxrwx root:root '/usr/Tarnu/tpxx' -> '/opt/Tarnu/tpxx'\n"
       "-rw-r--r-- root:root '/opt/Tarnu/tpxx/kept-by-upgrade'\n"
       "drwxr-xr-x root:root '/opt/Tarnu'\n",
       "/usr/bin/sh -c \"/usr/bin/mv -f -f /usr/Tarnu/tpxx /opt/Tarnu\n"},
      // The moved directory keeps the mode it was made with under /opt.
      {"/tmp /opt", "/tmp /usr",
       "drwxrwxr-x root:root '/usr/Tarnu/tpxx'\n"
       "missing /opt/Tarnu/tpxx/kept-by-upgrade\n"
       "drwxr-xr-x root:root '/opt/Tarnu'\n",
       "/usr/bin/sh -c \"/usr/bin/mv -f -f /opt/Tarnu/tpxx /usr/Tarnu\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.second);
    Invocation r;
    r.before = installFirst(c.first);
    std::istringstream words(c.second);
    for (std::string w; words >> w;) r.args.push_back(w);
    r.after = Describe({"/usr/Tarnu/tpxx", "/opt/Tarnu/tpxx/kept-by-upgrade", "/opt/Tarnu"});
    Outcome o = run(r);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.out, kAsked + dotsFor(o));
    EXPECT_NE(o.log.find(c.logLine), std::string::npos) << o.log;
    EXPECT_EQ(o.report, c.report);
  }
}

TEST_F(SetupRun, DanglingLinkMakesANewInstallation) {
  Invocation r;
  r.before = "mkdir -p /usr/Tarnu && ln -s /nowhere/Tarnu/tpxx /usr/Tarnu/tpxx";
  r.after = Describe({"/usr/Tarnu/tpxx", "/var/spool/Tarnu/tpxx/__tpa_download__"});
  Outcome o = run(r);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(o.out, kAsked + dotsFor(o));
  EXPECT_EQ(o.log.rfind("initializing system\n/usr/bin/sh -c \"/usr/bin/rm -f /usr/Tarnu/tpxx\n", 0), 0u)
      << o.log;
  EXPECT_EQ(o.report,
            "drwxr-xr-x root:root '/usr/Tarnu/tpxx'\n"
            "drwxrwxrwx root:root '/var/spool/Tarnu/tpxx/__tpa_download__'\n");
}

TEST_F(SetupRun, LicenceDeclined) {
  struct Case {
    const char *input;
    bool noInput;
  };
  const Case cases[] = {{"n\n", false}, {"\n", false}, {"", false}, {"", true}, {"no\ny\n", false}};
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.input)) + (c.noInput ? " /dev/null" : ""));
    Invocation r;
    r.input = c.input;
    r.noInput = c.noInput;
    r.args = {"/srv/work", "/opt"};
    r.keepUpper = true;
    r.after = "ls -A /tmp";
    Outcome o = run(r);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, kAsked);
    EXPECT_EQ(o.err, "");
    EXPECT_FALSE(o.hasLog);
    EXPECT_EQ(o.written, "");
    EXPECT_EQ(o.report, "");
  }
}

TEST_F(SetupRun, VersionAfterTheLicence) {
  Invocation r;
  r.args = {"-v"};
  r.keepUpper = true;
  Outcome o = run(r);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, kAsked);
  EXPECT_EQ(o.err, "setup 4.10.43\n");
  EXPECT_EQ(o.log, "initializing system\n");
  EXPECT_EQ(o.written, "");

  r.input = "n\n";
  o = run(r);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, kAsked);
  EXPECT_EQ(o.err, "");
}

TEST_F(SetupRun, BrokenDistributions) {
  struct Case {
    std::vector<std::string> options;
    int status;
    std::string out;
    std::string err;
  };
  const Case cases[] = {
      {{"--no-disks"}, 1, kAsked, "ERROR: can't open file, TarnuInstall/disks\n"},
      {{"--no-isize"}, 1,
       kAsked + "Could not determine how much space needed for install, missing isize.\n", ""},
      {{"--no-tsize"}, 1,
       kAsked + "Could not determine how much space needed for install, missing isize.\n", ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.options));
    Dist d(c.options);
    ASSERT_TRUE(d.ok());
    Invocation r;
    r.after = Describe({"/usr/Tarnu"});
    Outcome o = RunSetup(d.path(), r);
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.out, c.out);
    EXPECT_EQ(o.err, c.err);
    EXPECT_EQ(o.report, "missing /usr/Tarnu\n");
  }
}

TEST_F(SetupRun, UpperCaseMediaAndGzipData) {
  for (const std::vector<std::string> &options :
       {std::vector<std::string>{"--upper", "--piece-size", "1K"}, {"--gzip"}}) {
    SCOPED_TRACE(testing::PrintToString(options));
    Dist d(options);
    ASSERT_TRUE(d.ok());
    Invocation r;
    r.after = Describe({"/usr/Tarnu/tpxx/tprint"});
    Outcome o = RunSetup(d.path(), r);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.out, kAsked + dotsFor(o));
    EXPECT_EQ(o.report, "-rwxr-xr-x root:root '/usr/Tarnu/tpxx/tprint'\n");
  }
}

TEST_F(SetupRun, SpaceShortage) {
  const std::string mounts =
      "mkdir -p /srv/small /srv/tiny && mount -t tmpfs -o size=1M tmpfs /srv/small && "
      "mount -t tmpfs -o size=16k tmpfs /srv/tiny\n";
  struct Case {
    std::vector<std::string> options;
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"--tsize", "5000"}, {"/srv/small"},
       "There isn't enough space in /srv/small/TarnuInstall to perform the installation "
       "activities. The temporary work area should be at least 5.040000e+03 bytes. Restart the "
       "installation procedure using a work area that has enough space. \nie: 1. Use "
       "/new_work_area_path in place of /tmp\n    2. Run `setup /new_work_area_path`\n"},
      {{"--tsize", "5000", "--isize", "5000"}, {"/srv/small", "/srv/small"},
       "There isn't enough space to perform the installation activities. As you are using a "
       "working directory, /srv/small/TarnuInstall on the same partition as the install "
       "directory you have selected, /srv/small this install requires 1.008000e+04 bytes free. "
       "Please re-run the install specifing a different location for a working directory or "
       "install directory. Please see the readme if you need help with the syntax."},
      {{"--isize", "5000"}, {"/tmp", "/srv/small"},
       "There isn't enough space in /srv/small to perform the installation activities. The "
       "install area should be at least 5.040000e+03 bytes. Restart the installation procedure "
       "using an install area that has enough space. \nie: 1. Use /new_install_path in place of "
       "the default location\n    2. Run 'setup install /new_install_path'\n"},
      // A base that does not exist yet is measured as "/": two file systems.
      {{"--isize", "5000", "--tsize", "5000"}, {"/srv/small", "/srv/small/base"},
       "There isn't enough space in /srv/small/TarnuInstall to perform the installation "
       "activities. The temporary work area should be at least 5.040000e+03 bytes. Restart the "
       "installation procedure using a work area that has enough space. \nie: 1. Use "
       "/new_work_area_path in place of /tmp\n    2. Run `setup /new_work_area_path`\n"},
      {{}, {"/tmp", "/srv/tiny"},
       "There isn't enough space in /srv/tiny to perform the installation activities. Its file "
       "system must have more than 17 free.\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Dist d(c.options);
    ASSERT_TRUE(d.ok());
    Invocation r;
    r.before = mounts;
    r.args = c.args;
    r.after = "ls -A /srv/small /srv/tiny; " + Describe({"/usr/Tarnu"});
    Outcome o = RunSetup(d.path(), r);
    EXPECT_EQ(o.status, 1);   // nothing installed: not a success
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.out, kAsked + c.message);
    EXPECT_EQ(o.log, "initializing system\n");
    EXPECT_EQ(o.report, "/srv/small:\n\n/srv/tiny:\nmissing /usr/Tarnu\n");
  }
}

TEST_F(SetupRun, UserWhoIsNotRoot) {
  Invocation r;
  r.before = "printf '#!/bin/sh\\necho alice\\n' >/usr/sbin/whoami && chmod 755 /usr/sbin/whoami";
  r.after = Describe({"/usr/Tarnu", "/tmp/TarnuInstall"});
  Outcome o = run(r);
  EXPECT_EQ(o.status, 0);
  size_t copies = e2e::LoggedCommands(o.log) - 1;  // all but the clean-up
  EXPECT_EQ(o.out, kAsked + std::string(copies, '.') +
                       "alice is logged in\nYou must become root to run setup\n" + "...\n");
  EXPECT_EQ(o.err,
            "sh: 1: /usr/Tarnu/tpxx/tpqadmin: not found\nsh: 1: /usr/Tarnu/tpxx/tpqadmin: not found\n");
  EXPECT_EQ(o.log.find("tar xvfp"), std::string::npos);
  EXPECT_EQ(o.report, "missing /usr/Tarnu\nmissing /tmp/TarnuInstall\n");
}

TEST_F(SetupRun, OldDaemonQuestion) {
  const std::string question = "\nDo You want to continue with the installation? [yn] ";
  const std::string notice =
      "\nIf you currently have Tarnu printer software installed that uses TPrintD\nprint daemon, "
      "you must delete all your Tarnu print queues prior to installing\nthis package.\n\nNOTE: "
      "TPrintD is located in <install directory>/Tarnu/tpxx\n";
  struct Case {
    const char *answers;  // after the licence
    int asked;
    bool goesOn;
    const char *rc2;  // what is left in /etc/rc2.d
  };
  const Case cases[] = {
      {"Y\ny\n", 2, true, "KTarnuPrintD\nSTarnuPrintD\n"},
      {"\nn\n", 2, true, ""},
      {"no\n", 1, false, "KTarnuPrintD\nSTarnuPrintD\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.answers)));
    Invocation r;
    r.before = installFirst() +
               "touch /usr/Tarnu/tpxx/TPrintD && mkdir -p /etc/rc2.d && "
               "touch /etc/rc2.d/KTarnuPrintD /etc/rc2.d/STarnuPrintD";
    r.input = std::string("y\n") + c.answers;
    r.after = "ls /etc/rc2.d | grep TarnuPrintD; wc -l </usr/Tarnu/tpxx/log/tpqadmin.log";
    Outcome o = run(r);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.err, "");
    std::string asked;
    for (int i = 0; i < c.asked; ++i) asked += question;
    size_t copies = count(o.log, "/usr/bin/cp -p /dist/");
    if (c.goesOn) {
      EXPECT_EQ(o.out, kAsked + std::string(copies, '.') + notice + asked +
                           std::string(e2e::LoggedCommands(o.log) - copies + 2, '.') + "\n");
      EXPECT_EQ(o.report, std::string(c.rc2) + "4\n");
    } else {
      EXPECT_EQ(o.out, kAsked + std::string(copies, '.') + notice + asked);
      EXPECT_EQ(o.report, std::string(c.rc2) + "2\n");
    }
  }
}

// A program of the package running during an upgrade: a copy of sleep
// named tprint, started before setup.
const std::string kRunningTprint =
    "cp /bin/sleep /tmp/tprint && (/tmp/tprint 300 </dev/null >/dev/null 2>&1 &)\n";

const std::string kMenuHead =
    "\nThe following processes are running.\nThe installer can not continue until these "
    "terminate:\n";
const std::string kMenuTail =
    "\nWould you like to:\n1.  Wait 30 seconds for these processes to terminate\n2.  Quit the "
    "installation\n\nEnter a selection:  ";

TEST_F(SetupRun, RunningProgramQuit) {
  for (const char *answer : {"2\n", "x\n2\n"}) {
    SCOPED_TRACE(testing::PrintToString(std::string(answer)));
    Invocation r;
    r.before = installFirst() + kRunningTprint;
    r.input = std::string("y\n") + answer;
    r.after = "wc -l </usr/Tarnu/tpxx/log/tpqadmin.log";
    Outcome o = run(r);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.err, "");
    std::regex menu("\\n.*\\n.*\\ntprint \\( [0-9]+ \\)\\n\\nWould you like to:\\n[^]*");
    std::string shown = o.out.substr(std::min(kAsked.size(), o.out.size()));
    size_t times = 0;
    for (size_t p = shown.find(kMenuTail); p != std::string::npos; p = shown.find(kMenuTail, p + 1)) ++times;
    EXPECT_EQ(times, std::string(answer) == "x\n2\n" ? 2u : 1u);
    EXPECT_EQ(o.out.rfind(kAsked + kMenuHead + "tprint ( ", 0), 0u) << o.out;
    EXPECT_TRUE(std::regex_match(shown, menu)) << shown;
    EXPECT_EQ(o.log, "initializing system\n");
    EXPECT_EQ(o.report, "2\n");
  }
}

TEST_F(SetupRun, RunningProgramWait) {
  // "1" waits 30 seconds while the program keeps running, then shows the
  // menu again; the program ends during the second wait and the upgrade goes
  // on. It ends 55 seconds from the start, so the first wait is over even
  // when a busy machine takes 20 seconds to reach the question.
  Invocation r;
  r.before = installFirst() + kRunningTprint +
             "(sleep 55; pkill -x tprint) </dev/null >/dev/null 2>&1 &\n";
  r.input = "y\n1\n1\n";
  r.after = "wc -l </usr/Tarnu/tpxx/log/tpqadmin.log";
  auto start = std::chrono::steady_clock::now();
  Outcome o = run(r);
  auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err, "");
  EXPECT_GE(seconds, 55);
  EXPECT_LT(seconds, 150);
  size_t times = 0;
  for (size_t p = o.out.find(kMenuTail); p != std::string::npos; p = o.out.find(kMenuTail, p + 1)) ++times;
  EXPECT_EQ(times, 2u);
  EXPECT_EQ(o.out.substr(o.out.size() - dotsFor(o).size()), dotsFor(o));
  EXPECT_EQ(o.report, "4\n");
}

TEST_F(SetupRun, Languages) {
  Dist d({"--no-isize"});
  ASSERT_TRUE(d.ok());
  const std::string english65 = "Could not determine how much space needed for install, missing isize.\n";
  const std::string german65 =
      "Der für die Installation nötige Platz kann nicht ermittelt werden, isize fehlt.\n";
  struct Case {
    const char *lang;
    const char *licence;
    std::string message;
  };
  const Case cases[] = {
      {"LANG=de_DE.UTF-8", "de_DE.txt", english65},
      {"LANG=ge_GE", "de_DE.txt", german65},
      {"LANG=sv_FI", "fi_FI.txt", english65},
      {"LANG=POSIX", "en_US.txt", english65},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.lang);
    Invocation r;
    r.env = {c.lang};
    Outcome o = RunSetup(d.path(), r);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, e2e::LicenceText(c.licence) + " " + c.message);
    EXPECT_EQ(o.err, "");
  }
  // The licence answer is "y" in every language.
  Invocation r;
  r.env = {"LANG=ge_GE"};
  r.input = "j\n";
  Outcome o = RunSetup(d.path(), r);
  EXPECT_EQ(o.out, e2e::LicenceText("de_DE.txt") + " ");
  EXPECT_FALSE(o.hasLog);
}

TEST_F(SetupRun, UnsafeWordsAreRefusedBeforeAnythingIsMade) {
  struct Case {
    std::vector<std::string> args;
    std::string program;
    std::string err;
  };
  const Case cases[] = {
      {{"/srv/w$(touch /pwned)"}, "/dist/setup",
       "ERROR: the work-area directory \"/srv/w$(touch /pwned)\" is empty or holds a "
       "character other than letters, digits and ._-/+,:@%= and cannot be used\n"},
      {{"/tmp", "/opt/x\";touch /pwned;\""}, "/dist/setup",
       "ERROR: the installation directory \"/opt/x\";touch /pwned;\"\" is empty or holds a "
       "character other than letters, digits and ._-/+,:@%= and cannot be used\n"},
      {{}, "/srv/my dist/setup",
       "ERROR: the directory of setup \"/srv/my dist\" is empty or holds a character other "
       "than letters, digits and ._-/+,:@%= and cannot be used\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.err);
    Invocation r;
    r.before = "mkdir -p '/srv/my dist' && cp -p /dist/* '/srv/my dist/'";
    r.args = c.args;
    r.program = c.program;
    r.after =
        "for p in /pwned /tmp/TarnuInstall /usr/Tarnu /opt/x /opt/Tarnu; do "
        "if [ -e \"$p\" ]; then echo made $p; fi; done; ls /srv";
    Outcome o = run(r);
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.out, kAsked);
    EXPECT_EQ(o.err, c.err);
    EXPECT_EQ(o.report, "my dist\n");
  }
}

TEST_F(SetupRun, UnsafeNameInTheDiskListIsNotCopied) {
  Invocation r;
  r.before =
      "mkdir -p /srv/d && cp -p /dist/* /srv/d/ && "
      "printf 'disks\\nx$(touch${IFS}/pwned)\\nend_of_list\\n' >/srv/d/disks";
  r.program = "/srv/d/setup";
  r.after = "cat /srv/d/disks; ls /pwned 2>&1; ls /tmp/TarnuInstall";
  Outcome o = run(r);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(o.out, kAsked + ".ERROR: the disk list names \"x$(touch${IFS}/pwned)\", which cannot "
                            "be copied safely\n");
  EXPECT_EQ(o.report,
            "disks\nx$(touch${IFS}/pwned)\nend_of_list\n"
            "ls: cannot access '/pwned': No such file or directory\n"
            "disks\n");
}

TEST_F(SetupRun, DecompressionOutputAndAPlantedLogLink) {
  // A corrupt first piece (with checksums that match it) makes the
  // decompression tools complain; their
  // complaints belong in /tmp/setup.log. Invoked under another name, the
  // run's own log is /tmp/tsetup.log, and a link planted at /tmp/setup.log
  // must not carry the complaints into the file it points to.
  const std::string copy =
      "mkdir -p /srv/d && cp -p /dist/* /srv/d/ && echo garbage >/srv/d/pkg_tar.001 && "
      "(cd /srv/d && sha256sum pkg_tar.* >sums)\n";
  Invocation r;
  r.before = copy;
  r.program = "/srv/d/setup";
  Outcome o = run(r);
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.log.find("not in gzip format"), std::string::npos) << o.log;
  EXPECT_NE(o.out.find("ERROR: "), std::string::npos) << o.out;

  r.before = copy +
             "mv /srv/d/setup /srv/d/tsetup && echo precious >/etc/victim && "
             "ln -s /etc/victim /tmp/setup.log";
  r.program = "/srv/d/tsetup";
  r.after = "cat /etc/victim; " + Describe({"/tmp/setup.log"}) + "head -1 /tmp/tsetup.log";
  o = run(r);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.report,
            "precious\n"
            "lrwxrwxrwx root:root '/tmp/setup.log' -> '/etc/victim'\n"
            "initializing system\n");
}

}  // namespace
