// tpmenu driven in tmux as a person would: the example printer-queue menu
// and small menus of the tests' own in an 80 x 24 terminal, with the
// screens, the stored settings and the shell assignments checked; and
// batch runs, whose status and messages are checked without a terminal.
// tpmenu writes only into a temporary directory, so it runs on the machine
// itself, not in the sandbox.
#include <chrono>
#include <thread>

#include "e2e.h"
#include "tmux.h"

namespace {

using e2e::Quote;
using e2e::ReadFile;
using e2e::Shell;
using e2e::TempDir;
using e2e::Tmux;
using e2e::WriteFile;

const std::string kMenu = std::string(TARNU_SOURCE_DIR) + "/examples/menus/printer-queue.menu";

class TpmenuSession : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Shell("command -v tmux >/dev/null") != 0) GTEST_SKIP() << "no tmux";
    // A directory name the settings-file rule accepts: letters, digits, "_".
    char tmpl[] = "/tmp/tpmenu_e2e_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    if (!dir_.empty()) Shell("rm -rf " + Quote(dir_));
  }
  // The tpmenu command line run in the window; its status goes to "status".
  std::string command(const std::string &options, const std::string &menu = kMenu,
                      const std::string &program = TARNU_TPMENU_BIN) const {
    return "cd " + Quote(dir_) + " && env -u TARNU_TOOL_PATH " + Quote(program) + " " + options + " " +
           Quote(menu) + "; echo $? >status; sleep 600";
  }
  std::string file(const std::string &name) const { return dir_ + "/" + name; }
  // tpmenu's exit status, waited for up to five seconds.
  std::string status() const {
    std::string text;
    for (int i = 0; i < 100 && (text = ReadFile(file("status"))).find('\n') == std::string::npos; i++)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return text;
  }

  std::string dir_;
};

TEST_F(TpmenuSession, ChooseTypeRefusePickStoreAndApply) {
  Tmux tmux(command("--output out.sh"));
  ASSERT_TRUE(tmux.waitFor("<Return> to exit:")) << tmux.screen();
  std::string screen = tmux.screen();
  EXPECT_NE(screen.find("Printer queue set-up"), std::string::npos);
  EXPECT_NE(screen.find(" 2) Device .................. [2. USB printer]"), std::string::npos);
  EXPECT_NE(screen.find("\n    Printer host"), std::string::npos) << screen;   // disabled
  EXPECT_EQ(screen.find("Output file"), std::string::npos);                     // hidden

  tmux.type("a");   // applying with an empty queue name is refused
  ASSERT_TRUE(tmux.waitFor("All names must be set before applying setup.")) << tmux.screen();
  tmux.type("");
  tmux.type("1 " + std::string(300, 'q'));   // longer than the queue name's rule allows
  ASSERT_TRUE(tmux.waitFor("This text length must be from 1 to 14 characters long."))
      << tmux.screen();
  tmux.type("");
  tmux.type("1 lp-office");
  tmux.type("2 3");
  ASSERT_TRUE(tmux.waitFor(" 3) Printer host")) << tmux.screen();
  EXPECT_NE(tmux.screen().find("[lp-office]"), std::string::npos);
  tmux.type("4 70000");   // outside the port's range: shown and refused
  ASSERT_TRUE(tmux.waitFor("This number must be between 1 to 65535.")) << tmux.screen();
  tmux.type("");
  ASSERT_TRUE(tmux.waitFor("<Return> to exit:")) << tmux.screen();
  EXPECT_NE(tmux.screen().find("Printer port ............ [9100]"), std::string::npos)
      << tmux.screen();

  tmux.type("6");
  ASSERT_TRUE(tmux.waitFor("Current selection: A4 Letter")) << tmux.screen();
  tmux.type("2,4");
  ASSERT_TRUE(tmux.waitFor("Current selection: A4 A3")) << tmux.screen();
  tmux.type("s");

  tmux.type("8");
  ASSERT_TRUE(tmux.waitFor("Network options:")) << tmux.screen();
  tmux.type("1 3");
  ASSERT_TRUE(tmux.waitFor("[3. IPP]")) << tmux.screen();
  tmux.type("r");

  tmux.type("s");
  ASSERT_TRUE(tmux.waitFor("Enter the settings file name:")) << tmux.screen();
  tmux.type(file("queue_settings"));
  ASSERT_TRUE(tmux.waitFor("<Return> to exit:"));
  tmux.type("");
  ASSERT_TRUE(tmux.waitFor("Apply the new queue settings? [y/n]")) << tmux.screen();
  tmux.type("y");
  EXPECT_EQ(status(), "0\n");

  const std::string assignments =
      "queue='lp-office'\ndevice='Network printer'\nhost='printer.example.com'\nport='9100'\n"
      "file='/var/spool/Tarnu/out.prn'\npaper='A4 A3'\nmargin='0.500'\nprotocol='IPP'\n"
      "timeout='30'\nstatus='Yes'\n";
  EXPECT_EQ(ReadFile(file("out.sh")), assignments);
  EXPECT_EQ(ReadFile(file("queue_settings")),
            "1[lp-office] 11 0\n2[2] 9 0\n3[printer.example.com] 12 0\n4[9100] 13 0\n"
            "5[/var/spool/Tarnu/out.prn] 12 2\n7[0.500] 14 0\n8{\n0[2] 9 0\n1[30] 13 0\n}\n");

  // The stored settings come back in a batch run (the paper sizes are not
  // part of a settings file).
  std::string again = file("again.sh");
  EXPECT_EQ(Shell(Quote(TARNU_TPMENU_BIN) + " --batch --settings " + Quote(file("queue_settings")) +
                  " --output " + Quote(again) + " " + Quote(kMenu)),
            0);
  std::string expect = assignments;
  expect.replace(expect.find("A4 A3"), 5, "A4 Letter");
  EXPECT_EQ(ReadFile(again), expect);
}

