// Installer runs in the sandbox that exercise the package list and the
// scripts: the sample distribution, lists that use every command word and
// attribute with their exact results and log lines, the failure paths, the
// "checkps" menu, ".tp_cfg" on plain, LPRng and CUPS systems, and a second
// run over the first.
#include <sys/utsname.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <sstream>

#include "e2e.h"

namespace {

using e2e::Outcome;

constexpr char kApp[] = "/usr/Tarnu/tpxx";
constexpr char kPkg[] = "/tmp/TarnuInstall/pkg";

// Where the command table finds a command: the first directory of its search
// path that has it (the sandbox sees this machine's file system).
std::string CmdPath(const std::string &name) {
  for (const char *dir : {"/usr/sbin", "/usr/bin", "/bin", "/sbin", "/etc", "/usr/etc"}) {
    const std::string path = std::string(dir) + "/" + name;
    if (e2e::fs::exists(e2e::fs::symlink_status(path))) return path;
  }
  return name;
}

// The log line of a table command: sh, the opening quote, the command with
// its default options, the arguments.
std::string LogLine(const std::string &cmd, const std::string &flags, const std::string &args) {
  return CmdPath("sh") + " -c \"" + CmdPath(cmd) + " " + flags + " " + args + "\n";
}

// The log lines of the package list on a new installation: after the spool
// directories, before the final modes.
std::string PkgListPart(const std::string &log) {
  const std::string start = "777 /var/spool/Tarnu/tpxx/__tpa_download__\n";
  const size_t from = log.find(start);
  const size_t to = log.find("4755 /usr/Tarnu/tpxx/tprtpxxtty");
  if (from == std::string::npos || to == std::string::npos || to < from) return "(not found)";
  const size_t end = log.rfind('\n', to);
  return log.substr(from + start.size(), end + 1 - (from + start.size()));
}

// Every logged command prints one dot after the licence question, and so
// does each of the two runs of tpqadmin at the end.
void ExpectOneDotPerCommand(const Outcome &o) {
  const std::string asked = "disagree: ";
  const size_t at = o.out.rfind(asked);
  ASSERT_NE(at, std::string::npos) << o.out;
  EXPECT_EQ(o.out.substr(at + asked.size()), std::string(e2e::LoggedCommands(o.log) + 2, '.') + "\n");
}

bool ReleaseAtLeast(const char *word) {
  struct utsname name {};
  uname(&name);
  return strcmp(name.release, word) >= 0;
}

// The wrapper in /usr/bin after its banner (which ends with an empty line).
constexpr char kWrapperAfterBanner[] =
    "\nTPrintFileSourceDir=`pwd`\nexport TPrintFileSourceDir\n\ncd /usr/Tarnu/tpxx\n"
    "exec /usr/Tarnu/tpxx/%s $*\n";

std::string WrapperFor(const std::string &tool) {
  std::string text = kWrapperAfterBanner;
  text.replace(text.find("%s"), 2, tool);
  return text;
}

// Prints, for each path: mode, owner, group, kind and name, or "absent".
std::string StatScript(const std::vector<std::string> &paths) {
  std::string s = "cd /usr/Tarnu/tpxx\nfor f in";
  for (const auto &p : paths) s += " " + p;
  s += "; do if [ -e \"$f\" ] || [ -L \"$f\" ]; then stat -c '%a %U %G %F %n' \"$f\";"
       " else echo \"absent $f\"; fi; done\n";
  return s;
}

// A stand-in lpd that says it is LPRng, and the print-configuration tools
// directory of such systems.
const std::string kLprngLpd =
    "printf '#!/bin/sh\\necho \"lpd (LPRng) 3.8.28\"\\n' >/usr/sbin/lpd && chmod 755 /usr/sbin/lpd\n";
const std::string kLprngSystem = kLprngLpd + "mkdir -p /usr/share/printconf/util\n";
// A running process whose name is cupsd.
constexpr char kCupsdRunning[] = "cp /bin/sleep /tmp/cupsd && (/tmp/cupsd 600 &)\n";

class PkgListInstallTest : public e2e::SetupTest {
 protected:
  // A distribution of the sample package whose list is replaced by list.
  std::unique_ptr<e2e::Dist> DistWithList(const std::string &list) {
    tree_ = std::make_unique<e2e::Tree>();
    e2e::WriteFile(tree_->pkg("pkg.list"), list);
    auto dist = std::make_unique<e2e::Dist>(std::vector<std::string>{}, tree_->path());
    EXPECT_TRUE(dist->ok());
    return dist;
  }

