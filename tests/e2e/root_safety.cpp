// Installer runs in the sandbox as an attacker or an unlucky administrator
// would set them up: names planted at the log's place, a umask that opens
// the work area, shell syntax and ".." in the package list, damaged archive
// pieces, interrupted installations and steps that fail to write.
#include "e2e.h"

namespace {

using e2e::Invocation;
using e2e::Outcome;

class RootSafety : public e2e::DistTest {};

constexpr char kIncomplete[] = "ERROR: the installation is incomplete, see /tmp/setup.log\n";

// Whatever stands at /tmp/setup.log, no command output goes through it, the
// run does not hang, and the installation completes.
TEST_F(RootSafety, NothingIsWrittenThroughANamePlantedAtTheLog) {
  struct Case {
    const char *what;
    const char *plant;
  };
  const Case cases[] = {
      {"symbolic link", "ln -s /etc/victim /tmp/setup.log"},
      {"dangling link", "ln -s /etc/nologin /tmp/setup.log"},
      {"hard link", "cp /etc/victim /tmp/victim && ln /tmp/victim /tmp/setup.log"},
      {"another user's file",
       "cp /etc/victim /tmp/setup.log && chown 65534 /tmp/setup.log && chmod 666 /tmp/setup.log"},
      {"named pipe", "mkfifo -m 666 /tmp/setup.log"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Invocation r;
    r.before = std::string("echo precious >/etc/victim && ") + c.plant;
    r.after =
        "cat /etc/victim; [ -L /tmp/setup.log ] || [ ! -f /tmp/setup.log ] || cat /tmp/setup.log; "
        "[ -e /tmp/victim ] && cat /tmp/victim; ls /etc/nologin 2>/dev/null; "
        "ls -d /usr/Tarnu/tpxx/tsf /var/spool/Tarnu/tpxx/queues";
    const Outcome o = run(r);
    EXPECT_EQ(o.status, 0) << o.out;
    std::string expected = "precious\n";
    if (strstr(c.what, "hard") != nullptr) expected += "precious\nprecious\n";
    if (strstr(c.what, "user") != nullptr) expected += "precious\n";
    EXPECT_EQ(o.report, expected + "/usr/Tarnu/tpxx/tsf\n/var/spool/Tarnu/tpxx/queues\n");
  }
}

// Under umask 000 another user loops over the two attacks on the work area
// while root installs: a link at the joined archive's name, and a package
// directory renamed and replaced by one with the attacker's list.
TEST_F(RootSafety, WorkAreaIsClosedToOtherUsersUnderUmask000) {
  Invocation r;
  r.before =
      "umask 000\necho precious >/etc/victim\n"
      "setpriv --reuid=65534 --regid=65534 --clear-groups sh -c '"
      "w=/tmp/TarnuInstall; while :; do "
      "[ -d $w ] && [ ! -e /tmp/mode ] && stat -c %a $w >/tmp/mode; "
      "ln -s /etc/victim $w/Linuxi386Tpxx.tar.Z 2>/dev/null && echo planted >>/tmp/attack; "
      "if mv $w/pkg $w/old 2>/dev/null; then mkdir $w/pkg && echo t pwned >$w/pkg/pkg.list; "
      "echo renamed >>/tmp/attack; fi; done' &\n"
      "echo $! >/tmp/attacker\n";
  r.after =
      "kill $(cat /tmp/attacker); cat /etc/victim /tmp/mode /tmp/attack; "
      "ls /usr/Tarnu/tpxx/pwned; ls -d /usr/Tarnu/tpxx/tsf";
  const Outcome o = run(r);
  EXPECT_EQ(o.status, 0) << o.out;
  EXPECT_EQ(o.report,
            "precious\n700\ncat: /tmp/attack: No such file or directory\n"
            "ls: cannot access '/usr/Tarnu/tpxx/pwned': No such file or directory\n"
            "/usr/Tarnu/tpxx/tsf\n");
}

// A step that cannot write what the installation needs ends the run with
// status 1 and a last line naming the log; an entry the distribution lacks
// stays a warning.
TEST_F(RootSafety, FailedWritesEndWithStatusOne) {
  const std::string fullFs =
      "mkdir -p /srv/full && mount -t tmpfs -o size=16k tmpfs /srv/full && "
      "(dd if=/dev/zero of=/srv/full/fill bs=1k 2>/dev/null; true)";
  const struct {
    const char *what;
    std::string list, before;
    bool incomplete;
  } cases[] = {
      {"copy onto a full file system", "dirto fonts /srv/full\nt after\n", fullFs, true},
      {"settings file that cannot be written", "t after\n", "mkdir -p /usr/Tarnu/tpxx/.tp_cfg",
       true},
      {"entry the distribution lacks", "c missing.file\nt after\n", "", false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    auto dist = distWithList(c.list);
    Invocation r;
    r.before = c.before;
    r.after = "ls /usr/Tarnu/tpxx/after";
    const Outcome o = run(r, *dist);
    EXPECT_EQ(o.status, c.incomplete ? 1 : 0);
    EXPECT_EQ(o.report, "/usr/Tarnu/tpxx/after\n");
    const std::string tail = std::string(".\n") + (c.incomplete ? kIncomplete : "");
    EXPECT_TRUE(e2e::EndsWith(o.out, tail)) << o.out;
  }
}

// A missing table command stops the run before anything is changed.
TEST_F(RootSafety, MissingCommandStopsTheRunAtStartUp) {
  Invocation r;
  r.before = "rm -f /usr/bin/sed /bin/sed /usr/local/bin/sed";
  r.after = "ls -d /usr/Tarnu /tmp/TarnuInstall /var/spool/Tarnu 2>&1 | wc -l; ls -d /usr/Tarnu";
  const Outcome o = run(r);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "ERROR: unable to locate system command 'sed'\n");
  EXPECT_EQ(o.report, "3\nls: cannot access '/usr/Tarnu': No such file or directory\n");
}

// Damaged or missing pieces are refused, naming the piece, before anything
// outside the work area changes; a distribution without checksums installs
// as before.
TEST_F(RootSafety, DamagedArchivePiecesAreRefused) {
  e2e::Dist d({"--piece-size", "1K"});
  const std::string mismatch = "ERROR: the archive piece does not match its checksum: ";
  const struct {
    const char *what;
    const char *damage;
    std::string refusal;  // the last line; empty: the installation completes
  } cases[] = {
      {"flipped byte",
       "f=pkg_tar.002; o=$(( $(stat -c %s $f) - 10 )); b=$(od -An -tu1 -j$o -N1 $f); "
       "printf \"\\\\$(printf %o $((b ^ 1)))\" | dd of=$f bs=1 seek=$o conv=notrunc 2>/dev/null",
       mismatch + "pkg_tar.002\n"},
      {"truncated piece", "truncate -s -1 pkg_tar.003", mismatch + "pkg_tar.003\n"},
      {"swapped pieces", "mv pkg_tar.001 x && mv pkg_tar.002 pkg_tar.001 && mv x pkg_tar.002",
       mismatch + "pkg_tar.001\n"},
      {"missing piece", "rm pkg_tar.002", "ERROR: cannot read the archive piece pkg_tar.002\n"},
      {"missing piece, no checksum file", "rm sums pkg_tar.002 && sed -i /^sums$/d disks",
       "ERROR: exit status 1\n"},
      {"no checksum file", "rm sums && sed -i /^sums$/d disks", ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    Invocation r;
    r.before = std::string("mkdir -p /srv/d && cp -p /dist/* /srv/d/ && cd /srv/d && ") + c.damage;
    r.program = "/srv/d/setup";
    r.after = "ls -d /usr/Tarnu/tpxx/tsf";
    const Outcome o = run(r, d);
    if (c.refusal.empty()) {
      EXPECT_EQ(o.status, 0);
      EXPECT_EQ(o.report, "/usr/Tarnu/tpxx/tsf\n");
      continue;
    }
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(e2e::EndsWith(o.out, c.refusal)) << o.out;
    EXPECT_EQ(o.report, "ls: cannot access '/usr/Tarnu/tpxx/tsf': No such file or directory\n");
  }
}

// Shell text that installs a stand-in for a table command in /usr/sbin (the
// first directory the table searches): when its arguments are exactly args,
// it kills setup, found by walking up its parent processes, at once.
std::string KillAt(const std::string &cmd, const std::string &args) {
  return "cat >/usr/sbin/" + cmd + " <<'EOF'\n#!/bin/sh\n"
         "if [ \"$*\" = " + e2e::Quote(args) + " ]; then p=$PPID\n"
         "  while [ \"$(cat /proc/$p/comm)\" != setup ]; do\n"
         "    p=$(awk '/^PPid/ {print $2}' /proc/$p/status); [ \"$p\" -gt 1 ] || exit 1\n"
         "  done; kill -KILL $p; exit 1\nfi\nexec /usr/bin/" + cmd + " \"$@\"\nEOF\n"
         "chmod 755 /usr/sbin/" + cmd + "\n"
         "printf 'y\\n' | /dist/setup >/dev/null 2>&1\n"
         "rm /usr/sbin/" + cmd + "\n"
         "[ -e /usr/Tarnu/tpxx/.tp_incomplete ] && echo interrupted >/tmp/interrupted\n";
}

// A new installation killed part-way and run again ends equal to one that
// was never interrupted, file for file and mode for mode.
TEST_F(RootSafety, InterruptedNewInstallationIsCompletedByTheNextRun) {
  const std::string describe =
      "cat /tmp/interrupted 2>/dev/null\n"
      "find /usr/Tarnu /var/spool/Tarnu /usr/bin/tprint /usr/bin/tpqadmin /usr/share/doc/tarnu-doc"
      " | LC_ALL=C sort | while read -r f; do stat -c '%A %U:%G %s %N' \"$f\";"
      " if [ -f \"$f\" ] && [ ! -L \"$f\" ]; then md5sum <\"$f\"; fi; done\n";
  Invocation whole;
  whole.after = describe;
  const Outcome reference = run(whole);
  ASSERT_EQ(reference.status, 0);
  const struct {
    const char *what;
    std::string before;
    bool marked;  // the killed run had marked its installation incomplete
  } cases[] = {
      {"before the directory is marked", KillAt("chmod", "755 /usr/Tarnu/tpxx"), false},
      {"after the directory appears", KillAt("chmod", "755 /usr/Tarnu/tpxx/TarnuPrinttpxx"), true},
      {"during the package list", KillAt("touch", "/usr/Tarnu/tpxx/log/tpqadmin.log"), true},
      {"between a new directory and its mode", KillAt("chmod", "777 /usr/Tarnu/tpxx/spool"), true},
      {"between a new directory and its link",
       KillAt("ln", "-s /usr/Tarnu/tpxx/spool /var/spool/Tarnu/tpxx/queues"), true},
      {"before the final modes", KillAt("chmod", "755 /usr/Tarnu"), true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    Invocation r;
    r.before = c.before;
    r.after = describe;
    const Outcome o = run(r);
    EXPECT_EQ(o.status, 0) << o.out;
    EXPECT_EQ(o.report, (c.marked ? "interrupted\n" : "") + reference.report);
  }
}

}  // namespace