TEST_F(TpmenuSession, LeavingWithoutChangesDoesNotApply) {
  Tmux tmux(command("--output out.sh"));
  ASSERT_TRUE(tmux.waitFor("<Return> to exit:")) << tmux.screen();
  tmux.type("h");   // the description's help file, left with "e"
  ASSERT_TRUE(tmux.waitFor(" 1) Queue name")) << tmux.screen();
  tmux.type("e");
  ASSERT_TRUE(tmux.waitFor("<Return> to exit:")) << tmux.screen();
  tmux.type("");
  ASSERT_TRUE(tmux.waitFor("Do you want to exit tpmenu? [y/n]")) << tmux.screen();
  tmux.type("y");
  EXPECT_EQ(status(), "1\n");
  EXPECT_FALSE(std::filesystem::exists(file("out.sh")));
  EXPECT_EQ(Shell(Quote(TARNU_TPMENU_BIN) + " " + Quote(kMenu) + " </dev/null >/dev/null 2>&1"), 3);
}

// A menu without a question: an empty answer applies it, but not while
// its name is empty; a multi-choice list emptied on its pick screen is
// applied empty, not as its first choice.
TEST_F(TpmenuSession, EmptyNameRefusedEmptiedListApplied) {
  WriteFile(file("m.menu"), "menu m\nitem name n\nlabel N\nitem multi list\nlabel L\n"
                            "choices a,b\nitem apply\nlabel ~a Apply\n");
  Tmux tmux(command("--output out.sh", file("m.menu")));
  ASSERT_TRUE(tmux.waitFor("<Return> to exit:")) << tmux.screen();
  tmux.type("");
  ASSERT_TRUE(tmux.waitFor("All names must be set before applying setup.")) << tmux.screen();
  tmux.type("");
  ASSERT_TRUE(tmux.waitFor("Do you want to exit tpmenu? [y/n]")) << tmux.screen();
  tmux.type("n");
  tmux.type("1 x");
  tmux.type("2");
  ASSERT_TRUE(tmux.waitFor("Current selection: a")) << tmux.screen();
  tmux.type("1");
  tmux.type("s");
  ASSERT_TRUE(tmux.waitFor("[x]")) << tmux.screen();
  tmux.type("a");
  EXPECT_EQ(status(), "0\n");
  EXPECT_EQ(ReadFile(file("out.sh")), "n='x'\nlist=''\n");
}

