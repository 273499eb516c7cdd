// Help navigation: loading the first help file, following links to anchors,
// named pages and other files, and the back history of 100 places.
//
// After every call the page to show is pCurrentPage, and TargetPos the
// offset in its text to bring into view. Only jumps to anchors and named
// pages are recorded; a full history ignores further jumps.
#include "html.h"

#include <strings.h>

#include <cstdio>
#include <cstring>

#include "utils.h"

HtmlHistoryEntry History[HTML_HISTORY_SIZE];
int HistoryI;
int TargetPos;
uint8_t flBuildingFile;

namespace {

HtmlPage *firstPage(const HtmlFile *file) {
  return file != nullptr && file->pages->head != nullptr ? static_cast<HtmlPage *>(file->pages->head->item)
                                                         : nullptr;
}

HtmlFile *currentFile() { return CurrentFile >= 0 && CurrentFile < FileIndex ? aFile[CurrentFile] : nullptr; }

// A relative link names a file beside the file that holds it, wherever the
// process runs: its target with that file's directory in front, in path
// (size bytes). Other targets come back unchanged.
const char *besideCurrent(const char *target, const HtmlFile *current, char *path, size_t size) {
  if (current == nullptr || target[0] == '/' || strncasecmp(target, "file://", 7) == 0 ||
      strncasecmp(target, "http://", 7) == 0)
    return target;
  const char *slash = strrchr(current->name, '/');
  if (slash == nullptr) return target;
  const int dir = static_cast<int>(slash + 1 - current->name);
  const int n = snprintf(path, size, "%.*s%s", dir, current->name, target);
  return n > 0 && static_cast<size_t>(n) < size ? path : target;
}

}  // namespace

int HtmlHelp(const char *name, const char *text) {
  if (name == nullptr) return 0;
  HistoryI = 0;
  flBuildingFile = 1;
  if (ParseHtmlFile(name, text) == nullptr) {
    if (text != nullptr) printf("Error reading HTML buffer\n");
    else printf("Error in reading HTML file %s\n", name);
    return 0;
  }
  flBuildingFile = 0;
  return 1;
}

void SetHistory() {
  if (HistoryI >= HTML_HISTORY_SIZE) return;
  History[HistoryI++] = HtmlHistoryEntry{CurrentFile, pCurrentPage, TargetPos};
}

void GoToTarget(const char *target) {
  HtmlFile *file = currentFile();
  if (target == nullptr || file == nullptr) return;
  if (*target == '#') target++;
  for (ListNode *n = file->pages->head; n != nullptr; n = n->next) {
    auto *page = static_cast<HtmlPage *>(n->item);
    if (page->name != nullptr && strcmp(page->name, target) == 0) {
      TargetPos = 0;
      SetHistory();
      pCurrentPage = page;
      return;
    }
    for (ListNode *l = page->links->head; l != nullptr; l = l->next) {
      HtmlLink *link = *static_cast<HtmlLink **>(l->item);
      if (link->kind == LINK_NAME && link->target != nullptr && strcmp(link->target, target) == 0) {
        SetHistory();
        pCurrentPage = page;
        TargetPos = link->position;
        return;
      }
    }
  }
}

void ProcessLink(HtmlLink *link) {
  if (link == nullptr || link->target == nullptr) return;
  flBuildingFile = 1;
  const char *target = link->target;
  const char *hash = strrchr(target, '#');
  HtmlFile *current = currentFile();
  if (target[0] == '#') {
    GoToTarget(target);
  } else if (hash != nullptr && current != nullptr &&
             strncmp(target, StripPath(current->name), static_cast<size_t>(hash - target)) == 0) {
    GoToTarget(hash);
  } else {
    char path[4096];
    const char *name = besideCurrent(target, current, path, sizeof path);
    if (HtmlFile *loaded = FindHtmlFile(name); loaded != nullptr && firstPage(loaded) != nullptr)
      pCurrentPage = firstPage(loaded);
    else if (ParseHtmlFile(name, nullptr) == nullptr)
      printf("Error in reading file %s\n", target);
  }
  flBuildingFile = 0;
}

void HtmlProcessLink(int offset) {
  if (flBuildingFile || FileIndex == 0 || pCurrentPage == nullptr || pCurrentPage->links->count == 0) return;
  for (ListNode *l = pCurrentPage->links->head; l != nullptr; l = l->next) {
    HtmlLink *link = *static_cast<HtmlLink **>(l->item);
    if (link->kind == LINK_HREF && link->position <= offset && offset < link->end) {
      TargetPos = offset;
      ProcessLink(link);
      return;
    }
  }
}

int HtmlSetHistory(int mode) {
  if (HistoryI == 0) return 0;
  if (mode == 0) {
    HistoryI = 0;
    if (FileIndex > 0) {
      CurrentFile = 0;
      pCurrentPage = firstPage(aFile[0]);
    }
  } else if (mode == -1) {
    const HtmlHistoryEntry &e = History[--HistoryI];
    CurrentFile = e.file;
    pCurrentPage = e.page;
  }
  return 1;
}
