// tphelp -i driven in tmux as a person would: the sample help browsed with
// the terminal help menu, following a link, going back, to the contents and
// leaving. tphelp only reads, so it runs on the machine itself.
#include "e2e.h"
#include "tmux.h"

namespace {

using e2e::Quote;
using e2e::ReadFile;
using e2e::Shell;
using e2e::Tmux;

class TphelpBrowse : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Shell("command -v tmux >/dev/null") != 0) GTEST_SKIP() << "no tmux";
  }
  // The tphelp command line run in the window; its status goes to "status".
  std::string command(const std::string &options) const {
    return "cd " + Quote(std::string(TARNU_SOURCE_DIR) + "/examples/help") + " && " +
           Quote(TARNU_TPHELP_BIN) + " -i " + options + " queue.htm; echo $? >" +
           Quote(dir_ / "status") + "; sleep 600";
  }
  // tphelp's exit status, waited for up to five seconds.
  std::string status() const {
    std::string text;
    for (int i = 0; i < 100 && (text = ReadFile(dir_ / "status")).find('\n') == std::string::npos; i++)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return text;
  }

  e2e::TempDir dir_;
};

constexpr char kContents[] = " 1) Queue name";
constexpr char kNamePage[] = "Names are case-sensitive";

TEST_F(TphelpBrowse, FollowBackContentsLeave) {
  Tmux tmux(command(""));
  ASSERT_TRUE(tmux.waitFor(kContents)) << tmux.screen();
  const std::string first = tmux.screen();
  EXPECT_NE(first.find(" 7) Questions"), std::string::npos) << first;   // an anchor elsewhere
  EXPECT_NE(first.find(" e) Exit Help"), std::string::npos) << first;

  tmux.type("1");   // the queue-name page: its anchor and its two links
  ASSERT_TRUE(tmux.waitFor(kNamePage)) << tmux.screen();
  EXPECT_NE(tmux.screen().find(" 1) The name\n 2) rules\n 3) device choice"), std::string::npos)
      << tmux.screen();
  tmux.type("b");
  ASSERT_TRUE(tmux.waitFor(kContents)) << tmux.screen();

  tmux.type("1");
  ASSERT_TRUE(tmux.waitFor(kNamePage)) << tmux.screen();
  tmux.type("3");   // on to the device page, then the contents at once
  ASSERT_TRUE(tmux.waitFor("The queue name follows the")) << tmux.screen();
  tmux.type("c");
  ASSERT_TRUE(tmux.waitFor(kContents)) << tmux.screen();

  tmux.type("e");
  EXPECT_EQ(status(), "0\n");
}

TEST_F(TphelpBrowse, StartsAtANamedPage) {
  Tmux tmux(command("--page name"));
  ASSERT_TRUE(tmux.waitFor(kNamePage)) << tmux.screen();
  tmux.type("b");   // back to the first page, where the file opened
  ASSERT_TRUE(tmux.waitFor(kContents)) << tmux.screen();
  tmux.type("e");
  EXPECT_EQ(status(), "0\n");
  EXPECT_EQ(Shell(Quote(TARNU_TPHELP_BIN) + " -i --page nowhere " + Quote(std::string(TARNU_SOURCE_DIR) +
                  "/examples/help/queue.htm") + " >/dev/null 2>&1"), 1);
}

}  // namespace
