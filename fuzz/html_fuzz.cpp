// libFuzzer target of the help renderer: the input is a help file's text,
// parsed into pages and laid out; then every in-file link is followed, a
// position in each page chosen, and the history walked back. Links to other
// files are not followed, so nothing outside the input is read.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "MemMgr.h"
#include "html.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  MemHolder text(GetMem(size + 1));
  if (text.get() == nullptr) return 0;
  memcpy(text.get(), data, size);
  HtmlFile *file = ParseHtmlFile("fuzz.htm", text.str());
  if (file != nullptr) {
    for (ListNode *p = file->pages->head; p != nullptr; p = p->next) {
      auto *page = static_cast<HtmlPage *>(p->item);
      bool inFile = true;
      for (ListNode *l = page->links->head; l != nullptr; l = l->next) {
        HtmlLink *link = *static_cast<HtmlLink **>(l->item);
        if (link->target != nullptr && link->target[0] == '#') ProcessLink(link);
        else if (link->kind == LINK_HREF) inFile = false;
        (void)GetLinkLabelLen(link);
      }
      pCurrentPage = page;
      if (inFile) HtmlProcessLink(static_cast<int>(size % 97));
    }
    while (HtmlSetHistory(-1)) {
    }
    HtmlSetHistory(0);
  }
  HtmlReleaseFiles();
  return 0;
}
