// Menu rendering: the line menu, which scrolls as plain text in 80 columns,
// its bar layout of items in cells, and the pick screen, a full-screen page
// of the choices of a choice item drawn into the screen image.
//
// The pick screen lays the choices out in columns of (height - 6) choices;
// a page starts at the column that holds its first choice. A terminal too
// small for it is refused before any column or row count is divided by.
#include <cstdlib>
#include <cstring>

#include "Handles.h"
#include "NlsUtils.h"
#include "SysCmd.h"
#include "TextMenu.h"

int CurScreenCol = 0;
char CurrentSelection[MENU_SELECTION_SIZE];
char *TPATTYMENU_SAVE = nullptr;
char *TPATTYMENU_CANCEL = nullptr;
char *TPATTYMENU_CURSEL = nullptr;
char *TPATTYMENU_CURSELTRUNC = nullptr;
char *TPATTYMENU_OPTION = nullptr;

namespace {

constexpr int kFrameRows = 6;     // rows of the pick screen that hold no choice
constexpr int kMinHeight = kFrameRows + 1;
constexpr int kColumnGap = 7;     // a column needs its width and this much

// Message 25_number in buf (NLS_STRBUF_SIZE bytes), or its key.
const char *fetch(char *buf, int number) {
  return NlsFetchString(pDrvCoreDB, buf, NLS_BY_NUMBER, 25, number);
}

char *fetchSaved(int number) {
  char buf[NLS_STRBUF_SIZE];
  return SaveStr(fetch(buf, number));
}

void fetchLabels() {
  if (TPATTYMENU_SAVE != nullptr) return;
  TPATTYMENU_SAVE = fetchSaved(201);
  TPATTYMENU_CANCEL = fetchSaved(202);
  TPATTYMENU_CURSEL = fetchSaved(203);
  TPATTYMENU_CURSELTRUNC = fetchSaved(204);
  TPATTYMENU_OPTION = fetchSaved(205);
}

bool chosen(const TextMenuItem *item, int i) {
  if (item->type == MENUITEM_MULTI)
    return i < MENU_MAX_MULTI && ((static_cast<uint64_t>(item->value) >> i) & 1) != 0;
  return item->value == i;
}

// The cell of a bar: "%2i) " or " k) " and the label, w - 1 characters.
void printCell(const TextMenuItem *item, int w, int number) {
  char cell[MENU_TEXT_SIZE];
  if (item->state == 1)
    snprintf(cell, sizeof cell, "    %s", item->label);
  else if (item->type == MENUITEM_TASK)   // no key of its own
    snprintf(cell, sizeof cell, "%2i) %s", number, ShownLabel(item));
  else if (item->label[0] == '~')
    snprintf(cell, sizeof cell, " %c) %s", item->key, ShownLabel(item));
  else
    snprintf(cell, sizeof cell, "%2i) %s", item->key, item->label);
  const int text = w - 2 > 0 ? w - 2 : 0;
  printf("%-*.*s ", text, text, cell);
}

// The selection shown at the foot of the pick screen: the current choice, or
// every chosen one followed by a blank.
void buildSelection(const TextMenuItem *item) {
  BoundedBuf sel(CurrentSelection);
  for (int i = 0; i < item->choiceCount; i++) {
    if (!chosen(item, i)) continue;
    const char *text = GetChoiceText(item, i);
    if (text == nullptr) continue;
    sel.append(text);
    if (item->type == MENUITEM_MULTI) sel.append(' ');
  }
}

}  // namespace

const char *ShownLabel(const TextMenuItem *item) {
  const char *label = item->label != nullptr ? item->label : "";
  if (label[0] == '~') return strlen(label) >= 3 ? label + 3 : "";
  return label;
}

// --------------------------------------------------------------- line menu --

TextMenuItem *PrintMenuBarItem(TextMenuItem *bar, uint32_t type, int *walked, int *number) {
  TextMenuItem *item = bar;
  if (type == MENUITEM_ROW) {
    // A row group: the labels that follow, one a line.
    while (item[1].label != nullptr && item[1].type == MENUITEM_LABEL) {
      ++item;
      ++*walked;
      if (item->state != 2) printf("%s\n", item->label);
    }
    return item;
  }
  int c = bar->value > 0 ? static_cast<int>(bar->value) : 3;
  int w = MENU_SCREEN_COLS / c;
  int used = 0;
  while (item[1].label != nullptr) {
    ++item;
    ++*walked;
    if (item->type == MENUITEM_BAR) {
      putchar('\n');
      c = item->value > 0 ? static_cast<int>(item->value) : 3;
      w = MENU_SCREEN_COLS / c;
      used = 0;
      continue;
    }
    if (item->state == 2) continue;
    const int n = item->labelLen;
    if (used + n > MENU_SCREEN_COLS || (used > 0 && n > w - 5)) {
      putchar('\n');
      used = 0;
    }
    if (item->type >= MENUITEM_APPLY && item->label[0] != '~') *number = static_cast<int>(item->key);
    printCell(item, w, *number);
    if (n > w - c) {
      putchar('\n');
      used = 0;
    } else {
      used += w;
    }
  }
  return item;
}

