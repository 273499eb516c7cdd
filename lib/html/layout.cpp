// Laying a page out as text: the page's elements are placed on a grid of
// 132-byte rows, tables are sized and drawn with ASCII rules, hyperlinks are
// marked with "<" and ">", and the grid is flattened into one text of
// newline-ended lines with every link's start and end offset in it.
//
// The grid and the flattened text share the page's text block: the text
// grows at the block's start and the rows still being written follow it.
// A row is flattened as soon as nothing can write to it any more, so the
// block holds the text and a few rows, never a grid of the whole page; rows
// past HTML_MAX_GRID_ROWS are dropped. A table is sized once ("table"
// becomes "fitab"), its sizes clamped so that a hostile page costs bounded
// work.
#include "html.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "MemMgr.h"
#include "large_pages.h"
#include "utils.h"

char HtmlFitab[] = "fitab";

constexpr char HtmlKeys[] =
    ",p,/p,b,/b,font,/font,a,/a,tr,/tr,br,table,fitab,/table,td,/td,h1,h2,h3,h4,h5,h6,"
    "/h1,/h2,/h3,/h4,/h5,/h6,ol,/ol,li,/li,div,/div,img,";

namespace {

// Item numbers of HtmlKeys.
enum Key {
  K_P = 1, K_P_END, K_B, K_B_END, K_FONT, K_FONT_END, K_A, K_A_END, K_TR, K_TR_END, K_BR,
  K_TABLE, K_FITAB, K_TABLE_END, K_TD, K_TD_END, K_H1, K_H6 = K_H1 + 5, K_H1_END,
  K_H6_END = K_H1_END + 5, K_OL, K_OL_END, K_LI, K_LI_END, K_DIV, K_DIV_END, K_IMG
};

constexpr int MAX_PIXELS = 7 * HTML_MAX_TABLE_WIDTH;
constexpr long GRID_LIMIT = static_cast<long>(HTML_MAX_GRID_ROWS) * HTML_COLUMNS;
// Flattened rows leave a gap between the text and the rows still being
// written; beyond this many bytes the rows move down to the text again, so
// that the block's used part stays small and stays in the cache.
constexpr long GRID_GAP = 16384;
constexpr long GRID_BLOCK = 65536;   // the least text block of a page

// State of one page's layout that spans the nested calls.
struct Layout {
  bool inList;          // inside an ordered list
  int item;             // its last item number
  HtmlLink *lastLink;   // the last "a" not yet closed
  bool linkOpen;        // lastLink is a hyperlink whose "<" is written
  int depth;            // tables enclosing the current one (layout)
  int sizing;           // tables being sized (GetTextTable)
};
Layout layout;

// ------------------------------------------------------------- tag names --

// HtmlKeys as a hash table of tag names packed lower-case into 8 bytes, so
// that a tag is classified with a probe or two; every name of the list is
// shorter than 8 characters.
constexpr int KEY_SLOTS = 128;
struct KeyTable {
  uint64_t name[KEY_SLOTS];
  uint8_t item[KEY_SLOTS];
};

constexpr unsigned char lowerAscii(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

constexpr size_t slotOf(uint64_t packed) { return (packed * 0x9E3779B97F4A7C15ULL) >> 57; }

constexpr KeyTable keyTable = [] {
  KeyTable t{};
  int item = 0;
  for (const char *p = HtmlKeys + 1; *p != '\0'; p++) {
    uint64_t packed = 0;
    for (int i = 0; *p != ','; p++, i++) packed |= static_cast<uint64_t>(static_cast<unsigned char>(*p)) << (8 * i);
    size_t slot = slotOf(packed);
    while (t.item[slot] != 0) slot = (slot + 1) % KEY_SLOTS;
    t.name[slot] = packed;
    t.item[slot] = static_cast<uint8_t>(++item);
  }
  return t;
}();

// The item of a tag name in HtmlKeys (letter case ignored), 0 for none. A
// name holding the list's separator is left to FindTokenC, which can match
// it across items.
int findKey(const char *name) {
  uint64_t packed = 0;
  for (int i = 0; i < 8; i++) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (c == ',') return FindTokenC(name, HtmlKeys);
    if (c == '\0') {
      for (size_t slot = slotOf(packed); i > 0 && keyTable.item[slot] != 0; slot = (slot + 1) % KEY_SLOTS)
        if (keyTable.name[slot] == packed) return keyTable.item[slot];
      return 0;
    }
    packed |= static_cast<uint64_t>(lowerAscii(c)) << (8 * i);
  }
  return strchr(name, ',') != nullptr ? FindTokenC(name, HtmlKeys) : 0;
}

// The element's item in HtmlKeys; "fitab" only for a table the layout has
// sized, never for a tag of that name written in the page.
int keyOf(const HtmlElement *e) {
  if (e->tag == nullptr) return 0;
  int k = findKey(e->tag);
  return k == K_FITAB && e->tag != HtmlFitab ? 0 : k;
}

HtmlElement *nextElement() { return static_cast<HtmlElement *>(ListWalk(pCurrentPage->body, 1)); }

// ------------------------------------------------------------------ grid --

// The grid of the page being laid out. In the page's text block the
// flattened text comes first (out bytes), then, from window on, the rows
// from row base to the last one written; rows before done are flattened
// already. Every byte of the block from high on is zero, and out never
// passes the start of row done: a row of 132 bytes never flattens into
// more than its own bytes.
struct Grid {
  HtmlPage *page;     // the page being laid out, null when none
  char *block;        // its text block
  long size;          // bytes of the block for rows; two more follow
  long out;
  long window;
  long base;
  long done;
  long high;
  int *lineAt;        // text offset of each flattened row
  long lineCap;
};
Grid grid;

long offsetOf(long row, long column) { return row * HTML_COLUMNS + column; }

// Block offset of grid offset at.
long blockOffset(long at) { return grid.window + at - grid.base * HTML_COLUMNS; }

bool gridOf(const HtmlPage *page) {
  return page != nullptr && page->laying && grid.page == page && grid.block == page->text;
}

void dropGrid() {
  PutMem(grid.lineAt);
  grid = Grid{};
}

// Moves the rows not yet flattened down to the end of the text.
void compactGrid() {
  long from = blockOffset(offsetOf(grid.done, 0));
  long live = std::max(0L, grid.high - from);
  memmove(grid.block + grid.out, grid.block + from, static_cast<size_t>(live));
  memset(grid.block + grid.out + live, 0, static_cast<size_t>(grid.high - grid.out - live));
  grid.window = grid.out;
  grid.base = grid.done;
  grid.high = grid.out + live;
}

// Makes the block hold the grid up to grid offset end (compacting it, then
// growing it); false when it cannot grow.
bool reachGrid(long end) {
  if (blockOffset(end) <= grid.size) return true;
  compactGrid();
  if (blockOffset(end) <= grid.size) return true;
  long size = std::max(blockOffset(end), 2 * grid.size);
  auto *block = static_cast<char *>(GetMem(static_cast<size_t>(size) + 2));
  if (block == nullptr) return false;
  memcpy(block, grid.block, static_cast<size_t>(grid.high));
  PutMem(grid.block);
  grid.block = grid.page->text = block;
  grid.size = size;
  return true;
}

// Writes n bytes (src, or n times fill when src is null) at grid offset at;
// what falls outside the largest grid, or on rows flattened already, is
// dropped.
void writeGrid(long at, const char *src, long n, char fill) {
  if (!gridOf(pCurrentPage) || n <= 0) return;
  const long first = offsetOf(grid.done, 0);
  if (at < first) {
    if (src != nullptr) src += first - at;
    n -= first - at;
    at = first;
  }
  n = std::min(n, GRID_LIMIT - at);
  if (n <= 0) return;
  if (!reachGrid(at + n)) return;
  long to = blockOffset(at);
  if (src != nullptr) memcpy(grid.block + to, src, static_cast<size_t>(n));
  else memset(grid.block + to, fill, static_cast<size_t>(n));
  grid.high = std::max(grid.high, to + n);
}

// Notes the text offset of row; false when the table cannot grow.
bool noteLine(long row, long offset) {
  if (row >= grid.lineCap) {
    // A line takes a byte of the text at least, and most take many more.
    long cap = std::max({2 * grid.lineCap, row + 1024, grid.size / 32});
    void *more = AdjustMem(grid.lineAt, static_cast<size_t>(cap) * sizeof(int));
    if (more == nullptr) return false;
    grid.lineAt = static_cast<int *>(more);
    grid.lineCap = cap;
  }
  grid.lineAt[row] = static_cast<int>(offset);
  return true;
}

// Flattens the rows from done on that lie before row limit: each row's text
// up to its first NUL, then "\n". A row whose text runs into the rows it
// covers (132 characters or more) takes them along. Unless final, a row is
// only taken when its NUL lies before row limit, where nothing can write
// any more.
void flattenGrid(long limit, bool final) {
  while (grid.done < limit) {
    // The text never passes the start of the row being flattened, so the
    // block holding that row holds the text too.
    if (!reachGrid(offsetOf(grid.done + 1, 0))) return;
    long start = blockOffset(offsetOf(grid.done, 0));
    long len = static_cast<long>(strnlen(grid.block + start, static_cast<size_t>(std::max(0L, grid.high - start))));
    if (!final && offsetOf(grid.done, len) >= offsetOf(limit, 0)) break;
    long span = len / HTML_COLUMNS;
    for (long s = 0; s <= span && grid.done + s < limit; s++)
      if (!noteLine(grid.done + s, grid.out + s * HTML_COLUMNS)) return;
    memmove(grid.block + grid.out, grid.block + start, static_cast<size_t>(len));
    grid.out += len;
    grid.block[grid.out++] = '\n';
    grid.high = std::max(grid.high, grid.out);
    grid.done += span + 1;
  }
  if (blockOffset(offsetOf(grid.done, 0)) - grid.out > GRID_GAP) compactGrid();
}

// A number from a page attribute, clamped so that sums of them stay small.
int readNumber(const char *text) {
  long v = strtol(text, nullptr, 10);
  return static_cast<int>(std::clamp<long>(v, 0, MAX_PIXELS));
}

// Walks past the end of a table whose "table" element was just taken.
void skipTable() {
  int depth = 0;
  for (HtmlElement *e = nextElement(); e != nullptr; e = nextElement()) {
    int k = keyOf(e);
    if (k == K_TABLE || k == K_FITAB) depth++;
    else if (k == K_TABLE_END && depth-- == 0) return;
  }
}

// The value text of a width attribute (one leading double quote skipped)
// among attrs, copied into buf; false when there is none.
bool findWidth(const char *attrs, char *buf) {
  const char *cursor = attrs;
  char word[TOKEN_BUF_SIZE];
  for (char *w = GetTokenD(attrs, " \t\n\r", &cursor, word); w != nullptr;
       w = GetTokenD(nullptr, " \t\n\r", &cursor, word)) {
    char *eq = strchr(w, '=');
    if (eq == nullptr) continue;
    *eq = '\0';
    if (strcasecmp(w, "width") != 0) continue;
    const char *value = eq + 1;
    if (*value == '"') value++;
    CopyStr(buf, TOKEN_BUF_SIZE, value);
    return true;
  }
  return false;
}

int sumOf(const int *v, int n) {
  int s = 0;
  for (int i = 0; i < n; i++) s += v[i];
  return s;
}

// Sizes one table; the walk stands after its "table" element and ends after
// its "/table".
HtmlTable *sizeTable(HtmlElement *element, int available) {
  auto *t = static_cast<HtmlTable *>(GetMem(sizeof(HtmlTable)));
  if (t == nullptr) SysError("Unable to allocate memory");
  // Work arrays of this nesting level; a row's height is cleared by its tr.
  static int work[HTML_MAX_TABLE_DEPTH][3][HTML_MAX_TABLE_CELLS];
  int *rowH = work[layout.sizing - 1][0];
  int *colW = work[layout.sizing - 1][1];
  int *colSet = work[layout.sizing - 1][2];   // explicit widths from the cells
  // Column entries are cleared as far as the scan reaches them.
  int cleared = 0;
  auto clearTo = [&](int n) {
    if (n <= cleared) return;
    memset(colW + cleared, 0, static_cast<size_t>(n - cleared) * sizeof(int));
    memset(colSet + cleared, 0, static_cast<size_t>(n - cleared) * sizeof(int));
    cleared = n;
  };

  t->rule = 1;
  int borderPx = 0, spacingPx = 0, paddingPx = 0;
  char widthText[TOKEN_BUF_SIZE];
  bool hasWidth = false;
  const char *attrs = static_cast<const char *>(element->text);
  const char *cursor = attrs;
  char word[TOKEN_BUF_SIZE];
  for (char *w = GetTokenD(attrs, " \t\n\r", &cursor, word); w != nullptr;
       w = GetTokenD(nullptr, " \t\n\r", &cursor, word)) {
    char *eq = strchr(w, '=');
    const char *value = "";
    if (eq != nullptr) {
      *eq = '\0';
      value = eq + 1;
    }
    switch (FindTokenC(w, ",border,cellspacing,cellpadding,width,")) {
      case 1:
        t->border = 1;
        borderPx = eq != nullptr ? readNumber(value) : 1;
        break;
      case 2: spacingPx = readNumber(value); break;
      case 3: paddingPx = readNumber(value); break;
      case 4:
        if (*value == '"') value++;
        CopyStr(widthText, sizeof widthText, value);
        hasWidth = true;
        break;
      default: break;
    }
  }
  int columns = GetColumnCnt();
  t->cellspacing = spacingPx / 7;
  t->cellpadding = paddingPx / 7;
  int width = 0;
  if (hasWidth) {
    int w = readNumber(widthText);
    if (strchr(widthText, '%') != nullptr) width = available > 0 ? available * w / 100 : 0;
    else width = (w - 2 * paddingPx * columns - (columns + 1) * spacingPx - (columns + 1) * borderPx) / 7;
    width = std::clamp(width, 0, HTML_MAX_TABLE_WIDTH);
  }
  t->width = width;

  int row = -1, rows = 0, cell = -1, h = 0;
  auto inCell = [&] { return row >= 0 && cell >= 0 && cell < HTML_MAX_TABLE_CELLS; };
  auto grow = [&](int w, int lines) {
    clearTo(cell + 1);
    colW[cell] = std::max(colW[cell], std::min(w, HTML_MAX_TABLE_WIDTH));
    h += lines;
    rowH[row] = std::max(rowH[row], h);
  };
  for (HtmlElement *e = nextElement(); e != nullptr; e = nextElement()) {
    int k = keyOf(e);
    if (e->tag == nullptr) {
      if (inCell()) grow(e->length, 1);
      continue;
    }
    if (k == K_TABLE_END) break;
    switch (k) {
      case K_TR:
        row = rows < HTML_MAX_TABLE_CELLS ? rows : -1;
        if (row >= 0) rowH[row] = 0;
        h = 0;
        cell = -1;
        break;
      case K_TD: {
        cell++;
        clearTo(std::min(cell + 1, HTML_MAX_TABLE_CELLS));
        char value[TOKEN_BUF_SIZE];
        if (width != 0 && e->length > 0 && cell < HTML_MAX_TABLE_CELLS && colSet[cell] == 0 &&
            findWidth(static_cast<const char *>(e->text), value)) {
          int v = readNumber(value);
          int cw = strchr(value, '%') != nullptr ? width * v / 100 - 2 * t->cellpadding - t->rule : v / 7;
          colSet[cell] = std::clamp(cw, 0, HTML_MAX_TABLE_WIDTH);
        }
        break;
      }
      case K_TABLE:
      case K_FITAB: {
        HtmlTable *nested = nullptr;
        if (k == K_FITAB) {
          nested = static_cast<HtmlTable *>(e->text);
          skipTable();
        } else if (layout.sizing >= HTML_MAX_TABLE_DEPTH) {
          skipTable();
        } else {
          nested = GetTextTable(nullptr, e, inCell() ? colSet[cell] : 0);
        }
        if (nested != nullptr && inCell()) grow(nested->width, nested->height);
        break;
      }
      case K_TD_END: h = 0; break;
      case K_TR_END:
        if (row >= 0) {
          if (rowH[row] == 0) rowH[row] = h;
          rows++;
        }
        row = -1;
        columns = std::max(columns, std::min(cell, HTML_MAX_TABLE_CELLS));
        break;
      default: break;
    }
  }

  clearTo(columns);
  element->tag = HtmlFitab;
  element->text = t;
  if (hasWidth && width != 0) {
    for (int c = 0; c < columns; c++)
      if (colSet[c] > 0) colW[c] = colSet[c];
  }
  if (width == 0) width = std::min(2 * t->cellpadding * columns + columns + 1 + sumOf(colW, columns), HTML_MAX_TABLE_WIDTH);
  t->width = width;
  t->height = sumOf(rowH, rows) + rows + 1;
  t->rows = rows;
  t->columns = columns;
  if (rows > 0) {
    t->rowHeights = static_cast<int *>(GetMem(static_cast<size_t>(rows) * sizeof(int)));
    memcpy(t->rowHeights, rowH, static_cast<size_t>(rows) * sizeof(int));
  }
  if (columns > 0) {
    t->colWidths = static_cast<int *>(GetMem(static_cast<size_t>(columns) * sizeof(int)));
    memcpy(t->colWidths, colW, static_cast<size_t>(columns) * sizeof(int));
  }
  return t;
}

// One rule or text line of a bordered table: ends, fill and column joints.
void drawTableLine(const HtmlTable *t, int row, char end, char fill, char joint) {
  long at = offsetOf(row, t->x);
  writeGrid(at, nullptr, t->width, fill);
  int pos = 0;
  for (int c = 0; c < t->columns; c++) {
    pos += t->colWidths[c] + 2 * t->cellpadding + 1;
    if (pos >= t->width - 1) break;
    writeGrid(at + pos, nullptr, 1, joint);
  }
  writeGrid(at, nullptr, 1, end);
  writeGrid(at + t->width - 1, nullptr, 1, end);
}

}  // namespace

