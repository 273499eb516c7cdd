// The terminal help menu: the current help page turned into a menu of the
// text-menu engine and rebuilt whenever a link, "contents" or "back" moves
// to another page.
//
// The item array only grows and lives for the process; link labels and
// titles are saved copies made at every build and never released, as the
// help may be opened many times from the same menus.
#include "HelpTty.h"

#include <algorithm>
#include <cstring>

#include "MemMgr.h"
#include "NlsUtils.h"
#include "TextMenu.h"
#include "html.h"

namespace {

constexpr int kCommonItems = 6;
constexpr int kExtraItems = kCommonItems + 1;   // the page text and the common items
constexpr size_t kLabelSize = 128;
constexpr int kMaxLabel = 127;   // characters of a link label
constexpr char kMaker[] = "Tarnu";

char contentsName[] = "contents";
// The catalogue's labels of "exit help", "contents" and "back".
char commonLabels[3][kLabelSize];

// A link becomes an item when it is a hyperlink, or any other link that
// leads away from the page, and covers at least one character.
bool listed(const HtmlLink *link, const HtmlPage *page) {
  const bool away = link->target == nullptr || page->name == nullptr || strcmp(link->target, page->name) != 0;
  return (link->kind == LINK_HREF || away) && link->length >= 1;
}

// Takes the catalogue's label of common item 2 + k when the catalogue has one.
void fetchCommonLabel(int k) {
  char text[NLS_STRBUF_SIZE];
  const char *fetched = NlsFetchString(pDrvCoreDB, text, NLS_BY_NUMBER, 20, 150 + k);
  if (fetched != nullptr && fetched[0] == '~' && fetched[1] != '\0') {
    CopyStr(commonLabels[k], kLabelSize, fetched);
    HelpCommonItems[2 + k].label = commonLabels[k];
  }
  HelpCommonItems[2 + k].key = static_cast<unsigned char>(HelpCommonItems[2 + k].label[1]);
}

TextMenuItem commandItem(const char *label, uint32_t type, int (*action)(MenuDef *, TextMenuItem *)) {
  TextMenuItem item{};
  item.label = label;
  item.type = type;
  item.action = action;
  item.key = static_cast<unsigned char>(label[1]);
  return item;
}

TextMenuItem barItem(int columns) {
  TextMenuItem item{};
  item.label = "";
  item.type = MENUITEM_BAR;
  item.value = columns;
  return item;
}

}  // namespace

TextMenuItem HelpCommonItems[kCommonItems] = {
    barItem(1),
    barItem(3),
    commandItem("~e Exit Help", MENUITEM_EXIT, nullptr),
    commandItem("~c Contents", MENUITEM_COMMAND, TtyHelpContents),
    commandItem("~b Back", MENUITEM_COMMAND, TtyHelpBack),
    TextMenuItem{},
};

TextMenuItem *HelpMenuItems = nullptr;
int HelpMenuItemCnt = 0;

MenuDef HelpMenu = {
    nullptr, 1, nullptr, nullptr, 0, nullptr, nullptr, nullptr,
    MENU_RETURN_STAYS | MENU_REINIT_ON_COMMAND | MENU_TYPE_BEFORE_ACTION | MENU_COMPACT,
};

char *TtyHelpBuildMenuItems() {
  HtmlPage *page = pCurrentPage;
  const int links = page != nullptr ? page->links->count : 0;
  if (HelpMenuItemCnt < links + kExtraItems) {
    void *grown = AdjustMem(HelpMenuItems, sizeof(TextMenuItem) * static_cast<size_t>(links + kExtraItems));
    if (grown == nullptr) SysError("%s", OutOfMem);
    HelpMenuItems = static_cast<TextMenuItem *>(grown);
    HelpMenuItemCnt = links + kExtraItems;
  }
  HelpMenu.items = HelpMenuItems;

  TextMenuItem *item = HelpMenuItems;
  *item = TextMenuItem{};
  item->label = page != nullptr && page->text != nullptr ? page->text : "";
  item->labelLen = static_cast<int32_t>(strlen(item->label));
  item->type = MENUITEM_LABEL;
  item++;
  if (page != nullptr) {
    if (page->name == nullptr) page->name = contentsName;
    uint32_t number = 1;
    for (ListNode *l = page->links->head; l != nullptr; l = l->next) {
      HtmlLink *link = *static_cast<HtmlLink **>(l->item);
      if (!listed(link, page)) continue;
      *item = TextMenuItem{};
      // A hyperlink's label is its text inside its "<" and ">" marks; a name
      // anchor has no marks, and its label is the whole text it covers.
      if (link->kind == LINK_HREF)
        item->label = SaveStr("%.*s", GetLinkLabelLen(link), page->text + link->position + 1);
      else
        item->label = SaveStr("%.*s", std::clamp(link->end - link->position, 0, kMaxLabel),
                              page->text + link->position);
      item->labelLen = static_cast<int32_t>(strlen(item->label));
      item->type = MENUITEM_COMMAND;
      item->key = number++;
      item->action = TtyHelpGotoLink;
      item->userData = link;
      item++;
    }
  }
  for (int k = 0; k < 3; k++) fetchCommonLabel(k);
  for (const TextMenuItem &common : HelpCommonItems) {
    *item = common;
    item->labelLen = common.label != nullptr ? static_cast<int32_t>(strlen(common.label)) : 0;
    item++;
  }
  Nlssprintf(NlsBuf, pDrvCoreDB, 30, 22, kMaker);
  char *title = SaveStr(NlsBuf);
  HelpMenu.title = title;
  return title;
}

int TtyHelpGotoLink(MenuDef *, TextMenuItem *item) {
  ProcessLink(static_cast<HtmlLink *>(item->userData));
  TtyHelpBuildMenuItems();
  return 1;
}

int TtyHelpContents(MenuDef *, TextMenuItem *) {
  if (!HtmlSetHistory(0)) return 0;
  TtyHelpBuildMenuItems();
  return 1;
}

int TtyHelpBack(MenuDef *, TextMenuItem *) {
  if (!HtmlSetHistory(-1)) return 0;
  TtyHelpBuildMenuItems();
  return 1;
}

void TtyHtmlHelp(const char *path, const char *data, const char *title) {
  if (path == nullptr || title == nullptr || !HtmlHelp(path, data)) return;
  TtyHelpBuildMenuItems();
  RunMenu(&HelpMenu, nullptr, 1);
}
