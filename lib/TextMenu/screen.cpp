// The screen image: a character image of the terminal that the pick screen
// is drawn into and then written out row by row, and the few terminal
// operations it needs, written as plain ANSI escape sequences.
//
// Every write into the image is bounded by the image: text is cut at the end
// of its row, areas are clipped.
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "MemMgr.h"
#include "TextMenu.h"

ScreenImage *pCurImage = nullptr;
char CurLineBuf[MENU_ROW_SIZE];
char *pCurLine = CurLineBuf;

namespace {

constexpr int kDefaultWidth = 80;
constexpr int kDefaultHeight = 24;
constexpr int kMaxHeight = 1000;

int fixedWidth = 0, fixedHeight = 0;   // SetTermSize

void querySize(int *width, int *height) {
  *width = kDefaultWidth;
  *height = kDefaultHeight;
  if (fixedWidth > 0 && fixedHeight > 0) {
    *width = fixedWidth;
    *height = fixedHeight;
    return;
  }
  struct winsize ws;
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0) {
    *width = ws.ws_col;
    *height = ws.ws_row;
  }
}

int clampInt(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

}  // namespace

void SetTermSize(int width, int height) {
  fixedWidth = width;
  fixedHeight = height;
}

ScreenImage *GetTermInfo(ScreenImage *image) {
  if (image == nullptr) {
    image = static_cast<ScreenImage *>(GetMem(sizeof(ScreenImage)));
    if (image == nullptr) SysError("%s", OutOfMem);
  }
  int width, height;
  querySize(&width, &height);
  width = clampInt(width, 1, MENU_ROW_SIZE - 1);
  height = clampInt(height, 1, kMaxHeight);
  if (image->cells == nullptr || image->width != width || image->height != height) {
    PutMem(image->cells);
    image->cells = static_cast<char *>(GetMem(static_cast<size_t>(width) * height));
    if (image->cells == nullptr) SysError("%s", OutOfMem);
    image->width = width;
    image->height = height;
  }
  memset(image->cells, ' ', static_cast<size_t>(width) * height);
  image->cursorCol = 0;
  image->cursorRow = 1;
  return image;
}

void ClearScreen(ScreenImage *image) {
  fputs("\033[H\033[2J", stdout);
  if (image != nullptr && image->cells != nullptr)
    memset(image->cells, ' ', static_cast<size_t>(image->width) * image->height);
}

void MoveCursor(ScreenImage *, int col, int row) {
  printf("\033[%d;%dH", row + 1, col + 1);
  fflush(stdout);
}

void SetPosition(ScreenImage *image, int col, int row) {
  image->cursorCol = col;
  image->cursorRow = row;
}

ScreenImage *SetOvlInfo(ScreenImage *image, int col, int row, int width, int height) {
  image->ovlCol = col;
  image->ovlRow = row;
  image->ovlWidth = width;
  image->ovlHeight = height;
  return image;
}

void WriteString(ScreenImage *image, const char *fmt, ...) {
  char buf[MENU_WRITE_SIZE];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  if (image == nullptr || image->cells == nullptr) return;
  if (image->cursorRow < 1 || image->cursorRow > image->height) image->cursorRow = 1;
  if (image->cursorCol < 1 || image->cursorCol > image->width) image->cursorCol = 0;
  size_t room = static_cast<size_t>(image->width - image->cursorCol);
  size_t n = strlen(buf);
  if (n > room) n = room;
  memcpy(image->cells + static_cast<size_t>(image->cursorRow - 1) * image->width + image->cursorCol,
         buf, n);
}

void FillArea(ScreenImage *image, int col, int row, int cols, int rows, char ch) {
  if (image == nullptr || image->cells == nullptr) return;
  int c0 = clampInt(col, 0, image->width), c1 = clampInt(col + cols, 0, image->width);
  int r0 = clampInt(row, 0, image->height), r1 = clampInt(row + rows, 0, image->height);
  for (int r = r0; r < r1; r++)
    if (c1 > c0) memset(image->cells + static_cast<size_t>(r) * image->width + c0, ch, c1 - c0);
}

// Rows are not separated: a full row wraps on the terminal. The last cell
// is left out so that the terminal does not scroll.
int Refresh(ScreenImage *image) {
  if (image == nullptr || image->cells == nullptr) return 0;
  const char *p = image->cells;
  const char *end = image->cells + static_cast<size_t>(image->width) * image->height - 1;
  for (int row = 0; row < image->height; row++) {
    pCurLine = CurLineBuf;
    for (int n = 0; n < image->width && p < end && *p != '\n'; n++) *pCurLine++ = *p++;
    if (p < end && *p == '\n') p++;
    *pCurLine = '\0';
    printf("%s", CurLineBuf);
  }
  fflush(stdout);
  return 0;
}

ScreenImage *Overlay(ScreenImage *image, const char *text, int wait) {
  const int savedCol = image->cursorCol, savedRow = image->cursorRow;
  const int width = image->ovlWidth > 0 ? image->ovlWidth : 0;
  const char *p = text != nullptr ? text : "";
  int row = image->ovlRow;
  auto starLine = [&]() {
    MoveCursor(image, image->ovlCol, row++);
    for (int i = 0; i < width + 4; i++) putchar('*');
  };
  starLine();
  for (int line = 0; line < image->ovlHeight && *p != '\0'; line++) {
    MoveCursor(image, image->ovlCol, row++);
    fputs("* ", stdout);
    int n = 0;
    for (; n < width && *p != '\0' && *p != '\n'; n++) putchar(*p++);
    if (*p == '\n') p++;
    for (; n < width; n++) putchar(' ');
    fputs(" *", stdout);
  }
  if (wait) {
    MoveCursor(image, image->ovlCol, row++);
    constexpr char kPress[] = "* Press enter";
    fputs(kPress, stdout);
    for (int n = static_cast<int>(strlen(kPress)); n < width + 3; n++) putchar(' ');
    putchar('*');
  }
  starLine();
  fflush(stdout);
  if (wait) {
    if (getchar() == EOF) MenuInputEnded();
  }
  MoveCursor(image, savedCol, savedRow - 1);   // the image counts rows from 1
  return image;
}

// A test pattern: the digits 0 to 9 over the first 24 rows of 80 cells, as
// far as the image reaches.
char *NumberScreen(ScreenImage *image) {
  const int rows = image->height < kDefaultHeight ? image->height : kDefaultHeight;
  const int cols = image->width < kDefaultWidth ? image->width : kDefaultWidth;
  for (int r = 0; r < rows; r++)
    for (int c = 0; c < cols; c++)
      image->cells[static_cast<size_t>(r) * image->width + c] = static_cast<char>('0' + c % 10);
  return image->cells;
}