  Outcome Install(const std::string &distDir, const std::string &after,
                  const std::string &before = "", const std::string &input = "y\n") {
    e2e::Invocation run;
    run.before = before;
    run.after = after;
    run.input = input;
    Outcome o = e2e::RunSetup(distDir, run);
    EXPECT_EQ(o.sandboxStatus, 0) << o.sandboxErr;
    return o;
  }

  std::unique_ptr<e2e::Tree> tree_;
};

TEST_F(PkgListInstallTest, SampleDistributionInstallsCleanly) {
  e2e::Dist dist;
  ASSERT_TRUE(dist.ok());
  const bool driver = ReleaseAtLeast("2.4");
  const Outcome o = Install(
      dist.path(),
      StatScript({"tpqadmin", "tprint", "tprtpxxtty", "tprtpxxtty.bin", "tsf", "driver",
                  "driver.unsupported", "tpd.conf", "tpd.conf.old", "fonts", "fonts/courier.fnt",
                  "log", "spool", "README", "f", "TarnuPrinttpxx", "v4DriverScript", "TarnuTSF",
                  ".tp_cfg", "/usr/share/doc/tarnu-doc/index.txt", "/usr/bin/tprint",
                  "/usr/bin/tpqadmin", "/var/spool/Tarnu/tpxx/queues"}) +
          "readlink /var/spool/Tarnu/tpxx/queues\ncat tpd.conf .tp_cfg; echo '|'\n"
          "mkdir -p /home/someone && cd /home/someone && /usr/bin/tprint a.ps 'b c.ps'\n"
          "for f in tprint tpqadmin; do sed '1,/^$/d' /usr/bin/$f; echo '|'; done\n"
          "head -1 /usr/bin/tprint; sed -n '2,/^$/p' /usr/bin/tprint | grep -vc '^#'\n");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err, "");
  const std::string driverLine = driver ? "755 root root regular file driver\nabsent driver.unsupported\n"
                                        : "absent driver\n0 root root regular empty file driver.unsupported\n";
  EXPECT_EQ(o.report,
            "755 root root regular file tpqadmin\n"
            "755 root root regular file tprint\n"
            "4755 root root regular file tprtpxxtty\n"
            "absent tprtpxxtty.bin\n"
            "4755 root root regular file tsf\n" +
                driverLine +
                "644 root root regular file tpd.conf\n"
                "absent tpd.conf.old\n"
                "755 root root directory fonts\n"
                "644 root root regular file fonts/courier.fnt\n"
                "775 root root directory log\n"
                "777 root root directory spool\n"
                "644 root root regular file README\n"
                "absent f\n"
                "755 root root regular file TarnuPrinttpxx\n"
                "755 root root regular file v4DriverScript\n"
                "755 root root regular file TarnuTSF\n"
                "644 root root regular file .tp_cfg\n"
                "644 root root regular file /usr/share/doc/tarnu-doc/index.txt\n"
                "755 root root regular file /usr/bin/tprint\n"
                "755 root root regular file /usr/bin/tpqadmin\n"
                "777 root root symbolic link /var/spool/Tarnu/tpxx/queues\n"
                "/usr/Tarnu/tpxx/spool\n"
                "# Tarnu print daemon settings\nToolPath=/usr/Tarnu/tpxx\nVersion=4.10.43\n"
                "SpoolDir=/var/spool/Tarnu/tpxx\n BSD |\n"
                "tprint: a.ps queued from /home/someone\n"
                // The wrapper passes $* unquoted: arguments are split again.
                "tprint: b queued from /home/someone\n"
                "tprint: c.ps queued from /home/someone\n" +
                // The wrappers after their banner of comment lines and one empty line.
                WrapperFor("tprint") + "|\n" + WrapperFor("tpqadmin") + "|\n#!/bin/sh\n1\n");
  const std::string app = kApp, pkg = kPkg;
  const std::string conditional =
      driver ? LogLine("cp", "-p", pkg + "/driver " + app) + LogLine("chmod", "", "755 " + app + "/driver") +
                   LogLine("chown", "", "-R root " + app + "/driver")
             : LogLine("touch", "", app + "/driver.unsupported");
  EXPECT_EQ(PkgListPart(o.log),
            LogLine("cp", "-p", pkg + "/tpqadmin " + app) +
                LogLine("chmod", "", "755 " + app + "/tpqadmin") +
                LogLine("chown", "", "-R root " + app + "/tpqadmin") +
                LogLine("chgrp", "", "-R root " + app + "/tpqadmin") +
                LogLine("cp", "-p", pkg + "/tprint " + app) +
                LogLine("chmod", "", "755 " + app + "/tprint") +
                LogLine("cp", "-p", pkg + "/tprtpxxtty.bin " + app) +
                LogLine("chmod", "", "755 " + app + "/tprtpxxtty.bin") +
                LogLine("mv", "-f", app + "/tprtpxxtty.bin " + app + "/tprtpxxtty") +
                LogLine("cp", "-p", pkg + "/tsf " + app) +
                LogLine("chmod", "", "755 " + app + "/tsf") + conditional +
                LogLine("cp", "-p", pkg + "/tpd.conf " + app) +
                LogLine("chmod", "", "644 " + app + "/tpd.conf") +
                LogLine("chgrp", "", "-R root " + app + "/tpd.conf") +
                LogLine("cp", "-pr", pkg + "/fonts " + app) +
                LogLine("chmod", "", "755 " + app + "/fonts") +
                LogLine("cp", "-pr", pkg + "/tarnu-doc /usr/share/doc") +
                LogLine("mkdir", "-p", app + "/log") + LogLine("chmod", "", "775 " + app + "/log") +
                LogLine("chmod", "", "775 " + app + "/log") +
                LogLine("mkdir", "-p", app + "/spool") + LogLine("chmod", "", "775 " + app + "/spool") +
                LogLine("chmod", "", "777 " + app + "/spool") +
                LogLine("ln", "", "-s " + app + "/spool /var/spool/Tarnu/tpxx/queues") +
                LogLine("touch", "", app + "/log/tpqadmin.log") +
                LogLine("chmod", "", "666 " + app + "/log/tpqadmin.log") +
                LogLine("cp", "-p", pkg + "/README " + app) +
                LogLine("chmod", "", "644 " + app + "/README"));
  ExpectOneDotPerCommand(o);
}