void PrintText(HtmlFile *, int *row, int *column, const char *text, int length, int fill) {
  if (row == nullptr || column == nullptr || text == nullptr || length <= 0) return;
  long at = offsetOf(*row, *column);
  if (length == 1) writeGrid(at, text, 1, 0);
  else if (fill) writeGrid(at, nullptr, length, text[0]);
  else writeGrid(at, text, length, 0);
  if (length < HTML_COLUMNS) {
    *column += length;
  } else {
    *row += length / HTML_COLUMNS;
    *column = length % HTML_COLUMNS;
  }
}

void BuildTextImage(HtmlFile *file) {
  HtmlPage *page = pCurrentPage;
  if (page == nullptr) return;
  // Another page's grid in the making is given up: that page is laid out
  // again when its text is asked for.
  dropGrid();
  PutMem(page->text);
  page->text = nullptr;
  // A page's text rarely needs more than a few bytes per element; the part
  // of the block that is never written costs no memory.
  long size = std::min(GRID_LIMIT, GRID_BLOCK + 32L * page->body->count);
  grid.block = page->text = static_cast<char *>(GetMem(static_cast<size_t>(size) + 2));
  if (grid.block == nullptr) SysError("Unable to allocate memory");
  htmlpages::adviseLargePages(grid.block, static_cast<size_t>(size) + 2);
  grid.page = page;
  grid.size = size;
  page->laying = 1;
  ListDelAllItems(page->links);
  page->lines = 0;
  layout = Layout{};
  int row = 0, column = 0;
  bool inTitle = false;
  for (ListNode *n = page->head->head; n != nullptr; n = n->next) {
    auto *e = static_cast<HtmlElement *>(n->item);
    if (e->tag != nullptr) {
      if (strcasecmp(e->tag, "title") == 0) inTitle = true;
      else if (strcasecmp(e->tag, "/title") == 0) inTitle = false;
      continue;
    }
    if (!inTitle) continue;
    int start = column;
    int pad = std::max(0, (80 - e->length) / 2);
    PrintText(file, &row, &column, " ", pad, 1);
    PrintText(file, &row, &column, static_cast<const char *>(e->text), e->length, 0);
    row += 2;
    column = start;
  }
  BuildTextBody(file, nullptr, row, 0);
}

