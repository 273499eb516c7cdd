// Test fixture of the help renderer: the file table, history and current
// page emptied around every test, a temporary working directory for help
// files, and helpers that load a text and show its element lists compactly.
#pragma once
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "html.h"

namespace htmltest {

inline void resetHelp() { HtmlReleaseFiles(); }

// Elements as text: a run as [text], a tag as <name attrs>, an "a" tag as
// <a kind:target>.
inline std::string showList(const List *list) {
  std::string out;
  for (const ListNode *n = list->head; n != nullptr; n = n->next) {
    auto *e = static_cast<const HtmlElement *>(n->item);
    if (e->tag == nullptr) {
      out += "[" + std::string(static_cast<const char *>(e->text)) + "]";
    } else if (std::string(e->tag) == "a" || std::string(e->tag) == "A") {
      auto *link = static_cast<const HtmlLink *>(e->text);
      out += "<a " + std::to_string(link->kind) + ":" + (link->target ? link->target : "null") + ">";
    } else {
      std::string attrs = static_cast<const char *>(e->text);
      out += "<" + std::string(e->tag) + (attrs.empty() ? "" : " " + attrs) + ">";
    }
  }
  return out;
}

inline HtmlLink *linkN(const HtmlPage *page, int n) {
  return *static_cast<HtmlLink **>(ListFindItemN(page->links, n));
}

class HtmlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetHelp();
    char tmpl[] = "/tmp/html-test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(dir_);
    resetHelp();
  }
  static void writeFile(const std::string &name, const std::string &text) {
    std::ofstream(name, std::ios::binary) << text;
  }
  // Loads a one-page help file with the given body; its laid-out text.
  static std::string layOut(const std::string &body) {
    std::string text = "<html><body>" + body + "</body></html>";
    if (ParseHtmlFile("t.htm", text.c_str()) == nullptr) return "(no page)";
    return pCurrentPage->text;
  }

 private:
  std::string dir_;
  std::filesystem::path old_;
};

}  // namespace htmltest
