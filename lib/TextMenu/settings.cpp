// The settings file of a menu: one line per value item, "index[value] type
// state", and a block "index{" ... "}" for each submenu.
//
// A settings file is untrusted input: a line that names no value item, a state
// outside 0..2, a type that would change how an item keeps its value, or a
// text longer than the item's buffer changes nothing. A file is written as
// a new file beside the old one and moved over it only when complete.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "TextMenu.h"

namespace {

constexpr int kMaxMenuDepth = 16;   // nested submenu blocks followed at most

int countItems(const MenuDef *menu) {
  int n = 0;
  while (menu->items[n].label != nullptr) n++;
  return n;
}

// The kind of storage of an item's value: a type read from a file is taken
// only when it keeps the kind.
int storageOf(uint32_t type) {
  switch (type) {
    case MENUITEM_NAME:
    case MENUITEM_STRING: return 1;   // pointer to a text buffer
    case MENUITEM_INT:
    case MENUITEM_REAL: return 2;     // a number
    case MENUITEM_CHOICE: return 3;   // a choice index
    default: return 0;
  }
}

void storeMenu(MenuDef *menu, int depth) {
  if (menu == nullptr || menu->items == nullptr || pOut == nullptr || depth > kMaxMenuDepth)
    return;
  TextMenuItem *items = menu->items;
  for (int i = 0; items[i].label != nullptr; i++) {
    const TextMenuItem &item = items[i];
    switch (item.type) {
      case MENUITEM_CHOICE:
      case MENUITEM_INT:
        fprintf(pOut, "%i[%i] %i %i\n", i, static_cast<int>(item.value), item.type, item.state);
        break;
      case MENUITEM_NAME:
      case MENUITEM_STRING: {
        const char *text = reinterpret_cast<const char *>(item.value);
        fprintf(pOut, "%i[%s] %i %i\n", i, text != nullptr ? text : "", item.type, item.state);
        break;
      }
      case MENUITEM_REAL:
        fprintf(pOut, "%i[%.3f] %i %i\n", i, static_cast<double>(MenuReal(item.value)), item.type,
                item.state);
        break;
      default: break;
    }
  }
  for (int i = 0; items[i].label != nullptr; i++) {
    if (items[i].type != MENUITEM_SUBMENU) continue;
    MenuDef *sub = ValidateMenu(menu, i);
    if (sub == nullptr) continue;
    fprintf(pOut, "%i{\n", i);
    storeMenu(sub, depth + 1);
    fprintf(pOut, "}\n");
  }
}

// Applies one "index[text] type state" line to the menu.
void loadLine(MenuDef *menu, const char *line) {
  const char *p = line;
  char *end;
  long index = strtol(p, &end, 10);
  if (end == p || *end == '\0') return;
  p = end + 1;                               // the character after the index
  while (*p != '\0' && isspace(static_cast<unsigned char>(*p))) p++;
  size_t len = strcspn(p, " \t\r\n\v\f");
  if (len > 0 && p[len - 1] == ']') len--;
  const char *text = p;
  const char *close = strrchr(line, ']');
  if (close == nullptr || close[1] == '\0' || close[1] == '\n') return;
  if (index < 0 || index >= countItems(menu)) return;
  TextMenuItem &item = menu->items[index];
  // Only the value items are ever written; a line for any other item (a
  // label, a submenu, the exit) would otherwise change its state, hiding a
  // submenu whose values the next store then leaves out.
  if (storageOf(item.type) == 0) return;
  int type = 0, state = -1;
  int got = sscanf(close + 1, "%i %i", &type, &state);
  if (got == 2 && state >= 0 && state <= 2) item.state = state;
  char word[MENU_TEXT_SIZE];
  const bool fits = len < sizeof word;
  if (fits) {
    memcpy(word, text, len);
    word[len] = '\0';
  }
  // The type read replaces the item's own only within the same kind of
  // value; the value is read as the type the item will have, so that a line
  // turning a real into an integer (or back) does not leave the other
  // type's bits behind as its value.
  const bool retype = got >= 1 && type != 0 && type <= static_cast<int>(MENUITEM_REAL) &&
                      storageOf(static_cast<uint32_t>(type)) == storageOf(item.type);
  const uint32_t newType = retype ? static_cast<uint32_t>(type) : item.type;
  switch (newType) {
    case MENUITEM_CHOICE: {
      if (!fits) return;
      long v = strtol(word, nullptr, 10);
      if (v < 0 || v >= item.choiceCount) return;
      item.value = v;
      UpdateStateSelection(&item);
      break;
    }
    case MENUITEM_INT:
      if (!fits) return;
      item.value = static_cast<int32_t>(strtol(word, nullptr, 10));
      break;
    case MENUITEM_NAME:
    case MENUITEM_STRING:
      if (!fits || item.value == 0) return;
      CopyStr(reinterpret_cast<char *>(item.value), MENU_TEXT_SIZE, word);
      break;
    case MENUITEM_REAL:
      if (!fits) return;
      item.value = MenuRealBits(strtof(word, nullptr));
      break;
    default: return;
  }
  item.type = newType;
}

void loadMenu(MenuDef *menu, int depth) {
  flLoadedSettings = 1;
  while (GetFileLine()) {
    if (LineBuf[0] == '}') {
      TextMenuItem *apply = FindTextMenuItem(menu, MENUITEM_APPLY);
      if (apply != nullptr && apply->action != nullptr) apply->action(menu, apply);
      return;
    }
    char *end;
    long index = strtol(LineBuf, &end, 10);
    if (end != LineBuf && *end == '{' && depth < kMaxMenuDepth && index >= 0 &&
        index < countItems(menu)) {
      MenuDef *sub = ValidateMenu(menu, static_cast<int>(index));
      if (sub != nullptr && sub->items != nullptr) {
        loadMenu(sub, depth + 1);
        continue;
      }
    }
    loadLine(menu, LineBuf);
  }
}

}  // namespace

void StoreMenu(MenuDef *menu) { storeMenu(menu, 0); }

void LoadMenu(MenuDef *menu) {
  if (menu == nullptr || menu->items == nullptr) return;
  loadMenu(menu, 0);
}

int StoreMenuFile(MenuDef *menu, const char *path) {
  char newPath[LINEBUF_SIZE];
  int n = snprintf(newPath, sizeof newPath, "%s_new", path != nullptr ? path : "");
  if (path == nullptr || n < 0 || static_cast<size_t>(n) >= sizeof newPath) return 0;
  // Whatever stands at the new file's name (a stale file, a planted link) is
  // removed, never written through.
  unlink(newPath);
  int fd = open(newPath, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    ErrorMsg(1, 0, "can't open file %s: %s", newPath, strerror(errno));
    return 0;
  }
  FILE *const edit = pOut;   // an edit's output stream stays as it was
  pOut = fdopen(fd, "w");
  if (pOut == nullptr) {
    pOut = edit;
    close(fd);
    unlink(newPath);
    return 0;
  }
  StoreMenu(menu);
  bool ok = fflush(pOut) == 0 && !ferror(pOut) && fsync(fileno(pOut)) == 0;
  ok = fclose(pOut) == 0 && ok;
  pOut = edit;
  if (ok && rename(newPath, path) == 0) return 1;
  ErrorMsg(1, 0, "couldn't write %s", path);
  unlink(newPath);
  return 0;
}