int PrintMenu(MenuDef *menu, int labelWidth, int titleWidth) {
  SysCmd(-CMD_CLEAR, 1, " ");
  const char *title = menu->title != nullptr ? menu->title : "";
  const int room = titleWidth <= MENU_SCREEN_COLS ? MENU_SCREEN_COLS - titleWidth : 0;
  switch (menu->titleAlign) {
    case 0: printf("\f\n%s:\n\n", title); break;
    case 1: printf("\f\n%*s%s\n\n", room / 2, "", title); break;
    case 2: printf("\f\n%*s%s\n\n", room, "", title); break;
    default: break;
  }
  char text[NLS_STRBUF_SIZE];
  int walked = 0, number = 0;
  for (TextMenuItem *item = menu->items; item != nullptr && item->label != nullptr; item++) {
    const int index = static_cast<int>(item - menu->items);
    walked++;
    const uint32_t type = item->type;
    if (item->state == 2 && type != MENUITEM_ROW && type != MENUITEM_BAR) continue;
    if (type == MENUITEM_SUBMENU) {
      MenuDef *sub = ValidateMenu(menu, index);
      if (sub == nullptr) continue;
      if (item->label[0] != '~') number = static_cast<int>(item->key);
      printf("%2i) %s ", item->key, sub->title != nullptr ? sub->title : "");
    } else if (type == MENUITEM_ROW || type == MENUITEM_BAR) {
      item = PrintMenuBarItem(item, type, &walked, &number);
    } else if (type == MENUITEM_LABEL) {
      printf("%s ", item->label);
    } else if (item->state == 1) {
      printf("%*s  %s ", 2, " ", item->label);
    } else if (type == MENUITEM_TASK) {   // no key of its own
      printf("%2i) %s ", number, ShownLabel(item));
    } else if (item->label[0] == '~') {
      printf(" %c) %s ", item->key, ShownLabel(item));
    } else {
      number = static_cast<int>(item->key);
      printf("%2i) %s ", item->key, item->label);
    }
    if (type > MENUITEM_SUBMENU && type <= MENUITEM_REAL) {
      for (int k = item->labelLen; k < labelWidth; k++) putchar('.');
      switch (type) {
        case MENUITEM_CHOICE:
          if (item->value >= 0 && ChoiceVisible(item, static_cast<int>(item->value)))
            printf(" [%i. %s]", static_cast<int>(item->value) + 1,
                   GetChoiceText(item, static_cast<int>(item->value)));
          else
            fputs(" [ ]", stdout);
          break;
        case MENUITEM_MULTI:
          fputs(fetch(text, 270), stdout);
          if (item->value == 1) {
            fputs(fetch(text, 271), stdout);
          } else {
            const char *sep = "";
            for (int i = 0; i < item->choiceCount; i++) {
              if (!chosen(item, i)) continue;
              printf("%s%d", sep, i + 1);
              sep = ",";
            }
          }
          putchar(']');
          break;
        case MENUITEM_INT: printf(" [%i]", static_cast<int>(item->value)); break;
        case MENUITEM_REAL: printf(" [%.3f]", static_cast<double>(MenuReal(item->value))); break;
        default: {
          const char *value = reinterpret_cast<const char *>(item->value);
          printf(" [%s]", value != nullptr ? value : "");
          break;
        }
      }
    }
    printf("\n%s", (menu->flags & MENU_COMPACT) ? "" : "\n");
  }
  char store[NLS_STRBUF_SIZE], help[NLS_STRBUF_SIZE], leave[NLS_STRBUF_SIZE];
  Nlsfprintf(stdout, pDrvCoreDB, 25, 510,
             (menu->flags & (MENU_STORE_NAMED | MENU_STORE_DEFAULT)) ? fetch(store, 230) : "",
             (menu->flags & MENU_HAS_HELP) ? fetch(help, 231) : "",
             (menu->flags & MENU_RETURN_STAYS) ? "" : fetch(leave, 232));
  fflush(stdout);
  return walked;
}

// ------------------------------------------------------------- pick screen --

int GetColumnWidths(ScreenImage *image, TextMenuItem *item, int *widths) {
  const int rows = item->choiceCount < image->height - kFrameRows ? item->choiceCount
                                                                   : image->height - kFrameRows;
  if (rows < 1) return 0;
  int widest = 0;
  for (int i = 0; i < item->choiceCount; i++) {
    const char *text = GetChoiceText(item, i);
    // The marker counts: the text is one character longer in the list.
    int len = text != nullptr ? static_cast<int>(strlen(text)) + 1 : 0;
    int &w = widths[i / rows];
    if (i % rows == 0) w = 0;
    if (len > w) w = len;
    if (len > widest) widest = len;
  }
  return widest;
}

