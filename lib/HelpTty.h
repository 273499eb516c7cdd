// The terminal help: the current page of an HTML help file shown as a menu
// of the text-menu engine. The page's text is the menu's first line, every
// hyperlink of the page a numbered item, and three fixed items leave the
// help, go to the contents page and go back one page. It is opened by the
// answer "h" of a menu that has help.
#pragma once
#include "TextMenuTypes.h"

// The help menu: centred title, Return stays, every command re-prepares it.
extern MenuDef HelpMenu;
// The items of the help menu, grown through the block manager and kept from
// one use of the help to the next; HelpMenuItemCnt is the capacity.
extern TextMenuItem *HelpMenuItems;
extern int HelpMenuItemCnt;
// The two bars, "exit help", "contents", "back" and the terminator that
// follow the link items on every build.
extern TextMenuItem HelpCommonItems[6];

// Loads the help file (or its data, when given) and runs the help menu until
// the user leaves it. Nothing happens when the path or the title is null or
// the help cannot be loaded.
void TtyHtmlHelp(const char *path, const char *data, const char *title);
// Rebuilds the items and the title from the current page; returns the title
// (a saved copy that is never released).
char *TtyHelpBuildMenuItems();
// Item actions. Each returns non-zero when it moved to another page and
// rebuilt the menu, so the loop shows the menu again, and 0 when there was
// nowhere to go.
int TtyHelpGotoLink(MenuDef *menu, TextMenuItem *item);
int TtyHelpContents(MenuDef *menu, TextMenuItem *item);
int TtyHelpBack(MenuDef *menu, TextMenuItem *item);
