// tphelp: prints a help file as the terminal help lays it out, page after
// page, each followed by the targets of its hyperlinks numbered in the order
// they are marked. With --page NAME only the page that holds the named page
// or anchor is printed, from the anchor's line on. With -i the file is
// browsed with the terminal help menu instead, from the named page or anchor
// when one is given.
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>

#include "Handles.h"
#include "HelpTty.h"
#include "NlsUtils.h"
#include "SysCmd.h"
#include "TextMenu.h"
#include "html.h"
#include "toolbase.h"
#include "utils.h"

namespace {

constexpr char kUsage[] = "usage: tphelp [-i] [--page NAME] FILE\n";

void printReferences(const HtmlPage *page) {
  int n = 0;
  for (const ListNode *l = page->links->head; l != nullptr; l = l->next) {
    const HtmlLink *link = *static_cast<HtmlLink **>(l->item);
    if (link->kind != LINK_HREF) continue;
    if (n++ == 0) printf("\nReferences:\n\n");
    printf("[%d] %s\n", n, link->target != nullptr ? link->target : "");
  }
}

void printPage(int number, const HtmlPage *page, const char *from) {
  if (page->name != nullptr) printf("-- page %d: %s --\n", number, page->name);
  else printf("-- page %d --\n", number);
  fputs(from, stdout);
  printReferences(page);
}

// The file name without "file://" and "#target", for the readability check.
bool readable(const char *name) {
  if (strncasecmp(name, "file://", 7) == 0) name += 7;
  char path[4096];
  CopyStr(path, sizeof path, name);
  if (char *hash = strchr(path, '#')) *hash = '\0';
  FileHandle f(fopen(path, "rb"));
  if (!f) {
    fprintf(stderr, "tphelp: cannot read %s: %s\n", path, strerror(errno));
    return false;
  }
  return true;
}

// Moves to the named page or anchor; false, after a message, when the file
// has none of that name.
bool goToPage(const char *pageName, const char *fileName) {
  const int before = HistoryI;
  GoToTarget(pageName);
  if (HistoryI != before) return true;
  fprintf(stderr, "tphelp: no page or anchor %s in %s\n", pageName, fileName);
  return false;
}

// Browses the loaded help with the terminal help menu until the user leaves.
int browse(const char *pageName, const char *fileName) {
  if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
    fputs("tphelp: standard input and output must be a terminal to browse\n", stderr);
    return 1;
  }
  if (!FillCmdPath(CMD_CLEAR) || !FillCmdPath(CMD_SH)) {
    fputs("tphelp: the commands clear and sh are needed to browse\n", stderr);
    return 1;
  }
  pToolPath = FindToolBase(TPHELP_TOOL_PATH);
  pDrvCoreDB = NlsOpenDB("CoreString", 0);
  my_name = const_cast<char *>("tphelp");
  if (!HtmlHelp(fileName, nullptr)) return 1;
  if (pageName != nullptr && !goToPage(pageName, fileName)) return 1;
  TtyHelpBuildMenuItems();
  RunMenu(&HelpMenu, nullptr, 1);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  const char *pageName = nullptr;
  const char *fileName = nullptr;
  bool interactive = false;
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--help") == 0) {
      fputs(kUsage, stdout);
      return 0;
    }
    if (strcmp(argv[i], "--page") == 0 && i + 1 < argc) pageName = argv[++i];
    else if (strcmp(argv[i], "-i") == 0) interactive = true;
    else if (argv[i][0] == '-') {
      fputs(kUsage, stderr);
      return 2;
    } else if (fileName != nullptr) {
      fputs(kUsage, stderr);
      return 1;
    } else fileName = argv[i];
  }
  if (fileName == nullptr) {
    fputs(kUsage, stderr);
    return 1;
  }
  if (strncasecmp(fileName, "http://", 7) == 0) {
    fprintf(stderr, "tphelp: %s: only local help files can be shown\n", fileName);
    return 1;
  }
  if (!readable(fileName)) return 1;
  if (interactive) return browse(pageName, fileName);
  HtmlFile *file = ParseHtmlFile(fileName, nullptr);
  if (file == nullptr) {
    fprintf(stderr, "tphelp: %s holds no help page\n", fileName);
    return 1;
  }
  if (pageName != nullptr) {
    if (!goToPage(pageName, fileName)) return 1;
    const char *text = pCurrentPage->text;
    int from = TargetPos;
    while (from > 0 && text[from - 1] != '\n') from--;
    printPage(ListGetItemPos(file->pages, pCurrentPage), pCurrentPage, text + from);
    return 0;
  }
  int number = 0;
  for (const ListNode *n = file->pages->head; n != nullptr; n = n->next) {
    if (number > 0) putchar('\n');
    printPage(++number, static_cast<const HtmlPage *>(n->item), static_cast<const HtmlPage *>(n->item)->text);
  }
  return fflush(stdout) == 0 ? 0 : 1;
}
