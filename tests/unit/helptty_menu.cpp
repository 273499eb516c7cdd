// The terminal help menu: its items built from a help page, its screen, and
// the keys that follow links, go back, go to the contents and leave, driven
// through standard input.
#include <gtest/gtest.h>

#include <string>

#include "HelpTty.h"
#include "html.h"
#include "html_fixture.h"
#include "textmenu_fixture.h"

namespace {

using menutest::MenuTest;

// The contents page links to the second page (also with a one-character
// and an empty text) and to an anchor on it; the second page carries a name
// anchor of its own name, another anchor and a link to a missing file.
const char kHelp[] =
    "<html><body><h1>Queue help</h1>"
    "<p>See <a href=\"#device\">Device</a>, <a href=\"#device\">D</a>, "
    "<a href=\"#units\">Units</a>, <a href=\"#device\"></a>.</p>"
    "</body></html>"
    "<html page=\"device\"><body><p><a name=\"device\">Device</a> choice.</p>"
    "<p>See <a href=\"#units\">Units</a>, <a name=\"units\">mm</a>, <a href=\"gone.htm\">Gone</a>.</p>"
    "</body></html>"
    "<html page=\"plain\"><body><p>No links here.</p></body></html>";

class HelpMenuTest : public MenuTest {
 protected:
  void SetUp() override {
    MenuTest::SetUp();
    HtmlReleaseFiles();
    helpPath_ = path("queue.htm");
  }
  void TearDown() override {
    HtmlReleaseFiles();
    MenuTest::TearDown();
  }
  // The link items as "key:label|" each.
  static std::string items() {
    std::string out;
    for (const TextMenuItem *i = HelpMenu.items + 1; i->action == TtyHelpGotoLink; i++)
      out += std::to_string(i->key) + ":" + i->label + "|";
    return out;
  }
  std::string helpPath_;
};

TEST_F(HelpMenuTest, ItemsOfAPage) {
  ASSERT_EQ(HtmlHelp(helpPath_.c_str(), kHelp), 1);
  EXPECT_STREQ(TtyHelpBuildMenuItems(), "Tarnu Help");
  EXPECT_STREQ(pCurrentPage->name, "contents");
  EXPECT_STREQ(HelpMenu.items[0].label, pCurrentPage->text);
  // An empty link text gives an empty label; so does a link cut to fewer
  // characters than its two marks.
  EXPECT_EQ(items(), "1:Device|2:D|3:Units|4:|");
  HtmlLink *first = htmltest::linkN(pCurrentPage, 1);
  first->end = first->position + 1;
  TtyHelpBuildMenuItems();
  EXPECT_STREQ(HelpMenu.items[1].label, "");

  // The page's own name anchor is not listed; another anchor is, with the
  // whole text it covers (it has no marks).
  GoToTarget("device");
  TtyHelpBuildMenuItems();
  EXPECT_EQ(items(), "1:Units|2:mm|3:Gone|");
  EXPECT_GE(HelpMenuItemCnt, 4 + 7);
}

TEST_F(HelpMenuTest, PageWithoutLinksShowsTextThenOneRowOfThreeCells) {
  ASSERT_EQ(HtmlHelp((helpPath_ + "#plain").c_str(), kHelp), 1);
  TtyHelpBuildMenuItems();
  const std::string screen = capture([] { PrintMenu(&HelpMenu, 0, 10); });
  EXPECT_EQ(screen,
            "[clear]\f\n                                   Tarnu Help\n\n\n\nNo links here.\n \n\n"
            " e) Exit Help             c) Contents              b) Back                 \n\n"
            "Select an item by its number: ");
}

// Each line of keys, then "e" to leave: the page shown last.
TEST_F(HelpMenuTest, KeysFollowGoBackAndLeave) {
  const struct {
    const char *keys;
    const char *page;
  } cases[] = {
      {"", "contents"},
      {"1\n", "device"},
      {"1\n1\n", "device"},           // the units anchor is on the same page
      {"1\nb\n", "contents"},
      {"b\n", "contents"},            // nowhere to go back to
      {"1\n1\nc\n", "contents"},
      {"1\n3\n", "device"},           // a missing file keeps the page
      {"9\n\n", "contents"},          // no such item; Return stays
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.keys);
    feed(std::string(c.keys) + "e\n");
    capture([&] { TtyHtmlHelp(helpPath_.c_str(), kHelp, "Help"); });
    EXPECT_STREQ(pCurrentPage->name, c.page);
  }
}

TEST_F(HelpMenuTest, HelpKeyOfAMenuOpensTheCallersFile) {
  std::ofstream(helpPath_) << kHelp;
  TextMenuItem items[] = {menutest::item("~q Quit", MENUITEM_EXIT), TextMenuItem{}};
  MenuDef menu{"Queue", 0, nullptr, nullptr, 0, nullptr, nullptr, items, MENU_HAS_HELP};
  InitMenu(&menu);
  const char *saved = pTtyHtmlName;
  for (const char *name : {static_cast<const char *>(nullptr), helpPath_.c_str()}) {
    SCOPED_TRACE(name != nullptr ? name : "no help file");
    pTtyHtmlName = name;
    feed("e\n");
    CopyStr(LineBuf, LINEBUF_SIZE, "h");
    const std::string out = capture([&] { EXPECT_EQ(FindSelection(&menu, 1), 0); });
    EXPECT_EQ(out.find("<Device>") != std::string::npos, name != nullptr) << out;
  }
  pTtyHtmlName = saved;
}

}  // namespace
