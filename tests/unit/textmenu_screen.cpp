// Rendering: the line menu byte for byte (titles, value parts, bars, hidden
// and disabled items, prompts), the pick screen at 80 x 24 and on a terminal
// too small for it, and the bounds of the screen image.
#include <cstring>

#include "textmenu_fixture.h"

using namespace menutest;

namespace {

class MenuScreen : public MenuTest {
 protected:
  std::string print(MenuDef *menu) {
    int width = InitMenu(menu);
    return capture([&] { PrintMenu(menu, width, static_cast<int>(strcspn(menu->title, "\n"))); });
  }
  static std::string row(int r) {   // row r (from 1) of the pick screen's image
    return std::string(pCurImage->cells + (r - 1) * pCurImage->width, pCurImage->width);
  }
};

constexpr char kPrompt[] = "\nSelect an item by its number or <Return> to exit: ";

TEST_F(MenuScreen, LineMenuShowsEveryKindOfItem) {
  Choices device("_lp,_usb, net"), paper("_A4,_Letter,_A3"), hiddenCur("_a, b");
  TextMenuItem items[] = {
      item("Queue settings", MENUITEM_LABEL),
      item("Device", MENUITEM_CHOICE, 1, device.buf),
      item("Paper", MENUITEM_MULTI, 5, paper.buf),
      item("Name", MENUITEM_NAME, reinterpret_cast<intptr_t>("lp0")),
      item("Port", MENUITEM_INT, 515),
      item("Margin", MENUITEM_REAL, MenuRealBits(0.5f)),
      item("Off", MENUITEM_INT, 1),
      item("Gone", MENUITEM_INT, 2),
      item("Cur", MENUITEM_CHOICE, 0, hiddenCur.buf),
      item("~t Task", MENUITEM_TASK),
      item("~q Quit", MENUITEM_EXIT),
      {},
  };
  items[2].value = 5;
  items[6].state = 1;
  items[7].state = 2;
  MenuDef menu{"Printer", 0, nullptr, nullptr, 0, nullptr, nullptr, items, MENU_COMPACT};
  std::string out = print(&menu);
  FreeMenu(&menu);
  HideStateSelection(&items[8], 0);   // the current choice hidden afterwards
  menu.flags = 0;
  std::string hidden = capture([&] { PrintMenu(&menu, 14, 7); });
  FreeMenu(&menu);
  EXPECT_EQ(out,
            "[clear]\f\nPrinter:\n\n"
            "Queue settings \n"
            " 1) Device ........ [2. usb]\n"
            " 2) Paper ......... [1,3]\n"
            " 3) Name .......... [lp0]\n"
            " 4) Port .......... [515]\n"
            " 5) Margin ........ [0.500]\n"
            "    Off ........... [1]\n"
            " 8) Cur ........... [1. a]\n"
            " 8) Task \n"   // a task has no key: the last number
            " q) Quit \n" +
                std::string(kPrompt));
  EXPECT_NE(hidden.find(" 8) Cur ........... [ ]\n\n"), std::string::npos) << hidden;
}

TEST_F(MenuScreen, TitlesPromptsAndBars) {
  std::string t20(20, 'T'), t100(100, 'T');
  struct Case {
    const char *title;
    int align;
    uint16_t flags;
    std::string expect;
  } cases[] = {
      {t20.c_str(), 1, MENU_RETURN_STAYS, "\f\n" + std::string(30, ' ') + t20 + "\n\n"},
      {t20.c_str(), 2, 0, "\f\n" + std::string(60, ' ') + t20 + "\n\n"},
      {t100.c_str(), 1, 0, "\f\n" + t100 + "\n\n"},
      {t100.c_str(), 2, 0, "\f\n" + t100 + "\n\n"},
      {"x", 7, MENU_HAS_HELP | MENU_STORE_NAMED, ""},
  };
  const char *prompts[] = {
      "\nSelect an item by its number: ",
      kPrompt, kPrompt, kPrompt,
      "\nSelect an item by its number or s for store settings in a file or h for help or "
      "<Return> to exit: ",
  };
  TextMenuItem none[] = {{}};
  for (size_t i = 0; i < std::size(cases); i++) {
    SCOPED_TRACE(i);
    MenuDef menu{cases[i].title, cases[i].align, nullptr, nullptr, 0, nullptr, nullptr, none,
                 cases[i].flags};
    EXPECT_EQ(print(&menu), "[clear]" + cases[i].expect + prompts[i]);
  }

  TextMenuItem bar[] = {
      item("", MENUITEM_BAR), item("~e Exit", MENUITEM_EXIT), item("Contents", MENUITEM_COMMAND),
      item("Back", MENUITEM_COMMAND), item("Fourth", MENUITEM_COMMAND), {},
  };
  MenuDef menu{"", 9, nullptr, nullptr, 0, nullptr, nullptr, bar, MENU_RETURN_STAYS};
  int walked = 0;
  std::string out = capture([&] { walked = PrintMenu(&menu, InitMenu(&menu), 0); });
  EXPECT_EQ(walked, 5);
  std::string cell = " e) Exit" + std::string(16, ' ') + " ";
  EXPECT_EQ(out, "[clear]" + cell + " 1) Contents" + std::string(12, ' ') + " " + " 2) Back" +
                     std::string(16, ' ') + " \n 3) Fourth" + std::string(14, ' ') +
                     " \n\n\nSelect an item by its number: ");
}

TEST_F(MenuScreen, PickScreenLaysOutColumnsOrRefusesSmallTerminal) {
  std::string list;
  for (int i = 1; i <= 40; i++) list += (i > 1 ? ",_c" : "_c") + std::to_string(i);
  list[list.find("c7") - 1] = ' ';   // choice 7 hidden
  std::string buf = list;
  TextMenuItem it = item("Paper", MENUITEM_MULTI, 0, buf.data());
  TextMenuItem items[] = {it, {}};
  MenuDef menu{"M", 0, nullptr, nullptr, 0, nullptr, nullptr, items, 0};
  InitMenu(&menu);
  items[0].value = 0b101;
  uint64_t hidden = 0;
  int shown = -2;
  capture([&] { shown = PrintPickOneManyScreen(&items[0], &hidden, 0); });
  EXPECT_EQ(shown, 0);   // the whole list on one page
  EXPECT_EQ(hidden, uint64_t{1} << 6);
  EXPECT_EQ(row(1), std::string(37, ' ') + "Paper" + std::string(38, ' '));
  EXPECT_EQ(row(3).substr(0, 12), " ->  1) c1  ");
  EXPECT_EQ(row(9).substr(0, 12), "        c7  ");   // hidden: no number
  EXPECT_NE(row(3).find("19) c19"), std::string::npos);
  EXPECT_NE(row(6).find("40) c40"), std::string::npos);
  EXPECT_EQ(row(22).rfind("s) Save and return", 0), 0u);
  EXPECT_EQ(row(23).rfind("Current selection: c1 c3 ", 0), 0u);

  SetTermSize(80, 6);
  feed("\n");
  std::string out = capture([&] { shown = PrintPickOneManyScreen(&items[0], &hidden, 0); });
  EXPECT_EQ(shown, -1);
  EXPECT_EQ(out, "\nThe terminal is too small for this screen.\nTerminal size: 80 columns, 6 rows.\n"
                 "Minimum size: 27 columns, 7 rows.\nPress any key to continue ");
  FreeMenu(&menu);
}

TEST_F(MenuScreen, ImageWritesStayInsideTheImage) {
  SetTermSize(10, 3);
  ScreenImage *image = GetTermInfo(nullptr);
  struct Case {
    int col, row;
    const char *text;
    const char *expect;   // the whole image afterwards
  } cases[] = {
      {7, 3, "abcdef", "                           abc"},
      {0, 0, "xy", "xy                            "},    // row 0 becomes row 1
      {12, 2, "z", "          z                   "},     // a column past the row: 0
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    memset(image->cells, ' ', 30);
    SetPosition(image, c.col, c.row);
    WriteString(image, "%s", c.text);
    EXPECT_EQ(std::string(image->cells, 30), c.expect);
  }
  SetOvlInfo(image, 2, 1, 10, 3);
  SetPosition(image, 4, 2);
  feed("\n");
  const std::string stars(14, '*');
  EXPECT_EQ(capture([&] { Overlay(image, "Hi\nthere you", 1); }),
            "\033[2;3H" + stars + "\033[3;3H* Hi         *\033[4;3H* there you  *"
            "\033[5;3H* Press enter*\033[6;3H" + stars + "\033[2;5H");
  NumberScreen(image);
  EXPECT_EQ(std::string(image->cells, 30), "012345678901234567890123456789");
  EXPECT_EQ(capture([&] { Refresh(image); }), "01234567890123456789012345678");
  PutMem(image->cells);
  PutMem(image);
}

}  // namespace
