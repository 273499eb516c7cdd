// Help navigation: links to anchors, named pages and other files, the back
// history and its limit, contents, links chosen by position, and the
// messages of loads that fail.
#include "html_fixture.h"

#include <cstring>
#include <string>

namespace {

using htmltest::HtmlTest;
using htmltest::linkN;

// help.htm: a first page with its links and the anchor "install", a page
// "faq"; other.htm: one page with the anchor "sec".
class HtmlNavigate : public HtmlTest {
 protected:
  void SetUp() override {
    HtmlTest::SetUp();
    writeFile("help.htm",
              "<html><body><a href=\"#faq\">F</a> <a href=\"#install\">I</a> <a href=\"other.htm\">O</a>"
              " <a href=\"missing.htm\">M</a> <a href=\"help.htm#faq\">H</a> <a href=\"other.htm#sec\">S</a>"
              "<br>text<br><a name=\"install\">Install</a><br></body></html>"
              "<html page=\"faq\"><body>Questions<br></body></html>");
    writeFile("other.htm", "<html><body>Other<br><a name=\"sec\">Sec</a><br></body></html>");
    ASSERT_EQ(HtmlHelp("help.htm", nullptr), 1);
    first = pCurrentPage;
  }
  HtmlPage *first = nullptr;
};

struct FollowCase {
  int link;            // on the first page of help.htm
  const char *page;    // name of the page then current, "-" for none
  int file;
  int targetPos;
  int history;
  const char *output;
};

TEST_F(HtmlNavigate, FollowingLinks) {
  const FollowCase cases[] = {
      {1, "faq", 0, 0, 1, ""},
      {2, "-", 0, 24, 1, ""},
      {4, "-", 0, 0, 0, "Error in reading file missing.htm\n"},
      {5, "faq", 0, 0, 1, ""},
      // other.htm is loaded by the first link to it and its anchor followed;
      // once loaded, a link to it only shows its first page.
      {6, "-", 1, 6, 1, ""},
      {3, "-", 1, 0, 0, ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.link);
    pCurrentPage = first;
    CurrentFile = HistoryI = TargetPos = 0;
    testing::internal::CaptureStdout();
    ProcessLink(linkN(first, c.link));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.output);
    EXPECT_STREQ(pCurrentPage->name ? pCurrentPage->name : "-", c.page);
    EXPECT_EQ(CurrentFile, c.file);
    EXPECT_EQ(TargetPos, c.targetPos);
    EXPECT_EQ(HistoryI, c.history);
    EXPECT_EQ(flBuildingFile, 0);
    if (c.file == 0 && c.history == 0) {
      EXPECT_EQ(pCurrentPage, first);
    }
  }
  // help.htm#faq from other.htm only shows the first page of help.htm.
  HtmlPage *other = pCurrentPage;
  ASSERT_EQ(CurrentFile, 1);
  HtmlLink back{const_cast<char *>("help.htm#faq"), 0, 0, 0, LINK_HREF};
  ProcessLink(&back);
  EXPECT_EQ(pCurrentPage, first);
  EXPECT_EQ(CurrentFile, 0);
  EXPECT_NE(other, first);
}

TEST_F(HtmlTest, RelativeLinksLeadBesideTheirFile) {
  std::filesystem::create_directory("doc");
  writeFile("doc/a.htm", "<html><body><a href=\"b.htm#sec\">B</a><br></body></html>");
  writeFile("doc/b.htm", "<html><body>B<br><a name=\"sec\">Sec</a><br></body></html>");
  ASSERT_EQ(HtmlHelp("doc/a.htm", nullptr), 1);
  ProcessLink(linkN(pCurrentPage, 1));
  EXPECT_EQ(CurrentFile, 1);
  ASSERT_EQ(FileIndex, 2);
  EXPECT_STREQ(aFile[1]->name, "doc/b.htm");
  EXPECT_EQ(TargetPos, 2);   // the anchor's line
}

TEST_F(HtmlNavigate, BackAndContents) {
  EXPECT_EQ(HtmlSetHistory(0), 0);
  EXPECT_EQ(HtmlSetHistory(-1), 0);
  EXPECT_EQ(pCurrentPage, first);
  for (int i = 0; i < 105; i++) GoToTarget(i % 2 == 0 ? "#faq" : "install");
  EXPECT_EQ(HistoryI, HTML_HISTORY_SIZE);
  HtmlPage *faq = pCurrentPage;
  ASSERT_STREQ(faq->name, "faq");
  int backs = 0;
  while (HtmlSetHistory(-1)) {
    backs++;
    EXPECT_EQ(pCurrentPage, backs % 2 == 1 ? faq : first) << backs;
  }
  EXPECT_EQ(backs, HTML_HISTORY_SIZE);
  EXPECT_EQ(pCurrentPage, first);

  ProcessLink(linkN(first, 6));
  GoToTarget("#nowhere");
  EXPECT_EQ(HistoryI, 1);
  EXPECT_EQ(HtmlSetHistory(5), 1);
  EXPECT_EQ(CurrentFile, 1);
  EXPECT_EQ(HtmlSetHistory(0), 1);
  EXPECT_EQ(HistoryI, 0);
  EXPECT_EQ(CurrentFile, 0);
  EXPECT_EQ(pCurrentPage, first);
}

TEST_F(HtmlNavigate, LinkUnderAPosition) {
  const HtmlLink *faqLink = linkN(first, 1);
  const HtmlLink *lastOnLine = linkN(first, 6);
  const HtmlLink *anchor = linkN(first, 7);
  struct {
    int offset;
    bool follows;
  } cases[] = {{faqLink->position, true},  {faqLink->end - 1, true}, {lastOnLine->end, false},
               {anchor->position, false}, {-1, false},              {100000, false}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.offset);
    pCurrentPage = first;
    HistoryI = 0;
    TargetPos = -5;
    HtmlProcessLink(c.offset);
    EXPECT_EQ(pCurrentPage != first, c.follows);
    EXPECT_EQ(TargetPos, c.follows ? 0 : -5);
  }
  flBuildingFile = 1;
  HtmlProcessLink(faqLink->position);
  EXPECT_EQ(pCurrentPage, first);
}

TEST_F(HtmlTest, HelpThatCannotBeLoaded) {
  struct {
    const char *name, *text, *output;
  } cases[] = {
      {"nope.htm", nullptr, "Error in reading HTML file nope.htm\n"},
      {"http://host/h.htm", nullptr, "Error in reading HTML file http://host/h.htm\n"},
      {"buf", "<body>no page</body>", "Error reading HTML buffer\n"},
      {nullptr, nullptr, ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.output);
    testing::internal::CaptureStdout();
    EXPECT_EQ(HtmlHelp(c.name, c.text), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.output);
  }
  EXPECT_EQ(HtmlHelp("buf", "<html><body>x<br></body>"), 1);
  EXPECT_EQ(flBuildingFile, 0);
}

}  // namespace
