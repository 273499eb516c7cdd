// The menu model: preparation, choice markers, conditions, state formats,
// and the settings file written, read back and read when damaged.
#include <cstring>

#include "textmenu_fixture.h"

using namespace menutest;

namespace {

class MenuModel : public MenuTest {};

TEST_F(MenuModel, PreparationSetsKeysValuesAndCurrentChoice) {
  Choices hiddenFirst(" a,_b,_c"), multi("_x,_y");
  TextMenuItem items[] = {
      item("Title", MENUITEM_LABEL),
      item("~q Quit", MENUITEM_EXIT),
      item("Mode", MENUITEM_CHOICE, 0, hiddenFirst.buf),
      item("Sizes", MENUITEM_MULTI, 0, multi.buf),
      item("Name", MENUITEM_NAME, reinterpret_cast<intptr_t>("lp0")),
      item("Port", MENUITEM_INT, 515),
      {},
  };
  MenuDef menu{"M", 0, nullptr, nullptr, 0, nullptr, nullptr, items, 0};
  EXPECT_EQ(InitMenu(&menu), 7);
  EXPECT_EQ(items[0].key, 0u);
  EXPECT_EQ(items[1].key, static_cast<uint32_t>('q'));
  EXPECT_EQ(items[2].key, 1u);
  EXPECT_EQ(items[5].key, 4u);
  EXPECT_EQ(items[2].value, 1);            // hidden default moves on
  EXPECT_EQ(items[3].value, 1);            // nothing chosen: the first choice
  EXPECT_EQ(items[3].choiceCount, 2);
  EXPECT_STREQ(reinterpret_cast<char *>(items[4].value), "lp0");
  EXPECT_EQ(items[5].value, 515);
  EXPECT_EQ(FindTextMenuItem(&menu, MENUITEM_INT), &items[5]);
  EXPECT_EQ(FreeMenu(&menu), &items[6]);
  EXPECT_EQ(items[4].value, 0);

  std::string many = "_c";
  for (int i = 1; i < 70; i++) many += ",_c";
  TextMenuItem big[] = {item("Big", MENUITEM_MULTI, 0, many.data()), {}};
  MenuDef mb{"M", 0, nullptr, nullptr, 0, nullptr, nullptr, big, 0};
  testing::internal::CaptureStderr();
  InitMenu(&mb);
  std::string out = testing::internal::GetCapturedStderr();
  EXPECT_EQ(big[0].choiceCount, MENU_MAX_MULTI);   // more cannot be marked in the value
  EXPECT_NE(out.find("\"Big\" has 70 choices"), std::string::npos) << out;

  Choices wrap("_a, b");
  TextMenuItem one[] = {item("W", MENUITEM_CHOICE, 1, wrap.buf), {}};
  MenuDef m1{"M", 0, nullptr, nullptr, 0, nullptr, nullptr, one, 0};
  InitMenu(&m1);
  EXPECT_EQ(one[0].value, 0);              // wraps to the first choice
  HideStateSelection(&one[0], 0);
  EXPECT_STREQ(wrap.buf, " a, b");
  ShowStateSelection(&one[0], 0);
  ShowStateSelection(&one[0], 5);          // outside the list: nothing
  EXPECT_STREQ(wrap.buf, "_a, b");
}

TEST_F(MenuModel, ConditionsReadLeftToRight) {
  TextMenuItem items[] = {
      item("a", MENUITEM_LABEL), item("b", MENUITEM_INT), item("c", MENUITEM_INT),
      item("d", MENUITEM_INT),   {},
  };
  MenuDef menu{"M", 0, nullptr, nullptr, 0, nullptr, nullptr, items, 0};
  struct Case {
    intptr_t v1, v2, v3;
    int state3;
    const char *condition;
    int index;
    int expect;
  } cases[] = {
      {0, 5, 0, 0, "1.0|2.1", 0, 1},  {5, 1, 0, 0, "1.0|2.1", 0, 1},
      {5, 5, 0, 0, "1.0|2.1", 0, 0},  {5, 1, 0, 0, "!1.0&2.1", 0, 1},
      {0, 1, 0, 0, "!1.0&2.1", 0, 0}, {0, 0, 1, 1, "3.1A", 0, 1},
      {0, 0, 1, 0, "3.1A", 0, 0},     {0, 2, 0, 0, "+1.2", 1, 1},
      {0, 2, 0, 0, "-1.2", 3, 1},     {0, 0, 0, 0, "9.0", 0, 0},
      {1, 0, 1, 0, "1.0|(2.0&3.1)", 0, 1}, {1, 0, 0, 0, "!(1.1|2.1)", 0, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.condition);
    items[1].value = c.v1;
    items[2].value = c.v2;
    items[3].value = c.v3;
    items[3].state = c.state3;
    EXPECT_EQ(TestStateCondition(&menu, c.condition, c.index), c.expect);
  }
  items[3].state = 0;
  MenuDef subA{"A", 0, nullptr, nullptr, 0, nullptr, nullptr, items, 0};
  MenuDef subB{"B", 0, nullptr, nullptr, 0, nullptr, nullptr, items, 0};
  MenuDef *subs[] = {&subA, &subB};
  TextMenuItem withSub[] = {item("v", MENUITEM_INT), item("s", MENUITEM_SUBMENU, 0, nullptr, "0.1 0.2"), {}};
  withSub[1].value = reinterpret_cast<intptr_t>(subs);
  MenuDef parent{"P", 0, nullptr, nullptr, 0, nullptr, nullptr, withSub, 0};
  for (auto [v, expect] : {std::pair<intptr_t, MenuDef *>{1, &subA}, {2, &subB}, {3, nullptr}}) {
    withSub[0].value = v;
    EXPECT_EQ(ValidateMenu(&parent, 1), expect);
  }
}

TEST_F(MenuModel, StateFormatsEnableHideAndSetItems) {
  Choices yesNo("_No,_Yes");
  TextMenuItem items[] = {
      item("Device", MENUITEM_CHOICE, 1, yesNo.buf, "N0{2,3} H1{4} S1{5.7}"),
      item("l", MENUITEM_LABEL), item("a", MENUITEM_INT), item("b", MENUITEM_INT),
      item("c", MENUITEM_INT),   item("d", MENUITEM_INT, 3), {},
  };
  MenuDef menu{"M", 0, nullptr, nullptr, 0, nullptr, nullptr, items, 0};
  InitMenu(&menu);
  EXPECT_EQ(items[5].value, 7);   // not reset by the later item's own preparation
  EXPECT_EQ(items[4].state, 2);
  items[0].value = 0;
  ProcessStateFormat(&menu, 0);
  EXPECT_EQ(items[2].state, 1);
  EXPECT_EQ(items[3].state, 1);
  EXPECT_EQ(items[4].state, 0);
  EXPECT_EQ(items[5].value, 3);
  for (int round = 0; round < 2; round++) {   // set aside once, given back once
    items[0].value = 1;
    ProcessStateFormat(&menu, 0);
  }
  EXPECT_EQ(items[2].state, 0);
  EXPECT_EQ(items[5].value, 7);
  items[0].value = 0;
  ProcessStateFormat(&menu, 0);
  EXPECT_EQ(items[5].value, 3);
  EXPECT_EQ(items[5].savedValue, -1);
  items[2].type = MENUITEM_NAME;   // a disabled name cannot be set, so it does not count
  EXPECT_EQ(TestNames(&menu), 1);
  items[2].type = MENUITEM_INT;
  // A format that names its own item four times ends: within the depth
  // bound alone it would run 4^16 times.
  static int calls;
  calls = 0;
  items[0].rule = "P1{0,0,0,0}";
  items[0].action = [](MenuDef *, TextMenuItem *) { return ++calls; };
  items[0].value = 1;
  ProcessStateFormat(&menu, 0);
  EXPECT_GT(calls, 0);
  EXPECT_LE(calls, 256);
  for (auto [values, v, expect] : {std::tuple{"0", 0, 1}, {"1/3", 3, 1}, {"1/3", 2, 0}, {"*", 9, 1}}) {
    SCOPED_TRACE(values);
    EXPECT_EQ(TestFormatState(values, v), expect);
  }
}

class MenuSettings : public MenuTest {
 protected:
  void SetUp() override {
    MenuTest::SetUp();
    items_[5].value = reinterpret_cast<intptr_t>(&sub_);
    InitMenu(&sub_);
    InitMenu(&menu_);
  }
  void TearDown() override {
    FreeMenu(&menu_);
    FreeMenu(&sub_);
    MenuTest::TearDown();
  }
  void load(const std::string &text) {
    std::ofstream(path("s")) << text;
    ASSERT_TRUE(OpenInputFile(path("s").c_str(), 1));
    LoadMenu(&menu_);
    CloseInputFile();
  }
  Choices choices_{"_a,_b,_c"};
  TextMenuItem subItems_[3] = {item("l", MENUITEM_LABEL), item("dpi", MENUITEM_INT, 300), {}};
  MenuDef sub_{"Sub", 0, nullptr, nullptr, 0, nullptr, nullptr, subItems_, 0};
  Choices multi_{"_x,_y"};
  TextMenuItem items_[8] = {
      item("l", MENUITEM_LABEL),
      item("m", MENUITEM_MULTI, 0, multi_.buf),
      item("c", MENUITEM_CHOICE, 1, choices_.buf),
      item("n", MENUITEM_NAME, reinterpret_cast<intptr_t>("lp0")),
      item("r", MENUITEM_REAL, MenuRealBits(2.5f)),
      item("s", MENUITEM_SUBMENU),
      item("i", MENUITEM_INT, 7),
      {},
  };
  MenuDef menu_{"M", 0, nullptr, nullptr, 0, nullptr, nullptr, items_, 0};
};

TEST_F(MenuSettings, WrittenAndReadBack) {
  std::string file = path("settings");
  ASSERT_EQ(StoreMenuFile(&menu_, file.c_str()), 1);
  EXPECT_EQ(readFile(file), "2[1] 9 0\n3[lp0] 11 0\n4[2.500] 14 0\n6[7] 13 0\n5{\n1[300] 13 0\n}\n");
  EXPECT_FALSE(access((file + "_new").c_str(), F_OK) == 0);

  load("2[2] 9 1\n3[my printer] 11 0\n4[0.125] 14 0\n5{\n1[600] 13 0\n}\n6[9] 13 0\n");
  EXPECT_EQ(items_[2].value, 2);
  EXPECT_EQ(items_[2].state, 1);
  EXPECT_STREQ(reinterpret_cast<char *>(items_[3].value), "my");
  EXPECT_FLOAT_EQ(MenuReal(items_[4].value), 0.125f);
  EXPECT_EQ(subItems_[1].value, 600);
  EXPECT_EQ(items_[6].value, 9);
  EXPECT_EQ(flLoadedSettings, 1);
}

TEST_F(MenuSettings, DamagedLinesChangeNothing) {
  auto snapshot = [&]() {
    return std::tuple{items_[2].value, items_[2].state, std::string(reinterpret_cast<char *>(items_[3].value)),
                      items_[3].type, items_[6].type, items_[6].value, items_[0].state, items_[5].state};
  };
  const auto fresh = snapshot();
  const std::string lines[] = {
      "99[1] 9 0\n", "-1[1] 9 0\n",
      "2[7] 9 0\n",                                // no such choice
      "2[1] 9 5\n",                                // state outside 0..2
      "3[" + std::string(300, 'x') + "] 11 0\n",  // longer than the text buffer
      "6[7] 11 0\n",                               // a number made a text pointer
      "3[lp0] 13 0\n",                             // a text made a number
      "6[7] 99 0\n",  "garbage\n", "2[\n",
      "0[x] 13 2\n", "5[x] 13 2\n",              // a label or a submenu keeps no value
  };
  for (const std::string &line : lines) {
    SCOPED_TRACE(line);
    InitMenu(&menu_);
    load(line);
    EXPECT_EQ(snapshot(), fresh);
  }
}

}  // namespace
