// The interaction loop: selections, entries, the pick-screen answers, the
// leave and yes/no questions, the settings key, and the end of input.
#include <cstring>
#include <functional>

#include "textmenu_fixture.h"

using namespace menutest;

namespace {

int applied = 0;
void *countApply(MenuDef *) {
  applied++;
  return nullptr;
}

class MenuLoop : public MenuTest {
 protected:
  void SetUp() override {
    MenuTest::SetUp();
    applied = 0;
    InitMenu(&menu_);
  }
  void TearDown() override {
    FreeMenu(&menu_);
    MenuTest::TearDown();
  }
  // The item number FindSelection gives for a line, with pOption.
  std::pair<int, std::string> select(const char *line) {
    CopyStr(LineBuf, LINEBUF_SIZE, line);
    int n = FindSelection(&menu_, 7);
    return {n, pOption};
  }
  Choices choices_{"_lp,_usb, net,_file"};
  Choices paper_{"_A4,_Letter,_A3"};
  TextMenuItem items_[8] = {
      item("Queue", MENUITEM_LABEL),
      item("Name", MENUITEM_NAME),
      item("~a Apply", MENUITEM_APPLY),
      item("~B Big", MENUITEM_COMMAND),
      item("Device", MENUITEM_CHOICE, 0, choices_.buf),
      item("Port", MENUITEM_INT, 515),
      item("Paper", MENUITEM_MULTI, 1, paper_.buf),
      {},
  };
  MenuDef menu_{"Queue", 0, nullptr, countApply, 0, nullptr, nullptr, items_, 0};
};

TEST_F(MenuLoop, SelectionsByNumberAndHotKey) {
  items_[5].state = 1;
  struct Case {
    const char *line;
    int item;
    const char *option;
  } cases[] = {
      {"1", 2, ""},          {"  2   lp0 x", 5, "lp0 x"}, {"a", 3, ""}, {"A now", 3, "now"},
      {"b", 0, ""},          {"B", 0, ""},  // an upper-case hot key is never chosen
      {"3", 0, ""},                          // disabled
      {"4", 7, ""},          {"9", 0, ""},          {"0", 0, ""},  {"?", 0, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(select(c.line), std::make_pair(c.item, std::string(c.option)));
  }
}

TEST_F(MenuLoop, ChoiceAndEntryItems) {
  struct Case {
    const char *option;
    intptr_t from, to;
  } choice[] = {{"2", 0, 1}, {"", 0, 1}, {"", 1, 3}, {"", 3, 0}, {"3", 0, 3}, {"9", 3, 0}};
  for (const Case &c : choice) {
    SCOPED_TRACE(c.option);
    items_[4].value = c.from;
    EXPECT_EQ(ProcessSelection(&menu_, 4, c.option), 1);
    EXPECT_EQ(items_[4].value, c.to);
  }
  auto name = [&] { return std::string(reinterpret_cast<char *>(items_[1].value)); };
  std::string out = capture([&] { EXPECT_EQ(ProcessSelection(&menu_, 1, "abc"), 1); });
  EXPECT_EQ(out, "");
  EXPECT_EQ(name(), "abc");
  feed("lp9\n\n");
  out = capture([&] {
    EXPECT_EQ(ProcessSelection(&menu_, 1, ""), 1);
    EXPECT_EQ(ProcessSelection(&menu_, 5, ""), 0);   // an empty entry changes nothing
  });
  EXPECT_EQ(out, "Value: Value: ");
  EXPECT_EQ(name(), "lp9");
  EXPECT_EQ(items_[5].value, 515);
  feed("\n");
  out = capture([&] { EXPECT_EQ(ProcessSelection(&menu_, 1, std::string(300, 'x').c_str()), 0); });
  EXPECT_EQ(out, "This text length must be from 0 to 255 characters long.\nPress <Return> to continue ");
  EXPECT_EQ(name(), "lp9");
  ProcessSelection(&menu_, 5, "-42");
  EXPECT_EQ(items_[5].value, -42);
}

TEST_F(MenuLoop, PickScreenAnswers) {
  struct Case {
    const char *first;
    const char *lines;
    intptr_t expect;
  } cases[] = {
      {"1,3", "s\n", 0b100},   {"1,99", "s\n", 0b000}, {"2 3", "c\n", 0b001},
      {"", "\n3\ns\n", 0b101}, {"x", "-\ns\n", 0b001},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.first);
    items_[6].value = 1;
    feed(c.lines);
    capture([&] { ProcessStateValue(&menu_, 6, c.first); });
    EXPECT_EQ(items_[6].value, c.expect);
  }
}

TEST_F(MenuLoop, LeavingAsksUntilYes) {
  feed("\nY\nn\n\ny\n");
  void *result = &menu_;
  std::string out = capture([&] { result = RunMenu(&menu_, nullptr, 1); });
  EXPECT_EQ(result, nullptr);
  EXPECT_EQ(applied, 2);
  const std::string ask = "\nDo you want to exit tpmenu? [y/n] ";
  EXPECT_NE(out.find(ask + ask + "[clear]"), std::string::npos);   // "Y" asked again
  EXPECT_EQ(out.substr(out.size() - ask.size() - 1), ask + "\n");
  EXPECT_EQ(items_[1].value, 0);   // the text buffers are released

  // The apply item refuses an empty name; a set name applies.
  InitMenu(&menu_);
  feed("a\n\n1 lp0\na\n");
  out = capture([&] { RunMenu(&menu_, nullptr, 1); });
  EXPECT_NE(out.find("All names must be set before applying setup."), std::string::npos);
}

TEST_F(MenuLoop, SettingsKeyStoresAndSettingsPathLoads) {
  menu_.flags = MENU_STORE_NAMED;
  // The settings-name rule allows letters, digits, "-", "_" and "/" only.
  std::string file = path("queue_set");
  feed("3 631\ns\n" + file + "\n\ny\n");
  capture([&] { RunMenu(&menu_, nullptr, 1); });
  EXPECT_EQ(readFile(file), "1[] 11 0\n4[0] 9 0\n5[631] 13 0\n");

  std::ofstream(file) << "1[lp0] 11 0\n5[9100] 13 0\n";
  void *result = RunMenu(&menu_, file.c_str(), 0);
  EXPECT_EQ(result, nullptr);   // the apply function's result
  EXPECT_EQ(applied, 2);
  EXPECT_EQ(items_[5].value, 9100);
  EXPECT_EQ(RunMenu(&menu_, path("missing").c_str(), 0), nullptr);   // no abort item
}

TEST_F(MenuLoop, TestNameRefusesOtherCharacters) {
  EXPECT_EQ(TestName("lp_0-x"), 1);
  feed("\n");
  std::string out = capture([&] { EXPECT_EQ(TestName("lp 0"), 0); });
  EXPECT_EQ(out, "\n' ' is not a valid name character. \nOnly alphanumeric character, '-', and '_' "
                 "are valid: \n\nPress <Return> to continue ");
}

using MenuLoopDeathTest = MenuLoop;

TEST_F(MenuLoopDeathTest, EndOfInputEndsTheProcess) {
  const std::pair<const char *, std::function<void()>> waits[] = {
      {"menu", [&] { RunMenu(&menu_, nullptr, 1); }},
      {"yes/no", [] { PromptYN("Sure"); }},
      {"message", [] { PostMsg("%s", "x"); }},
      {"name", [] { TestName("a b"); }},
      {"entry", [&] { ProcessSelection(&menu_, 1, ""); }},
      {"pick screen", [&] { ProcessStateValue(&menu_, 6, nullptr); }},
      {"settings name", [&] {
         menu_.flags = MENU_STORE_NAMED;
         CopyStr(LineBuf, LINEBUF_SIZE, "s");
         FindSelection(&menu_, 7);
       }},
  };
  for (const auto &[what, wait] : waits) {
    SCOPED_TRACE(what);
    feed("");
    EXPECT_EXIT(capture(wait), testing::ExitedWithCode(1), "tpmenu: reading from standard input");
  }
}

TEST_F(MenuLoopDeathTest, StoreDefaultWritesDotSettingsAndEnds) {
  menu_.flags = MENU_STORE_DEFAULT;
  EXPECT_EXIT(
      {
        if (chdir(dir_.c_str()) != 0) exit(9);
        CopyStr(LineBuf, LINEBUF_SIZE, "s");
        FindSelection(&menu_, 7);
      },
      testing::ExitedWithCode(0), "");
  EXPECT_EQ(readFile(path(".settings")), "1[] 11 0\n4[0] 9 0\n5[515] 13 0\n");
}

}  // namespace
