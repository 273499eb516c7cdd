// tphelp on the sample help: the whole dump of both files against their
// reviewed texts, a start at a named anchor, and the refusals with status 1.
// tphelp only reads, so it runs on the host in the sample's directory.
#include "e2e.h"

namespace {

struct Result {
  std::string out;
  std::string err;
  int status;
};

Result runTphelp(const std::string &args) {
  e2e::TempDir tmp;
  std::string command = "cd " + e2e::Quote(std::string(e2e::kExamples) + "/help") + " && " +
                        e2e::Quote(TARNU_TPHELP_BIN) + " " + args + " >" + tmp / "out" + " 2>" + tmp / "err";
  int status = e2e::Shell(command);
  return {e2e::ReadFile(tmp / "out"), e2e::ReadFile(tmp / "err"), status};
}

TEST(TphelpDump, SampleHelpMatchesItsReviewedText) {
  for (const char *name : {"queue", "port"}) {
    SCOPED_TRACE(name);
    Result r = runTphelp(std::string(name) + ".htm");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, e2e::ReadFile(std::string(e2e::kSourceDir) + "/tests/e2e/tphelp/" + name + ".txt"));
  }
}

TEST(TphelpDump, StartsAtANamedPageOrAnchor) {
  Result r = runTphelp("--page rules queue.htm");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.substr(0, 79), "-- page 2: name --\nThe name of a queue is what users give to the \"lp\" command:\n");
  r = runTphelp("--page port file://port.htm");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.substr(0, 30), "-- page 2: port --\n\nPort\n\nThe ");
}

TEST(TphelpDump, RefusalsEndWithStatusOne) {
  const struct {
    const char *args, *err;
  } cases[] = {
      {"missing.htm", "tphelp: cannot read missing.htm: No such file or directory\n"},
      {"http://host/queue.htm", "tphelp: http://host/queue.htm: only local help files can be shown\n"},
      {"/dev/null", "tphelp: /dev/null holds no help page\n"},
      {"--page nowhere queue.htm", "tphelp: no page or anchor nowhere in queue.htm\n"},
      {"", "usage: tphelp [-i] [--page NAME] FILE\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.args);
    Result r = runTphelp(c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");
  }
}

}  // namespace
