// The sandbox's report of what a command changed on the machine: the list of
// a new installation of the sample distribution, kept in expected/ after it
// was read once by hand, and one line for each kind of change.
#include "e2e.h"

namespace e2e {
namespace {

class SandboxChanges : public SetupTest {};

TEST_F(SandboxChanges, SampleInstallationMatchesTheReviewedList) {
  Dist dist;
  ASSERT_TRUE(dist.ok());
  Invocation run;
  run.changes = true;
  Outcome o = RunSetup(dist.path(), run);
  ASSERT_EQ(o.status, 0) << o.err << o.sandboxErr;
  EXPECT_EQ(o.changes, ReadFile(std::string(kSourceDir) + "/tests/e2e/expected/sample_changes.txt"))
      << o.sandboxErr;
}

// Each row: shell text run in the sandbox, a line the text report must hold.
struct Kind {
  const char *command;
  const char *line;
};

TEST_F(SandboxChanges, EveryKindOfChangeHasItsLine) {
  for (const char *p : {"/etc/issue", "/etc/issue.net", "/etc/skel/.bashrc"})
    if (!fs::exists(p)) GTEST_SKIP() << "no " << p << " on this machine";
  const Kind kinds[] = {
      {"printf x >>/etc/issue", "M /etc/issue 0644 root:root file content"},
      {"chown daemon /etc/issue.net; chmod 600 /etc/issue.net",
       "M /etc/issue.net 0600 daemon:root file mode owner"},
      {"rm -r /etc/skel", "D /etc/skel/.bashrc 0644 root:root file"},
      {"mkfifo -m 640 /root/fifo", "A /root/fifo 0640 root:root fifo"},
      {"ln -s /nowhere /root/link", "A /root/link 0777 root:root link -> /nowhere"},
      {"mkdir -m 700 /tmp/d", "A /tmp/d 0700 root:root dir"},
  };
  TempDir work;
  std::string script = "set -e\numask 022\n";
  for (const auto &k : kinds) script += std::string(k.command) + "\n";
  // Read and rewritten unchanged: no line.
  script += "cp -p /etc/passwd /root/p && cat /root/p >/etc/passwd && rm /root/p\n";
  WriteFile(work / "run.sh", script);
  std::string json = work / "changes.json";
  int rc = Shell(Quote(kSandbox) + " --changes --changes-json " + Quote(json) + " --bind " +
                 Quote(work.path() + ":/w") + " -- /bin/sh /w/run.sh >" + Quote(work / "changes"));
  ASSERT_EQ(rc, 0);
  std::string text = ReadFile(work / "changes");
  for (const auto &k : kinds) {
    SCOPED_TRACE(k.command);
    EXPECT_NE(text.find(std::string(k.line) + "\n"), std::string::npos) << text;
  }
  EXPECT_NE(text.find("D /etc/skel 0755 root:root dir\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("/etc/passwd"), std::string::npos) << text;
  EXPECT_EQ(text.find(" /w"), std::string::npos) << "bind mount point listed\n" << text;
  EXPECT_NE(ReadFile(json).find(
                "{\"change\": \"A\", \"path\": \"/root/link\", \"type\": \"link\", \"mode\": \"0777\", "
                "\"owner\": \"root\", \"group\": \"root\", \"target\": \"/nowhere\", \"changed\": []}"),
            std::string::npos)
      << ReadFile(json);
}

}  // namespace
}  // namespace e2e
