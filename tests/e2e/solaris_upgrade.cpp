// The Solaris package upgrade run by tools/solaris-driver inside the sandbox,
// with a stand-in /usr/sbin/installf that records its arguments and a
// pkginfo of the installed package: registrations, copies for absolute and
// relative paths, the GTK module tree, the version rewrite, and the lines
// that must change nothing.
#include "e2e.h"

namespace {

using e2e::Outcome;
using e2e::TempDir;
using e2e::WriteFile;

// The driver is built beside the installer: <build>/tools/solaris-driver.
std::string DriverDir() {
  return (e2e::fs::path(e2e::kSetupBin).parent_path().parent_path() / "tools/solaris-driver")
      .string();
}

constexpr char kStandIns[] = R"(mkdir -p /usr/sbin /var/sadm/pkg/PLMTtpxx /opt/base/Tarnu/bin
cat >/usr/sbin/installf <<'EOF'
#!/bin/sh
echo "$*" >>/tmp/installf.args
EOF
chmod 755 /usr/sbin/installf
printf 'PKG=PLMTtpxx\nNAME=Tarnu print tools\nVERSION=3.2\nARCH=i386\n' >/var/sadm/pkg/PLMTtpxx/pkginfo
)";

constexpr char kPkgmap[] =
    ": 1 2000\n"
    "1 d none bin 0755 root bin\n"
    "1 f none /etc/tprint.conf 0644 root sys 120 4711 1000000000\n"
    "1 f none bin/tprint 0755 root bin 80 17 1000000000\n"
    "1 i pkginfo 100 1234 1000000000\n"
    "1 f none bin/short 0755 root\n"
    "1 f none bin/x;touch${IFS}/tmp/pwned 0755 root bin 1 2 3\n";

class SolarisUpgradeTest : public e2e::SetupTest {
 protected:
  void SetUp() override {
    e2e::SetupTest::SetUp();
    if (IsSkipped()) return;
    if (access((DriverDir() + "/solaris-driver").c_str(), X_OK) != 0)
      GTEST_SKIP() << "solaris-driver is not built";
    // The package source doubles as the work area: PLMTtpxx/pkgmap, root, reloc.
    const std::string pkg = src_ / "PLMTtpxx";
    e2e::fs::create_directories(pkg + "/root/etc");
    e2e::fs::create_directories(pkg + "/reloc/bin");
    WriteFile(pkg + "/pkgmap", kPkgmap);
    WriteFile(pkg + "/root/etc/tprint.conf", "queue=tp\n");
    WriteFile(pkg + "/reloc/bin/tprint", "#!/bin/sh\necho tprint\n");
    WriteFile(pkg + "/reloc/bin/short", "short\n");
  }

  Outcome upgrade(const std::string &before, const std::string &after,
                  const std::string &source = "/dist") {
    e2e::Invocation run;
    run.program = "/drv/solaris-driver";
    run.args = {"/dist", "/opt/base", "PLMTtpxx", source};
    run.binds = {DriverDir() + ":/drv"};
    run.before = std::string(kStandIns) + before;
    run.after = after;
    return e2e::RunSetup(src_.path(), run);
  }

  TempDir src_;
};

TEST_F(SolarisUpgradeTest, RegistersCopiesAndRewritesTheVersion) {
  const Outcome o = upgrade("",
                            "echo '--args'; cat /tmp/installf.args\n"
                            "echo '--conf'; cat /etc/tprint.conf\n"
                            "echo '--tprint'; cat /opt/base/Tarnu/bin/tprint\n"
                            "echo '--pkginfo'; cat /var/sadm/pkg/PLMTtpxx/pkginfo\n"
                            "echo '--tree'; cd /opt/base/Tarnu/tpxx && find lib | sort\n"
                            "echo '--rest'; ls /var/sadm/pkg/PLMTtpxx /opt/base/Tarnu/bin;"
                            " ls /tmp/pwned 2>&1 | sed 's/.*: //'\n");
  ASSERT_EQ(o.sandboxStatus, 0) << o.sandboxErr;
  EXPECT_EQ(o.status, 0) << o.err;
  // Dots: lib made and moded (2), 14 GTK directories, 2 files, rm, the edit, mv.
  EXPECT_EQ(o.out, std::string(21, '.') + "\nresult 1\n");
  EXPECT_EQ(o.err,
            "WARNING: package map line skipped, a word holds shell characters: "
            "bin/x;touch${IFS}/tmp/pwned\n");
  EXPECT_EQ(o.report,
            "--args\n"
            "-c none PLMTtpxx /etc/tprint.conf f 0644 root sys\n"
            "-c none PLMTtpxx /opt/base/Tarnu/bin/tprint f 0755 root bin\n"
            "-f PLMTtpxx\n"
            "--conf\nqueue=tp\n"
            "--tprint\n#!/bin/sh\necho tprint\n"
            "--pkginfo\nPKG=PLMTtpxx\nNAME=Tarnu print tools\nVERSION=4.10.43\nARCH=i386\n"
            "--tree\n"
            "lib\nlib/gtk\nlib/gtk/modules\nlib/gtk/modules/2.2.0\n"
            "lib/gtk/modules/2.2.0/engines\nlib/gtk/modules/2.2.0/immodules\n"
            "lib/gtk/modules/2.2.0/loaders\nlib/gtk/modules/etc\nlib/gtk/modules/etc/gtk-2.0\n"
            "lib/gtk/modules/etc/pango\nlib/gtk/modules/include\nlib/gtk/modules/modules\n"
            "lib/gtk/modules/pango\nlib/gtk/modules/pango/1.2.0\n"
            "lib/gtk/modules/pango/1.2.0/modules\n"
            "--rest\n/opt/base/Tarnu/bin:\ntprint\n\n/var/sadm/pkg/PLMTtpxx:\npkginfo\n"
            "No such file or directory\n");
}

TEST_F(SolarisUpgradeTest, ExistingTreeAndMissingPkginfo) {
  const Outcome o = upgrade(
      "mkdir -p /opt/base/Tarnu/tpxx/lib/own && rm /var/sadm/pkg/PLMTtpxx/pkginfo\n",
      "find /opt/base/Tarnu/tpxx | sort; ls -A /var/sadm/pkg/PLMTtpxx; echo end\n"
      "grep -c 'not rewritten' /tmp/solaris-driver.log\n");
  ASSERT_EQ(o.sandboxStatus, 0) << o.sandboxErr;
  EXPECT_EQ(o.status, 0) << o.err;
  // No tree is made; a pkginfo that is not there is not made up.
  EXPECT_EQ(o.report,
            "/opt/base/Tarnu/tpxx\n/opt/base/Tarnu/tpxx/lib\n/opt/base/Tarnu/tpxx/lib/own\nend\n1\n");
  EXPECT_EQ(o.out, "....\nresult 1\n");
}

TEST_F(SolarisUpgradeTest, MissingPackageMapEndsTheRun) {
  const Outcome o = upgrade("", "ls /tmp/installf.args 2>&1 | sed 's/.*: //'", "/nowhere");
  ASSERT_EQ(o.sandboxStatus, 0) << o.sandboxErr;
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err, "ERROR: can't open file, /nowhere/PLMTtpxx/pkgmap\n");
  EXPECT_EQ(o.report, "No such file or directory\n");
}

}  // namespace