void BuildTextBody(HtmlFile *file, HtmlTable *table, int row, int column) {
  HtmlPage *page = pCurrentPage;
  if (page == nullptr) return;
  int left = 0, cell = -1, rowTop = row, tableRow = 0;
  if (table != nullptr) {
    DrawTableArea(file, table);
    row = table->y + 1;
    column = table->x + 1;
    left = table->x + table->cellpadding + 1;
  }
  auto newLine = [&] {
    row++;
    column = table != nullptr ? left : 0;
  };
  auto columnWidth = [&](int c) {
    return table != nullptr && c >= 0 && c < table->columns ? table->colWidths[c] : 0;
  };
  HtmlElement *e = static_cast<HtmlElement *>(ListWalk(page->body, table != nullptr ? 1 : 0));
  const bool flattens = table == nullptr && gridOf(page);
  for (; e != nullptr; e = nextElement()) {
    // Outside tables the rows above the cursor are complete: nothing of the
    // page writes above the row it stands on.
    if (flattens && row > grid.done) flattenGrid(std::min(row, HTML_MAX_GRID_ROWS), false);
    if (e->tag == nullptr) {
      PrintText(file, &row, &column, static_cast<const char *>(e->text), e->length, 0);
      continue;
    }
    int k = keyOf(e);
    switch (k) {
      case K_P:
        if (table == nullptr) {
          newLine();
          newLine();
        }
        break;
      case K_P_END:
        if (table == nullptr) newLine();
        break;
      case K_BR:
      case K_DIV:
        newLine();
        break;
      case K_DIV_END:
        newLine();
        newLine();
        break;
      case K_A: {
        auto *link = static_cast<HtmlLink *>(e->text);
        link->position = row;
        link->end = column;
        layout.lastLink = link;
        layout.linkOpen = link->kind == LINK_HREF;
        if (layout.linkOpen) PrintText(file, &row, &column, "<", 1, 0);
        break;
      }
      case K_A_END:
        if (layout.linkOpen) PrintText(file, &row, &column, ">", 1, 0);
        layout.linkOpen = false;
        if (layout.lastLink != nullptr) {
          HtmlLink *link = layout.lastLink;
          link->length = std::max(0, static_cast<int>(offsetOf(row - link->position, column - link->end)));
          ListPushItem(page->links, &link, sizeof link);
          layout.lastLink = nullptr;
        }
        break;
      case K_OL:
        layout.inList = true;
        layout.item = 0;
        break;
      case K_OL_END:
        layout.inList = false;
        newLine();
        break;
      case K_LI:
        if (layout.inList) {
          newLine();
          char number[24];
          int n = snprintf(number, sizeof number, "   %i. ", ++layout.item);
          PrintText(file, &row, &column, number, n, 0);
        }
        break;
      case K_TABLE:
      case K_FITAB: {
        if (k == K_TABLE) {
          if (layout.inList) newLine();
          if (layout.depth >= HTML_MAX_TABLE_DEPTH) {
            skipTable();
            break;
          }
          ListNode *after = page->body->cursor;
          HtmlTable *sized = GetTextTable(file, e, columnWidth(cell));
          page->body->cursor = after;
          if (sized == nullptr) break;
        }
        auto *t = static_cast<HtmlTable *>(e->text);
        if (table != nullptr) {
          t->x = left;
          t->y = column > left ? row + 1 : row;
        } else {
          // Text on the row comes first: a table beside it would have
          // nothing before its left edge on its other rows, and a row's
          // text ends at its first NUL, so all but its first line would
          // be lost, and the text after it with them.
          if (column > 0) newLine();
          t->x = column;
          t->y = row;
        }
        layout.depth++;
        BuildTextBody(file, t, t->y, t->x);
        layout.depth--;
        row = t->y + t->height;
        column = t->x;
        if (table != nullptr) column = left;
        break;
      }
      case K_TR:
        if (table != nullptr) {
          cell = -1;
          left = table->x + table->cellpadding + 1;
          column = table->x + 1;
          rowTop = row;
        }
        break;
      case K_TD:
        if (table != nullptr) {
          row = rowTop;
          if (++cell > 0) left += columnWidth(cell - 1) + 2 * table->cellpadding + 1;
          column = left;
        }
        break;
      case K_TR_END:
        if (table != nullptr) {
          int height = tableRow < table->rows ? table->rowHeights[tableRow] : 0;
          row = rowTop + height + 1;
          tableRow++;
        }
        break;
      case K_TABLE_END:
        if (table != nullptr) return;
        break;
      default:
        if (k >= K_H1 && k <= K_H6) newLine();
        else if (k >= K_H1_END && k <= K_H6_END) {
          newLine();
          newLine();
        }
        break;
    }
  }
  // The lines are the rows before the final one: text on the last row that
  // no line-breaking tag follows is not part of the page's text.
  if (table == nullptr) page->lines = std::clamp(row, 0, HTML_MAX_GRID_ROWS);
}