TEST_F(PkgListInstallTest, EveryWordAndAttribute) {
  auto dist = DistWithList(
      "c tpqadmin\nnewdir log\n"
      "t extra\n"
      "c extra mode 700\n"
      "c tprint mode 750 owner daemon group bin link /usr/bin/tp-link\n"
      "c tpd.conf mode 600 sed s/@VERSION@/9.9/ group bin\n"
      "c README name README.txt\n"
      "m nothing sed -e s/a/b/\n"
      "s nothing mode 777\n"
      "m README.txt sed -e 's/Tarnu/TARNU/g' -e 's/^/> /'\n"
      "# c tsf\n"
      "#abc driver mode 711\n"
      "v >= 0 v < ~ t both\n"
      "v < 0 t never\n"
      "v = 0\n"
      "dirto fonts /opt/fonts-copy\n"
      "newdir deep/er mode 750\n");
  const Outcome o = Install(
      dist->path(),
      StatScript({"extra", "tprint", "tpd.conf", "README", "README.txt", "nothing", "driver", "both",
                  "never", "deep", "deep/er", "/usr/bin/tp-link", "/opt/fonts-copy/courier.fnt"}) +
          "readlink /usr/bin/tp-link; grep Version tpd.conf; grep -c '^> ' README.txt; grep -c Tarnu README.txt\n");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(o.report,
            "700 root root regular empty file extra\n"
            "750 daemon bin regular file tprint\n"
            "644 root bin regular file tpd.conf\n"
            "absent README\n"
            "644 root root regular file README.txt\n"
            "absent nothing\n"
            "711 root root regular file driver\n"
            "644 root root regular empty file both\n"
            "absent never\n"
            "755 root root directory deep\n"
            "750 root root directory deep/er\n"
            "777 root root symbolic link /usr/bin/tp-link\n"
            "644 root root regular file /opt/fonts-copy/courier.fnt\n"
            "/usr/Tarnu/tpxx/tprint\n"
            "Version=9.9\n"
            "4\n0\n");
  const std::string app = kApp, pkg = kPkg;
  // The copy of an entry the package lacks only warns; its mode is still set.
  EXPECT_EQ(PkgListPart(o.log),
            LogLine("cp", "-p", pkg + "/tpqadmin " + app) + LogLine("mkdir", "-p", app + "/log") +
                LogLine("chmod", "", "775 " + app + "/log") + LogLine("touch", "", app + "/extra") +
                LogLine("cp", "-p", pkg + "/extra " + app) + CmdPath("cp") + ": cannot stat '" + pkg + "/extra': No such file or directory\n"
                "WARNING_MSG: exit status 1\n" +
                LogLine("chmod", "", "700 " + app + "/extra") +
                LogLine("cp", "-p", pkg + "/tprint " + app) +
                LogLine("chmod", "", "750 " + app + "/tprint") +
                LogLine("chown", "", "-R daemon " + app + "/tprint") +
                LogLine("chgrp", "", "-R bin " + app + "/tprint") +
                LogLine("ln", "", "-s " + app + "/tprint /usr/bin/tp-link") +
                LogLine("cp", "-p", pkg + "/tpd.conf " + app) +
                LogLine("chmod", "", "600 " + app + "/tpd.conf") +
                LogLine("chgrp", "", "-R bin " + app + "/tpd.conf") +
                LogLine("cp", "-p", pkg + "/README " + app) +
                LogLine("mv", "-f", app + "/README " + app + "/README.txt") +
                LogLine("cp", "-p", pkg + "/driver " + app) +
                LogLine("chmod", "", "711 " + app + "/driver") +
                LogLine("touch", "", app + "/both") +
                LogLine("cp", "-pr", pkg + "/fonts /opt/fonts-copy") +
                LogLine("mkdir", "-p", app + "/deep/er") +
                LogLine("chmod", "", "775 " + app + "/deep/er") +
                LogLine("chmod", "", "750 " + app + "/deep/er"));
  ExpectOneDotPerCommand(o);
}

