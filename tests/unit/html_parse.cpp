// Help files read into pages and element lists: character references and
// white space, the attributes of "a" tags, pages cut by their html tags, the
// file table and its limit.
#include "html_fixture.h"

#include <string>

#include "MemMgr.h"

namespace {

using htmltest::HtmlTest;
using htmltest::showList;

struct BodyCase {
  const char *body;
  const char *elements;
};

TEST_F(HtmlTest, BodyBecomesElements) {
  const BodyCase cases[] = {
      {"&copy;&nbsp;&yuml;&#65;&QUOT;&eacute;<br>", "[\xA9\xA0\xFF" "A\"\xE9]<br>"},
      {"x &lt; y<br>", "[x &lt; y]<br>"},
      {"&lt;y<br>", "[lt;y]<br>"},
      {"a  \n\n  b<br>", "[a b]<br>"},
      {"a\n  b<br>", "[a\nb]<br>"},
      {"  <TD width=5 >c</td>", "<TD width=5 >[c]</td>"},
      // A reference skips to its ";", but only within its run.
      {"&#65 and more;<p>", "[A]<p>"},
      {"x &#65<b>y</b>", "[x &#65]<b>[y]</b>"},
      {"&copy<i>z</i>", "[copy]<i>[z]</i>"},
      {"x &#65", ""},
      {"x&", ""},
      {"a<b", "[a]<b>"},
      {"<a href=\"x.htm#y\">L</a>", "<a 2:x.htm#y>[L]</a>"},
      {"<A href=a NAME=\"b\">", "<a 1:b>"},
      {"<a title=t>", "<a 0:null>"},
      // After the end of a link, bold or font text the next word keeps one
      // blank before it; before a tag, or after other tags, nothing is kept.
      {"<a href=x>L</a> \n now<b>B</B>\tb</font> c<p> d<br>",
       "<a 2:x>[L]</a>[ now]<b>[B]</B>[ b]</font>[ c]<p>[d]<br>"},
      {"<a href=x>L</a> <br>", "<a 2:x>[L]</a><br>"},
      {"<a href=\"un closed>", "<a 2:un>"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.body);
    htmltest::resetHelp();
    std::string text = std::string("<html><body>") + c.body;
    HtmlFile *file = ParseHtmlFile("t.htm", text.c_str());
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(showList(static_cast<HtmlPage *>(file->pages->head->item)->body), c.elements);
  }
}

struct PagesCase {
  const char *text;
  const char *pages;   // name:body per page, "-" for an unnamed page
};

TEST_F(HtmlTest, FileIsCutIntoPages) {
  const PagesCase cases[] = {
      {"<html page=\"one\"><body>A</body></html><html><body>B</body></html>"
       "<html Page=\"two\"><body>C</body></html>",
       "one:[A][B] two:[C] "},
      {"<html><body>A</body></html><html SkipPage><body>S</body></HTML>"
       "<html page=\"p\"><body>C</body></html>",
       "-:[A] p:[C] "},
      {"<html><head><title>T</title></head><head>U</head><body>b</body>", "-:[b] "},
      {"<html page=\"open><body>x</body>", "open:[x] "},
      {"<html SkipPage><body>S</body>", ""},
      {"<body>x</body>", ""},
      {"", ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    htmltest::resetHelp();
    HtmlFile *file = ParseHtmlFile("t.htm", c.text);
    std::string got;
    for (const ListNode *n = file ? file->pages->head : nullptr; n != nullptr; n = n->next) {
      auto *page = static_cast<HtmlPage *>(n->item);
      got += std::string(page->name ? page->name : "-") + ":" + showList(page->body) + " ";
    }
    EXPECT_EQ(got, c.pages);
    EXPECT_EQ(FileIndex, file != nullptr ? 1 : 0);
  }
  htmltest::resetHelp();
  HtmlFile *file = ParseHtmlFile("t.htm", "<html><head><title>T</title></head><body></body>");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(showList(static_cast<HtmlPage *>(file->pages->head->item)->head), "<title>[T]</title>");
}

TEST_F(HtmlTest, LoadingByNameAndTarget) {
  writeFile("help.htm", "<html><body>a<br></body></html><html page=\"p2\"><body>x<a name=\"install\">I</a>"
                        "<br></body></html>");
  EXPECT_EQ(ParseHtmlFile("http://host/help.htm", nullptr), nullptr);
  EXPECT_EQ(ParseHtmlFile("HTTP://help.htm", nullptr), nullptr);
  EXPECT_EQ(ParseHtmlFile("missing.htm", nullptr), nullptr);
  writeFile("empty.htm", "");
  EXPECT_EQ(ParseHtmlFile("empty.htm", nullptr), nullptr);
  EXPECT_EQ(FileIndex, 0);

  HtmlFile *file = ParseHtmlFile("file://help.htm#install", nullptr);
  ASSERT_NE(file, nullptr);
  EXPECT_STREQ(file->name, "help.htm");
  EXPECT_STREQ(pCurrentPage->name, "p2");
  EXPECT_EQ(TargetPos, 1);
  EXPECT_EQ(ParseHtmlFile("file://help.htm#install", nullptr), file);
  EXPECT_EQ(pCurrentPage->name, nullptr);
  EXPECT_EQ(FileIndex, 1);
  EXPECT_EQ(FindHtmlFile("HELP.htm"), nullptr);
}

TEST_F(HtmlTest, FileTableRefusesTheHundredAndFirstFile) {
  for (int i = 0; i < HTML_MAX_FILES; i++) {
    std::string name = "f" + std::to_string(i);
    ASSERT_NE(ParseHtmlFile(name.c_str(), "<html><body>x<br></body>"), nullptr);
  }
  HtmlFile *last = aFile[HTML_MAX_FILES - 1];
  EXPECT_EQ(ParseHtmlFile("one-more", "<html><body>y<br></body>"), nullptr);
  EXPECT_EQ(FileIndex, HTML_MAX_FILES);
  EXPECT_EQ(aFile[HTML_MAX_FILES - 1], last);
  EXPECT_EQ(ParseHtmlFile("f5", nullptr), aFile[5]);
  EXPECT_EQ(CurrentFile, 5);
}

// Anchors make the most records per byte of text, more than the file's
// first chunk holds; every element and link must survive the move to the
// next chunks, and release must give all of them back.
TEST_F(HtmlTest, ElementsOutgrowTheFirstChunk) {
  constexpr int kAnchors = 5000;
  std::string body;
  for (int i = 0; i < kAnchors; i++) body += "<a name=n" + std::to_string(i) + ">x</a><br>";
  HtmlFile *file = ParseHtmlFile("t.htm", ("<html><body>" + body + "</body>").c_str());
  ASSERT_NE(file, nullptr);
  const HtmlPage *page = static_cast<HtmlPage *>(file->pages->head->item);
  EXPECT_EQ(page->body->count, 4 * kAnchors);
  ASSERT_EQ(page->links->count, kAnchors);
  int i = 0;
  for (const ListNode *n = page->links->head; n != nullptr; n = n->next, i++) {
    const HtmlLink *link = *static_cast<HtmlLink **>(n->item);
    ASSERT_EQ(link->target, "n" + std::to_string(i));
    ASSERT_EQ(link->position, 2 * i);
  }
  // Elements added one by one beside the chunks' are released one by one.
  char tag[] = "a", attrs[] = "href=x", run[] = "y";
  AddAtribute(page->body, tag, attrs);
  AddAtribute(page->body, nullptr, run);
  HtmlReleaseFiles();
  EXPECT_EQ(pMemB, nullptr);
}

}  // namespace
