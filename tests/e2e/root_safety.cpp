// Installer runs in the sandbox as an attacker or an unlucky administrator
// would set them up: names planted at the log's place, a umask that opens
// the work area, shell syntax and ".." in the package list, damaged archive
// pieces, interrupted installations and steps that fail to write.
#include "e2e.h"

namespace {

using e2e::Invocation;
using e2e::Outcome;

class RootSafety : public e2e::SetupTest {
 protected:
  static e2e::Dist &sample() {
    static e2e::Dist d;
    return d;
  }
  Outcome run(const Invocation &r, const e2e::Dist &d = sample()) {
    EXPECT_TRUE(d.ok());
    Outcome o = e2e::RunSetup(d.path(), r);
    EXPECT_EQ(o.sandboxStatus, 0) << o.sandboxErr;
    return o;
  }
};

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

}  // namespace