TEST_F(PkgListInstallTest, FailingAttributeEndsTheRun) {
  auto dist = DistWithList("c tprint owner no-such-user-xyz\nt after\n");
  const Outcome o = Install(dist->path(), "ls /usr/Tarnu/tpxx/after 2>&1 | sed 's/.*: //'\n");
  EXPECT_EQ(o.status, 1);
  const std::string error = "ERROR: exit status 1\n";
  ASSERT_GE(o.out.size(), error.size());
  EXPECT_EQ(o.out.substr(o.out.size() - error.size()), error);
  EXPECT_EQ(o.report, "No such file or directory\n");
  const std::string tail = LogLine("chown", "", "-R no-such-user-xyz /usr/Tarnu/tpxx/tprint");
  EXPECT_NE(o.log.find(tail), std::string::npos) << o.log;
  ASSERT_GE(o.log.size(), error.size());
  EXPECT_EQ(o.log.substr(o.log.size() - error.size()), error);
}

TEST_F(PkgListInstallTest, RefusedLineAndTheRestGoesOn) {
  auto dist = DistWithList("c tpqadmin\nnewdir log\nc tprint mode \"700\"\nt after\n");
  const Outcome o = Install(dist->path(), StatScript({"tprint", "after"}));
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err,
            "WARNING: package list line refused, a word holds a double quote: c tprint mode \"700\"\n");
  EXPECT_EQ(o.report, "absent tprint\n644 root root regular empty file after\n");
}

TEST_F(PkgListInstallTest, CheckpsQuitsWhenTheUserSaysSo) {
  auto dist = DistWithList("t before\ncheckps tprint,tsf\nt after\n");
  const Outcome o = Install(dist->path(),
                            StatScript({"before", "after"}) +
                                "ls /tmp/TarnuInstall 2>&1 | sed 's/.*: //'\n",
                            "cp /bin/sleep /tmp/tprint && (/tmp/tprint 600 &)\n", "y\n2\n");
  EXPECT_EQ(o.status, 0);
  EXPECT_NE(o.out.find("The following processes are running.\n"
                       "The installer can not continue until these terminate:\ntprint ("),
            std::string::npos)
      << o.out;
  EXPECT_NE(o.out.find("2.  Quit the installation\n\nEnter a selection:  "), std::string::npos);
  // The list ends at once; the installer still cleans up its work area.
  EXPECT_EQ(o.report,
            "644 root root regular empty file before\nabsent after\nNo such file or directory\n");
}