// "s" in a store-default menu stores .settings and ends tpmenu with status
// 0: the assignments are written as for an apply.
TEST_F(TpmenuSession, StoreDefaultAppliesToo) {
  WriteFile(file("m.menu"), "menu m\nflags store-default\nitem int port\nlabel P\ndefault 7\n");
  Tmux tmux(command("--output out.sh", file("m.menu")));
  ASSERT_TRUE(tmux.waitFor("s for store settings")) << tmux.screen();
  tmux.type("1 9");
  tmux.type("s");
  EXPECT_EQ(status(), "0\n");
  EXPECT_EQ(ReadFile(file(".settings")), "0[9] 13 0\n");
  EXPECT_EQ(ReadFile(file("out.sh")), "port='9'\n");
}

// Installed as <prefix>/bin/tpmenu, tpmenu reads the catalogues of
// <prefix>/share/tarnu: here a language map there that sends every
// language to the German catalogue.
TEST_F(TpmenuSession, InstalledToolFindsItsCatalogues) {
  const std::string catalogues = std::filesystem::path(TARNU_TPMENU_BIN).parent_path().string() +
                                 "/../../catalogues";
  ASSERT_EQ(Shell("mkdir -p " + Quote(file("bin")) + " " + Quote(file("share/tarnu")) + " && cp " +
                  Quote(TARNU_TPMENU_BIN) + " " + Quote(file("bin/tpmenu")) + " && ln -s " +
                  Quote(catalogues + "/db") + " " + Quote(file("share/tarnu/db"))),
            0);
  WriteFile(file("share/tarnu/trans.conf"), "de_DE = de_DE C POSIX en_US\nDefault de_DE\n");
  Tmux tmux("LANG=C " + command("", kMenu, file("bin/tpmenu")));
  EXPECT_TRUE(tmux.waitFor("Bitte einen Eintrag")) << tmux.screen();
}

// Batch runs: the status, then standard error (where the assignments go).
TEST(TpmenuBatch, StatusAndMessages) {
  struct Case {
    const char *description;
    int status;
    const char *err;
  };
  const Case cases[] = {
      // An enabled name item must be set; a disabled one need not be.
      {"menu m\nitem name n\nlabel Queue\n", 1,
       "tpmenu: \"Queue\" is empty: a name must be set before the menu is applied\n"},
      {"menu m\nitem name n\nlabel Q\ndefault lp\nitem name o\nlabel O\nstate disabled\n", 0,
       "n='lp'\no=''\n"},
      // A state format cannot set a value that points to a text.
      {"menu m\nitem choice c\nlabel C\nchoices a,b\nrule S*{1.5}\nitem string s\nlabel S\n", 2,
       "tpmenu: @:2: state format \"S\" cannot set item 1, a string item\n"},
      {"menu m\nitem choice c\nlabel C\nchoices a,b\nrule S1{1.5} N0{1}\nitem int i\nlabel I\n", 0,
       "c='a'\ni='0'\n"},
  };
  TempDir dir;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.description);
    WriteFile(dir / "d", c.description);
    EXPECT_EQ(Shell(Quote(TARNU_TPMENU_BIN) + " --batch " + Quote(dir / "d") + " 2>" + Quote(dir / "err")),
              c.status);
    std::string expect = c.err;
    if (size_t at = expect.find('@'); at != std::string::npos) expect.replace(at, 1, dir / "d");
    EXPECT_EQ(ReadFile(dir / "err"), expect);
  }
}

}  // namespace