int GetColumnCnt() {
  if (pCurrentPage == nullptr) return 0;
  List *body = pCurrentPage->body;
  ListNode *saved = body->cursor;
  int depth = 0, count = 0, most = 0;
  for (HtmlElement *e = nextElement(); e != nullptr; e = nextElement()) {
    int k = keyOf(e);
    if (k == K_TABLE || k == K_FITAB) depth++;
    else if (k == K_TABLE_END && depth-- == 0) break;
    else if (depth == 0 && k == K_TR) count = 0;
    else if (depth == 0 && k == K_TD) count++;
    else if (depth == 0 && k == K_TR_END) most = std::max(most, count);
  }
  body->cursor = saved;
  return std::min(most, HTML_MAX_TABLE_CELLS);
}

HtmlTable *GetTextTable(HtmlFile *, HtmlElement *element, int available) {
  if (pCurrentPage == nullptr || element == nullptr || layout.sizing >= HTML_MAX_TABLE_DEPTH) return nullptr;
  layout.sizing++;
  HtmlTable *t = sizeTable(element, available);
  layout.sizing--;
  return t;
}

void DrawTableArea(HtmlFile *, HtmlTable *t) {
  if (t == nullptr || t->width <= 0 || t->height <= 0) return;
  int last = std::min(t->y + t->height, HTML_MAX_GRID_ROWS);
  if (!t->border) {
    for (int r = t->y; r < last; r++) writeGrid(offsetOf(r, t->x), nullptr, t->width, ' ');
    return;
  }
  int r = t->y;
  for (int i = 0; i < t->rows && r < last; i++) {
    drawTableLine(t, r++, '|', '-', '+');
    for (int j = 0; j < t->rowHeights[i] && r < last; j++) drawTableLine(t, r++, '|', ' ', '|');
  }
  drawTableLine(t, r, '\'', '-', '+');
  writeGrid(offsetOf(t->y, t->x), nullptr, 1, ',');
  writeGrid(offsetOf(t->y, t->x) + t->width - 1, nullptr, 1, ',');
}

void PrintTextImage(HtmlFile *file) {
  HtmlPage *page = pCurrentPage;
  if (page == nullptr) return;
  if (page->text == nullptr || (page->laying && !gridOf(page))) BuildTextImage(file);
  if (!gridOf(page)) return;   // flattened already
  const int lines = std::clamp(page->lines, 0, HTML_MAX_GRID_ROWS);
  flattenGrid(lines, true);
  const long out = grid.out;
  grid.block[out] = '\0';
  page->lines = lines;
  page->laying = 0;
  for (ListNode *n = page->links->head; n != nullptr; n = n->next) {
    HtmlLink *link = *static_cast<HtmlLink **>(n->item);
    long row = link->position + link->end / HTML_COLUMNS;
    long pos = row < lines && row < grid.lineCap ? grid.lineAt[row] + link->end % HTML_COLUMNS : out;
    pos = std::clamp(pos, 0L, out);
    link->position = static_cast<int>(pos);
    link->end = static_cast<int>(std::min(pos + link->length, out));
  }
  dropGrid();
}

int GetLinkLabelLen(const HtmlLink *link) {
  if (link == nullptr) return 0;
  return std::clamp(link->end - link->position - 2, 0, 127);
}