TEST_F(PkgListInstallTest, CheckpsGoesOnWhenTheProgramsEnd) {
  auto dist = DistWithList("checkps tprint,tsf\nt after\n");
  // The program must still run when the list reaches "checkps", however
  // busy the machine, and end before the first check after the 5-second
  // wait that answer 1 asks for.
  const Outcome o = Install(
      dist->path(), StatScript({"after"}),
      "cp /bin/sleep /tmp/tsf && (/tmp/tsf 4 &)\n",
      "y\n1\n");
  EXPECT_EQ(o.status, 0);
  EXPECT_NE(o.out.find("tsf ("), std::string::npos) << o.out;
  EXPECT_EQ(o.report, "644 root root regular empty file after\n");
}

TEST_F(PkgListInstallTest, PrintingSubsystemFileAndLprngLink) {
  auto dist = DistWithList("t x\n");
  struct Case {
    const char *name;
    std::string before;
    const char *word;
    bool link;
  };
  const Case cases[] = {
      {"LPRng", kLprngSystem, " LPRng ", true},
      {"LPRng with cupsd", std::string(kLprngSystem) + kCupsdRunning, " CUPS ", true},
      {"cupsd alone", kCupsdRunning, " CUPS ", false},
      // LPRng, but no print-configuration tools directory to link into.
      {"LPRng without printconf", kLprngLpd, " LPRng ", false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome o = Install(dist->path(),
                              "cat /usr/Tarnu/tpxx/.tp_cfg; echo '|'\n"
                              "readlink /usr/share/printconf/util/TarnuPrinttpxx || echo no link\n",
                              c.before);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.report, std::string(c.word) + "|\n" +
                            (c.link ? "/usr/Tarnu/tpxx/TarnuPrinttpxx\n" : "no link\n"));
    const std::string ln =
        LogLine("ln", "", "-s /usr/Tarnu/tpxx/TarnuPrinttpxx /usr/share/printconf/util/TarnuPrinttpxx");
    EXPECT_EQ(o.log.find(ln) != std::string::npos, c.link) << o.log;
  }
}

// The sample installed twice: the second run is an upgrade over the first.
TEST_F(PkgListInstallTest, SecondRunOverTheFirst) {
  e2e::Dist dist;
  ASSERT_TRUE(dist.ok());
  const std::string first =
      std::string(kLprngSystem) +
      "printf 'y\\n' | /dist/setup >/dev/null 2>&1 || echo first run failed\n"
      "mkdir /tmp/first && cp -p /usr/Tarnu/tpxx/TarnuPrinttpxx /usr/Tarnu/tpxx/v4DriverScript"
      " /usr/Tarnu/tpxx/TarnuTSF /usr/Tarnu/tpxx/.tp_cfg /usr/bin/tprint /tmp/first/\n"
      "chmod 700 /usr/Tarnu/tpxx/spool\n";
  const Outcome o = Install(
      dist.path(),
      "cd /usr/Tarnu/tpxx && for f in TarnuPrinttpxx v4DriverScript TarnuTSF .tp_cfg; do"
      " cmp $f /tmp/first/$f && echo same $f; done\n"
      "cmp /usr/bin/tprint /tmp/first/tprint && echo same wrapper\n" +
          StatScript({"spool", "TarnuPrinttpxx", "/usr/share/printconf/util/TarnuPrinttpxx"}) +
          "readlink /var/spool/Tarnu/tpxx/queues; ls -A spool\n",
      first);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err, "");
  // Newdir skips its whole line on the second run, mode and link included;
  // the LPRng link is not made again.
  EXPECT_EQ(o.report,
            "same TarnuPrinttpxx\nsame v4DriverScript\nsame TarnuTSF\nsame .tp_cfg\nsame wrapper\n"
            "700 root root directory spool\n"
            "755 root root regular file TarnuPrinttpxx\n"
            "777 root root symbolic link /usr/share/printconf/util/TarnuPrinttpxx\n"
            "/usr/Tarnu/tpxx/spool\n");
  EXPECT_EQ(o.log.find("printconf"), std::string::npos) << o.log;
  EXPECT_EQ(o.log.find("/spool /var/spool/Tarnu/tpxx/queues"), std::string::npos) << o.log;
  ExpectOneDotPerCommand(o);
}

}  // namespace