void WriteScreenFrame(ScreenImage *image, TextMenuItem *item, const char *selection) {
  fetchLabels();
  const char *label = ShownLabel(item);
  const int len = static_cast<int>(strlen(label));
  SetPosition(image, len < image->width ? (image->width - len) / 2 : 0, 1);
  WriteString(image, "%s", label);
  SetPosition(image, 0, image->height - 2);
  WriteString(image, "%s", TPATTYMENU_SAVE);
  SetPosition(image, image->width / 2, image->height - 2);
  WriteString(image, "%s", TPATTYMENU_CANCEL);
  SetPosition(image, 0, image->height - 1);
  const int fmtLen = static_cast<int>(strlen(TPATTYMENU_CURSEL));
  const int selLen = static_cast<int>(strlen(selection));
  if (selLen > image->width - fmtLen + 2) {
    char cut[MENU_SELECTION_SIZE];
    int keep = image->width - fmtLen - 1;
    if (keep < 0) keep = 0;
    if (keep >= static_cast<int>(sizeof cut)) keep = sizeof cut - 1;
    CopyStr(cut, static_cast<size_t>(keep) + 1, selection);
    WriteString(image, TPATTYMENU_CURSELTRUNC, cut);
  } else {
    WriteString(image, TPATTYMENU_CURSEL, selection);
  }
  SetPosition(image, 0, image->height);
  WriteString(image, "%s", TPATTYMENU_OPTION);
}

int PrintPickOneManyScreen(TextMenuItem *item, uint64_t *hidden, int first) {
  const int count = item->choiceCount;
  if (first == 0 || pCurImage == nullptr) {
    pCurImage = GetTermInfo(pCurImage);
    CurScreenCol = 0;
    fetchLabels();
    if (hidden != nullptr) memset(hidden, 0, sizeof(uint64_t) * ((count + 63) / 64));
  }
  ScreenImage *image = pCurImage;
  const int rows = image->height - kFrameRows;
  const int footer = static_cast<int>(strlen(TPATTYMENU_SAVE) + strlen(TPATTYMENU_CANCEL));
  const int columns = rows >= 1 && count > 0 ? (count + rows - 1) / rows : 0;
  MemHolder widthsMem(GetMem(sizeof(int) * (columns > 0 ? columns : 1)));
  int *widths = static_cast<int *>(widthsMem.get());
  if (widths == nullptr) SysError("%s", OutOfMem);
  const int w0 = rows >= 1 ? GetColumnWidths(image, item, widths) / 2 + 20 : 0;
  if (rows < 1 || image->width < footer || image->width < w0) {
    Nlsfprintf(stdout, pDrvCoreDB, 25, 206);
    Nlsfprintf(stdout, pDrvCoreDB, 25, 207, image->width, image->height);
    Nlsfprintf(stdout, pDrvCoreDB, 25, 208, w0 > footer ? w0 : footer, kMinHeight);
    fflush(stdout);
    if (getchar() == EOF) MenuInputEnded();
    return -1;
  }
  if (first < 0 || first >= count) return -1;
  ClearScreen(image);
  MoveCursor(image, 0, 0);

  // The page's columns, from the one that holds its first choice.
  CurScreenCol = first / rows;
  int taken = 0, used = 0;
  for (int k = CurScreenCol; k < columns; k++) {
    const int need = widths[k] + kColumnGap;
    if (used + need > image->width) break;
    used += need;
    taken++;
  }
  if (taken == 0) {   // one column cut to the width (half of it fits)
    taken = 1;
    used = image->width;
  }
  const int pageEnd = first + rows * taken;
  const int last = pageEnd < count ? pageEnd : count;
  const int extra = (image->width - used) / taken;

  buildSelection(item);
  int start = 0;
  for (int i = first; i < last; i++) {
    const int col = (i - first) / rows;
    if (i > first && (i - first) % rows == 0) start += widths[CurScreenCol + col - 1] + kColumnGap;
    const int x = start + col * extra;
    const int row = 3 + (i - first) % rows;
    const bool visible = ChoiceVisible(item, i) != 0;
    if (!visible && hidden != nullptr) hidden[i / 64] |= uint64_t{1} << (i % 64);
    if (chosen(item, i)) {
      SetPosition(image, x, row);
      WriteString(image, " ->");
    }
    if (visible) {
      SetPosition(image, x + 4, row);
      WriteString(image, "%2d) ", i + 1);
    }
    const char *text = GetChoiceText(item, i);
    const int len = static_cast<int>(strlen(text));
    const int limit = image->width - x - 8;
    SetPosition(image, x + 8, row);
    if (col == 0 && len > limit)
      WriteString(image, "%.*s...", limit > 3 ? limit - 3 : 0, text);
    else
      WriteString(image, "%s", text);
  }
  WriteScreenFrame(image, item, CurrentSelection);
  Refresh(image);
  MoveCursor(image, static_cast<int>(strlen(TPATTYMENU_OPTION)), image->height - 1);
  return last < pageEnd ? 0 : last - first;
}
