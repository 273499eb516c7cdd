// Pages laid out as text: titles, paragraphs, lists, marked links, bordered
// and borderless tables with padding and nested widths, runs with newlines,
// long lines, the last row, and the limits on what a page may ask for.
#include "html_fixture.h"

#include <string>

namespace {

using htmltest::HtmlTest;
using htmltest::linkN;

std::string repeat(const std::string &s, int n) {
  std::string out;
  for (int i = 0; i < n; i++) out += s;
  return out;
}

struct LayoutCase {
  std::string body;
  std::string text;
};

TEST_F(HtmlTest, BodyIsLaidOut) {
  const std::string nestedRow = " ,-+" + std::string(16, '-') + ",";
  const LayoutCase cases[] = {
      {"text<p>more</p>", "text\n\nmore\n"},
      {"<ol><li>One<li>Two</ol>", "\n   1. One\n   2. Two\n"},
      {"<h1>H</h1>x<div>d</div>y<br>", "\nH\n\nx\nd\n\ny\n"},
      {"<a href=\"#x\">Install</a><br>", "<Install>\n"},
      {"a<a name=\"x\">b</a>c<br>", "abc\n"},
      {"<table border><tr><td>abc</td><td>de</td></tr></table>", ",---+--,\n|abc|de|\n'---+--'\n"},
      {"<table><tr><td>abc</td><td>de</td></tr></table>", "        \n abc de \n        \n"},
      {"<table border cellpadding=7><tr><td>ab</td></tr><tr><td>c</td></tr></table>",
       ",----,\n| ab |\n|----|\n| c  |\n'----'\n"},
      {"<table width=\"50%\" border><tr><td>ab</td></tr></table>", ",--,\n|ab|\n'--'\n"},
      {"<table width=600><tr><td width=280><table width=\"50%\" border><tr><td>n</td></tr></table></td>"
       "</tr></table>",
       std::string(85, ' ') + "\n" + nestedRow + std::string(64, ' ') + "\n |n|" + std::string(16, ' ') + "|" +
           std::string(64, ' ') + "\n '-+" + std::string(16, '-') + "'" + std::string(64, ' ') + "\n" +
           std::string(85, ' ') + "\n"},
      {"<ol><li><table border><tr><td>t</td></tr></table></ol>", "\n   1. \n,-,\n|t|\n'-'\n\n"},
      {"a\n  b<a href=x>L</a><br>", "a\nb<L>\n"},
      // Text on the last row that no break follows is not shown; a table
      // after text starts below it: beside it, its lower lines and what
      // follows were lost.
      {"a<br>b", "a\n"},
      {"<h1>H</h1>Intro<table border><tr><td>t</td></tr></table>after<br>", "\nH\n\nIntro\n,-,\n|t|\n'-'\nafter\n"},
      {"<fitab border>a<br>", "a\n"},
      {repeat("x", 140) + "<a href=y>L</a><br>", repeat("x", 140) + "<L>\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.body.substr(0, 80));
    htmltest::resetHelp();
    EXPECT_EQ(layOut(c.body), c.text);
  }
}

// Pages far larger than the rows a layout keeps at a time: the lines and
// link offsets come out whole across the moves and the growth of the block.
TEST_F(HtmlTest, LargePagesComeOutWhole) {
  std::string body, text;
  for (int i = 0; i < 20000; i++) {
    body += "line " + std::to_string(i) + (i % 1000 == 0 ? "<a href=x>L</a>" : "") + "<br>";
    text += "line " + std::to_string(i) + (i % 1000 == 0 ? "<L>" : "") + "\n";
  }
  EXPECT_EQ(layOut(body), text);
  ASSERT_EQ(pCurrentPage->links->count, 20);
  for (int n = 1; n <= 20; n++) {
    const HtmlLink *link = linkN(pCurrentPage, n);
    EXPECT_EQ(std::string(pCurrentPage->text + link->position, 3), "<L>");
  }
  htmltest::resetHelp();
  const std::string run = repeat("x", 300000);
  EXPECT_EQ(layOut(run + "<a href=y>L</a><br>after<br>"), run + "<L>\nafter\n");
  EXPECT_EQ(linkN(pCurrentPage, 1)->position, 300000);
}

// One page's layout given up for another's is done again when its text is
// asked for.
TEST_F(HtmlTest, InterleavedLayoutsComeOutWhole) {
  HtmlFile *file = ParseHtmlFile("t.htm", "<html><body>one<p>two</body><html page=\"b\"><body>three<br></body>");
  ASSERT_NE(file, nullptr);
  auto *a = static_cast<HtmlPage *>(ListFindItemN(file->pages, 1));
  auto *b = static_cast<HtmlPage *>(ListFindItemN(file->pages, 2));
  const std::string textA = a->text, textB = b->text;
  pCurrentPage = a;
  BuildTextImage(file);
  pCurrentPage = b;
  BuildTextImage(file);
  PrintTextImage(file);
  pCurrentPage = a;
  PrintTextImage(file);
  EXPECT_EQ(a->text, textA);
  EXPECT_EQ(b->text, textB);
  EXPECT_EQ(a->lines, 2);
}

TEST_F(HtmlTest, TitleIsCentredInEightyColumns) {
  ParseHtmlFile("t.htm", "<html><head><title>Help</title></head><body>x<br></body>");
  EXPECT_STREQ(pCurrentPage->text, (std::string(38, ' ') + "Help\n\nx\n").c_str());
  EXPECT_EQ(pCurrentPage->lines, 3);
}

struct LinkCase {
  const char *body;
  int position, end, length, label;
};

TEST_F(HtmlTest, LinksKnowTheirOffsets) {
  const LinkCase cases[] = {
      {"<a href=\"#x\">Install</a><br>", 0, 9, 9, 7},
      {"a<a name=\"x\">b</a>c<br>", 1, 2, 1, 0},
      {"a\n b<a href=x>L</a><br>", 3, 6, 3, 1},
      {"x<br>y<a href=x></a><br>", 3, 5, 2, 0},
      {"x<a name=n></a><br>", 1, 1, 0, 0},
      {"x<br><a href=x>on the last row</a>", 2, 2, 17, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.body);
    htmltest::resetHelp();
    layOut(c.body);
    ASSERT_EQ(pCurrentPage->links->count, 1);
    const HtmlLink *link = linkN(pCurrentPage, 1);
    EXPECT_EQ(link->position, c.position);
    EXPECT_EQ(link->end, c.end);
    EXPECT_EQ(link->length, c.length);
    EXPECT_EQ(GetLinkLabelLen(link), c.label);
  }
  htmltest::resetHelp();
  layOut(repeat("x", 140) + "<a href=y>L</a><br>");
  EXPECT_EQ(linkN(pCurrentPage, 1)->position, 140);
}

TEST_F(HtmlTest, EmptyFrameOfATable) {
  HtmlPage page{};
  page.head = ListCreate();
  page.body = ListCreate();
  page.links = ListCreate();
  pCurrentPage = &page;
  BuildTextImage(nullptr);
  int heights[] = {1};
  int widths[] = {3, 2};
  HtmlTable table{};
  table.width = 8;
  table.height = 3;
  table.rule = 1;
  table.border = 1;
  table.rowHeights = heights;
  table.colWidths = widths;
  table.rows = 1;
  table.columns = 2;
  DrawTableArea(nullptr, &table);
  table.border = 0;
  table.y = 3;
  DrawTableArea(nullptr, &table);
  page.lines = 6;
  PrintTextImage(nullptr);
  EXPECT_STREQ(page.text, ",---+--,\n|   |  |\n'---+--'\n        \n        \n        \n");
}

TEST_F(HtmlTest, PageLimitsAreKeptAndThePageStillShown) {
  const std::string bigTable = "<table border>" + repeat("<tr><td>x</td></tr>", 1005) + "</table><br>end<br>";
  const std::string deep = repeat("<table><tr><td>", 40) + "in" + repeat("</td></tr></table>", 40) + "<br>end<br>";
  const std::string wide = "<table border width=99999999999 cellpadding=-70><tr><td>w</td></tr></table><br>end<br>";
  const std::string rows = repeat("<p>", 30000) + "end<br>";
  const std::string unclosed = "<table border><tr><td>t";
  for (const std::string *body : {&bigTable, &deep, &wide, &rows, &unclosed}) {
    SCOPED_TRACE(body->substr(0, 60));
    htmltest::resetHelp();
    std::string text = layOut(*body);
    if (body != &unclosed) {
      EXPECT_NE(text.find("end"), std::string::npos);
    }
  }
  htmltest::resetHelp();
  layOut(bigTable);
  auto *e = static_cast<HtmlElement *>(pCurrentPage->body->head->item);
  auto *table = static_cast<HtmlTable *>(e->text);
  EXPECT_STREQ(e->tag, "fitab");
  EXPECT_EQ(table->rows, HTML_MAX_TABLE_CELLS);
  htmltest::resetHelp();
  layOut(wide);
  table = static_cast<HtmlTable *>(static_cast<HtmlElement *>(pCurrentPage->body->head->item)->text);
  EXPECT_EQ(table->width, (7 * HTML_MAX_TABLE_WIDTH - 2) / 7);   // the largest width less two border pixels
  EXPECT_EQ(table->cellpadding, 0);
  htmltest::resetHelp();
  layOut(rows);
  EXPECT_EQ(pCurrentPage->lines, 60001);
}

}  // namespace
