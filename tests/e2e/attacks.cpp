// Installer runs as root against another user who owns /tmp: every fixed
// name the run writes there (the scratch file of a stream edit, the work
// area, the log and the decompression log under another invocation name) is
// planted before the run as a symbolic link, a hard link, another user's file
// or a named pipe, or replaced in a loop while the run goes on. Nothing is
// ever written, truncated or handed another mode or owner through such a
// name, no run blocks, and a run that cannot go on safely says so and ends
// with a failing status.
#include <string>

#include "e2e.h"

namespace {

using e2e::Invocation;
using e2e::Outcome;

// Two root-owned victims: one outside /tmp for symbolic links, one on /tmp's
// file system for hard links. Another user's planted file is kept by inode.
constexpr char kVictims[] =
    "echo precious >/etc/victim && chmod 644 /etc/victim\n"
    "echo precious >/tmp/victim && chmod 600 /tmp/victim\n";

// Prints one line for every victim that changed (names: the planted names,
// separated by blanks), and whether the installation is complete.
std::string CheckVictims(const std::string &names) {
  return "for v in '/etc/victim 9 644 0:0' '/tmp/victim 9 600 0:0'; do set -- $v\n"
         "  s=$(stat -c '%s %a %u:%g' $1; cat $1)\n"
         "  [ \"$s\" = \"$2 $3 $4\nprecious\" ] || echo \"changed $1: $s\"\n"
         "done\n"
         "for N in " + names + "; do i=/var/tmp/ino.${N##*/}\n"
         "  if [ -e $i ] && [ \"$(stat -c %i $N 2>/dev/null)\" = \"$(cat $i)\" ]; then\n"
         "    s=$(stat -c '%u %a' $N; cat $N)\n"
         "    [ \"$s\" = \"65534 666\nother's\" ] || echo \"changed the other user's $N: $s\"\n"
         "  fi\n"
         "done\n"
         "grep -l pwned /usr/Tarnu/tpxx/tpd.conf 2>/dev/null\n"
         "ls -d /usr/Tarnu/tpxx/tsf 2>&1\n";
}

// How setup is invoked: as /dist/setup, or as "inst" from a copy of the
// distribution, whose log and scratch file are then /tmp/inst.*.
struct Program {
  const char *path;
  const char *prepare;
};
constexpr Program kSetup = {"/dist/setup", ""};
constexpr Program kInst = {
    "/srv/d/inst", "mkdir -p /srv/d && cp -p /dist/* /srv/d/ && cp /dist/setup /srv/d/inst\n"};

class Attacks : public e2e::DistTest {
 protected:
  // Runs setup under program with the before text and args, and checks the
  // victims of name afterwards; no run may take longer than a minute.
  Outcome attack(const Program &program, const std::string &before, const std::string &name,
                 const std::vector<std::string> &args = {}) {
    Invocation r;
    r.program = program.path;
    r.args = args;
    r.before = std::string(kVictims) + program.prepare + before;
    r.after = "cat /tmp/attacker-pid >/dev/null 2>&1 && kill $(cat /tmp/attacker-pid)\n" +
              CheckVictims(name);
    r.timeLimit = 60;
    return run(r);
  }
};

constexpr char kComplete[] = "/usr/Tarnu/tpxx/tsf\n";

// Every fixed name, planted before the run in each of the four ways: the run
// completes and every victim is as it was.
TEST_F(Attacks, NamesPlantedBeforeTheRun) {
  const struct {
    Program program;
    const char *names;
  } programs[] = {
      {kSetup, "/tmp/setup.tmp /tmp/TarnuInstall"},
      {kInst, "/tmp/inst.log /tmp/inst.tmp /tmp/setup.log /tmp/TarnuInstall"},
  };
  const struct {
    const char *what;
    const char *plant;  // N is the name
  } kinds[] = {
      {"symbolic link", "ln -s /etc/victim $N"},
      {"hard link", "ln /tmp/victim $N"},
      {"another user's file",
       "echo \"other's\" >$N && chown 65534:65534 $N && chmod 666 $N && "
       "stat -c %i $N >/var/tmp/ino.${N##*/}"},
      {"named pipe", "mkfifo -m 666 $N && chown 65534 $N"},
  };
  for (const auto &p : programs) {
    for (const auto &k : kinds) {
      SCOPED_TRACE(std::string(p.names) + ": " + k.what);
      const Outcome o = attack(
          p.program, std::string("for N in ") + p.names + "; do " + k.plant + "; done\n", p.names);
      EXPECT_EQ(o.status, 0) << o.out << o.err;
      EXPECT_EQ(o.report, kComplete);
    }
  }
}

// The work area planted as another user's directory that holds links at the
// names of the joined and the unpacked archive.
TEST_F(Attacks, WorkAreaPlantedAsAnotherUsersDirectory) {
  const Outcome o = attack(kSetup,
                           "mkdir -m 777 /tmp/TarnuInstall && cd /tmp/TarnuInstall && "
                           "ln -s /etc/victim Linuxi386Tpxx.tar.Z && chown -hR 65534 . && "
                           "ln /tmp/victim Linuxi386Tpxx.tar && cd /\n",
                           "/tmp/TarnuInstall");
  EXPECT_EQ(o.status, 0) << o.out << o.err;
  EXPECT_EQ(o.report, kComplete);
}

// A work area whose parent another user can change (rename the work area,
// put their own in its place) is refused before anything is made; a sticky
// directory of root's, like /tmp, is used.
TEST_F(Attacks, WorkAreaParentThatAnotherUserCanChange) {
  const struct {
    const char *what;
    const char *make;
    const char *parent;
    bool used;
  } cases[] = {
      {"another user's directory", "mkdir /tmp/x && chown 65534 /tmp/x", "/tmp/x", false},
      {"below another user's directory", "mkdir -p /tmp/x/y && chown 65534 /tmp/x", "/tmp/x/y",
       false},
      {"another user's link", "mkdir /srv/w && ln -s /srv/w /tmp/x && chown -h 65534 /tmp/x",
       "/tmp/x", false},
      {"root's directory open to all", "mkdir -m 777 /srv/w", "/srv/w", false},
      {"root's sticky directory open to all", "mkdir -m 1777 /srv/w", "/srv/w", true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const std::string parent = c.parent;
    const Outcome o = attack(kSetup, std::string(c.make) + "\n", parent, {parent});
    if (c.used) {
      EXPECT_EQ(o.status, 0) << o.out;
      EXPECT_EQ(o.report, kComplete);
      continue;
    }
    EXPECT_EQ(o.status, 2);
    EXPECT_TRUE(o.out.find("ERROR: another user can change " + parent +
                           ", so the work area cannot be made in it\n") != std::string::npos)
        << o.out;
    EXPECT_EQ(o.report, "ls: cannot access '/usr/Tarnu/tpxx/tsf': No such file or directory\n");
  }
}

// Another user replaces a name in a loop for the whole run. The run either
// completes, or stops with its refusal and a failing status; the victims are
// untouched either way.
TEST_F(Attacks, NamesSwappedDuringTheRun) {
  const struct {
    const char *what;
    Program program;
    const char *name;
    const char *loop;     // the attacker's loop body, N is the name
    const char *refusal;  // the end of standard output of a refused run
    int status;           // its status
  } cases[] = {
      {"scratch file as a link", kSetup, "/tmp/setup.tmp", "ln -s /etc/victim $N",
       "ERROR: can't create /tmp/setup.tmp: File exists\n", 1},
      {"scratch file as a pipe", kSetup, "/tmp/setup.tmp", "mkfifo $N",
       "ERROR: can't create /tmp/setup.tmp: File exists\n", 1},
      {"scratch file written into", kSetup, "/tmp/setup.tmp", "[ -w $N ] && echo pwned >>$N", "",
       0},
      {"work area as a link", kSetup, "/tmp/TarnuInstall", "ln -s /var/tmp $N",
       "ERROR: couldn't open /tmp/TarnuInstall\n\n", 2},
      {"log as a link", kInst, "/tmp/inst.log", "ln -s /etc/victim $N", "", 0},
      {"decompression log as a link", kInst, "/tmp/setup.log", "ln -s /etc/victim $N", "", 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const std::string attacker =
        std::string("umask 000\nsetpriv --reuid=65534 --regid=65534 --clear-groups sh -c '"
                    "N=") + c.name + "; while :; do " + c.loop + "; done' 2>/dev/null &\n"
        "echo $! >/tmp/attacker-pid\n";
    const Outcome o = attack(c.program, attacker, c.name);
    if (o.status == 0) {
      EXPECT_EQ(o.report, kComplete);
    } else {
      ASSERT_NE(c.refusal[0], '\0') << o.out << o.err;
      EXPECT_EQ(o.status, c.status) << o.out;
      EXPECT_TRUE(e2e::EndsWith(o.out, c.refusal)) << o.out;
      EXPECT_EQ(o.report.find("changed"), std::string::npos) << o.report;
    }
  }
}

}  // namespace
