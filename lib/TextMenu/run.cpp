// The interaction loop: a menu shown, one line read, the line mapped to an
// item and the item's value changed or its action run, until the menu is
// left; the pick-screen loop of a choice item; and the prompt helpers.
//
// Every line comes from standard input into LineBuf (or a caller's buffer)
// through MenuGets; the end of input ends the process, so no loop waits for
// ever or acts on a stale line.
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "Handles.h"
#include "MemMgr.h"
#include "NlsUtils.h"
#include "TextMenu.h"
// The one call upwards: the help key opens the terminal help, which is
// itself a menu of this engine.
#include "HelpTty.h"

unsigned char flLoadedSettings = 0;
char *pOption = LineBuf;
const char *pTtyHtmlName = nullptr;
const char *pTtyHtmlData = nullptr;
const char *pTtyHtmlTitle = "Help";

namespace {

constexpr int kUserLineSize = 1024;
constexpr char kSettingsRule[] = "/A(1,255)+-+_+/";
constexpr char kDefaultSettings[] = ".settings";

const char *fetch(char *buf, int number) {
  return NlsFetchString(pDrvCoreDB, buf, NLS_BY_NUMBER, 25, number);
}

int firstLineWidth(const char *title) {
  return title != nullptr ? static_cast<int>(strcspn(title, "\n\r")) : 0;
}

void callAction(MenuDef *menu, TextMenuItem *item) {
  if (item->action != nullptr) item->action(menu, item);
}

// Asks for the settings file name and stores the values there.
void storeNamed(MenuDef *menu) {
  fputs("Enter the settings file name: ", stdout);
  fflush(stdout);
  char name[LINEBUF_SIZE];
  MenuGets(name, sizeof name);
  if (ValidateEntry(name, kSettingsRule) == 0) StoreMenuFile(menu, name);
}

// A text entry for item: the option when given, else a line read after the
// prompt. False for an empty entry or one the rule refuses.
bool readEntry(const TextMenuItem &item, const char *option, char *entry, size_t size) {
  if (option != nullptr && option[0] != '\0') {
    CopyStr(entry, size, option);
  } else {
    printf("%s: ", item.prompt != nullptr ? item.prompt : "");
    fflush(stdout);
    MenuGets(entry, static_cast<int>(size));
  }
  if (entry[0] == '\0') return false;
  return ValidateEntry(entry, item.rule) == 0;
}

bool selectChoice(MenuDef *menu, int index, const char *option) {
  TextMenuItem &item = menu->items[index];
  const int count = item.choiceCount;
  if (count <= 0) return false;
  long v = option != nullptr ? strtol(option, nullptr, 10) : 0;
  long candidate = item.value;
  bool accepted = false;
  if (v >= 1 && v <= count) {
    candidate = v - 1;
    accepted = ChoiceVisible(&item, static_cast<int>(candidate)) != 0;
  }
  if (candidate < 0 || candidate >= count) candidate = count - 1;
  for (int k = 0; !accepted && k < count; k++) {
    candidate = (candidate + 1) % count;
    accepted = ChoiceVisible(&item, static_cast<int>(candidate)) != 0;
  }
  if (!accepted) return false;
  item.previousValue = item.value;
  item.value = candidate;
  item.choiceText = GetChoiceText(&item, static_cast<int>(candidate));
  ProcessStateFormat(menu, index);
  return true;
}

bool hiddenChoice(const uint64_t *hidden, long i) { return (hidden[i / 64] >> (i % 64)) & 1; }

}  // namespace

// ------------------------------------------------------------------ input --

void MenuInputEnded() {
  char text[NLS_STRBUF_SIZE];
  SysError("%s", fetch(text, 1016));
}

char *MenuGets(char *buf, int size) {
  fflush(stdout);
  if (Gets(buf, size) == nullptr) MenuInputEnded();
  return buf;
}

// ------------------------------------------------------------ the loop --

void *RunMenu(MenuDef *menu, const char *settings, unsigned char interactive) {
  if (menu == nullptr) return nullptr;
  if (menu->refreshFn != nullptr) menu->refreshFn(menu);
  if (flExitTextMenu) return nullptr;
  const int labelWidth = InitMenu(menu);
  if (settings != nullptr) {
    if (OpenInputFile(settings, 1)) {
      LoadMenu(menu);
      CloseInputFile();
    } else {
      TextMenuItem *abort = FindTextMenuItem(menu, MENUITEM_ABORT);
      if (abort == nullptr) return nullptr;
      if (abort->action == nullptr) return abort;
      return reinterpret_cast<void *>(static_cast<intptr_t>(abort->action(menu, abort)));
    }
  }
  if (!interactive) return menu->applyFn != nullptr ? menu->applyFn(menu) : menu;

  const int titleWidth = firstLineWidth(menu->title);
  bool changed = false;
  for (;;) {
    const int walked = PrintMenu(menu, labelWidth, titleWidth);
    MenuGets(LineBuf, LINEBUF_SIZE);
    if (LineBuf[0] != '\0' || (menu->flags & MENU_RETURN_STAYS)) {
      const int n = FindSelection(menu, walked);
      if (n == 0) continue;
      TextMenuItem &item = menu->items[n - 1];
      uint32_t type = item.type;
      const bool result = ProcessSelection(menu, n - 1, pOption) != 0;
      if (!(menu->flags & MENU_TYPE_BEFORE_ACTION)) type = item.type;
      if (flExitTextMenu ||
          (result && (type == MENUITEM_APPLY || type == MENUITEM_ABORT || type == MENUITEM_EXIT))) {
        if (!(menu->flags & MENU_KEEP_VALUES)) FreeMenu(menu);
        return nullptr;
      }
      if (result && type == MENUITEM_COMMAND && (menu->flags & MENU_REINIT_ON_COMMAND))
        InitMenu(menu);
      else if (!changed)
        changed = result;
      continue;
    }
    // An empty answer: the user wants to leave.
    if (menu->applyQuestion != nullptr && changed && PromptYN("%s", menu->applyQuestion)) {
      if (!TestNames(menu)) continue;
      if (menu->applyFn != nullptr) menu->applyFn(menu);
      FreeMenu(menu);
      return nullptr;
    }
    if (menu->applyQuestion == nullptr && menu->applyFn != nullptr) menu->applyFn(menu);
    char question[NLS_STRBUF_SIZE];
    bool leave;
    if (menu->parent != nullptr) {
      fetch(question, 1017);
      leave = PromptYN(question, menu->parent->title != nullptr ? menu->parent->title : "");
    } else {
      fetch(question, 1018);
      leave = PromptYN(question, my_name != nullptr ? my_name : "");
      if (leave) {
        putchar('\n');
        fflush(stdout);
      }
    }
    if (leave) {
      FreeMenu(menu);
      return nullptr;
    }
    if (menu->refreshFn != nullptr) menu->refreshFn(menu);
  }
}

int FindSelection(MenuDef *menu, int count) {
  const char *p = LineBuf;
  while (isspace(static_cast<unsigned char>(*p))) p++;
  const char *word = p;
  while (*p != '\0' && !isspace(static_cast<unsigned char>(*p))) p++;
  while (isspace(static_cast<unsigned char>(*p))) p++;
  pOption = const_cast<char *>(p);

  TextMenuItem *items = menu->items;
  // Items without a key (labels, rows, tasks, bars) are never chosen.
  if (isdigit(static_cast<unsigned char>(word[0]))) {
    const long n = strtol(word, nullptr, 10);
    for (int i = 0; i < count && items[i].label != nullptr; i++)
      if (items[i].label[0] != '~' && items[i].state == 0 && items[i].key != 0 &&
          items[i].key == n)
        return i + 1;
    return 0;
  }
  const int c = tolower(static_cast<unsigned char>(word[0]));
  if (c == 'h' && (menu->flags & MENU_HAS_HELP)) {
    TtyHtmlHelp(pTtyHtmlName, pTtyHtmlData, pTtyHtmlTitle);
    return 0;
  }
  if (c == 's' && (menu->flags & MENU_STORE_NAMED)) {
    storeNamed(menu);
    return 0;
  }
  if (c == 's' && (menu->flags & MENU_STORE_DEFAULT)) {
    if (StoreMenuFile(menu, kDefaultSettings)) exit_app(0);
    return 0;
  }
  if (c == 0) return 0;
  for (int i = 0; i < count && items[i].label != nullptr; i++)
    if (items[i].label[0] == '~' && items[i].state == 0 && items[i].key == static_cast<uint32_t>(c))
      return i + 1;
  return 0;
}

unsigned char ProcessSelection(MenuDef *menu, int index, const char *option) {
  TextMenuItem &item = menu->items[index];
  bool result = false;
  switch (item.type) {
    case MENUITEM_APPLY:
      if (!TestNames(menu)) return 0;
      [[fallthrough]];
    case MENUITEM_ABORT:
    case MENUITEM_EXIT:
    case MENUITEM_COMMAND:
      return item.action == nullptr || item.action(menu, &item) == 0;
    case MENUITEM_SUBMENU: {
      MenuDef *sub = ValidateMenu(menu, index);
      if (sub != nullptr) {
        RunMenu(sub, nullptr, 1);
        if (menu->refreshFn != nullptr) menu->refreshFn(menu);
      }
      return 0;
    }
    case MENUITEM_CHOICE:
      result = selectChoice(menu, index, option);
      break;
    case MENUITEM_MULTI: {
      // Edited on the pick screen, which runs the action itself.
      const intptr_t before = item.value;
      ProcessStateValue(menu, index, option);
      return item.value != before;
    }
    case MENUITEM_NAME:
    case MENUITEM_STRING: {
      char entry[LINEBUF_SIZE];
      if (!readEntry(item, option, entry, sizeof entry)) return 0;
      if (strlen(entry) >= MENU_TEXT_SIZE) {
        char text[NLS_STRBUF_SIZE];
        NlsFetchString(pDrvCoreDB, text, NLS_BY_NUMBER, 30, 42);
        PostMsg(text, 0, MENU_TEXT_SIZE - 1);
        return 0;
      }
      if (item.value == 0) return 0;
      CopyStr(reinterpret_cast<char *>(item.value), MENU_TEXT_SIZE, entry);
      result = true;
      break;
    }
    case MENUITEM_INT: {
      char entry[LINEBUF_SIZE];
      if (!readEntry(item, option, entry, sizeof entry)) return 0;
      item.value = static_cast<int32_t>(strtol(entry, nullptr, 10));
      result = true;
      break;
    }
    case MENUITEM_REAL: {
      char entry[LINEBUF_SIZE];
      if (!readEntry(item, option, entry, sizeof entry)) return 0;
      item.value = MenuRealBits(strtof(entry, nullptr));
      result = true;
      break;
    }
    default: return 0;
  }
  if (result) callAction(menu, &item);
  return result;
}

int ProcessStateValue(MenuDef *menu, int index, const char *answer) {
  TextMenuItem &item = menu->items[index];
  if (item.type != MENUITEM_CHOICE && item.type != MENUITEM_MULTI) return 0;
  const intptr_t onEntry = item.value;
  intptr_t working = item.value;
  MemHolder hiddenMem(GetMem(sizeof(uint64_t) * ((item.choiceCount + 63) / 64 + 1)));
  uint64_t *hidden = static_cast<uint64_t *>(hiddenMem.get());
  if (hidden == nullptr) SysError("%s", OutOfMem);
  bool firstUsed = answer == nullptr || answer[0] == '\0';
  char line[LINEBUF_SIZE];
  int first = 0;
  for (;;) {
    const int shown = PrintPickOneManyScreen(&item, hidden, first);
    if (shown < 0) return 0;
    int next = shown > 0 ? first + shown : 0;
    if (next >= item.choiceCount) next = 0;
    if (!firstUsed) {
      CopyStr(line, sizeof line, answer);
      firstUsed = true;
    } else {
      MenuGets(line, sizeof line);
    }
    const unsigned char c = static_cast<unsigned char>(line[0]);
    if (c != 0 && c == static_cast<unsigned char>(TPATTYMENU_SAVE[0])) return 0;
    if (c != 0 && c == static_cast<unsigned char>(TPATTYMENU_CANCEL[0])) {
      item.previousValue = item.value;
      item.value = onEntry;
      UpdateStateSelection(&item);
      ProcessStateFormat(menu, index);
      callAction(menu, &item);
      return 0;
    }
    if (c == 0 || !isalnum(c)) {
      first = next;
      continue;
    }
    int taken = 0;
    for (char *p = line; *p != '\0';) {
      p += strspn(p, ", \t");
      if (*p == '\0') break;
      const size_t len = strcspn(p, ", \t");
      if (isalnum(static_cast<unsigned char>(*p))) {
        const long v = strtol(p, nullptr, 10);
        if (v >= 1 && v <= item.choiceCount && !hiddenChoice(hidden, v - 1)) {
          if (item.type == MENUITEM_CHOICE)
            working = v - 1;
          else
            working ^= intptr_t{1} << (v - 1);
          taken++;
        }
      }
      p += len;
    }
    if (taken == 0) {
      first = next;
      continue;
    }
    item.previousValue = item.value;
    item.value = working;
    UpdateStateSelection(&item);
    ProcessStateFormat(menu, index);
    callAction(menu, &item);
  }
}

// ---------------------------------------------------------------- prompts --

unsigned char PromptYN(const char *question, ...) {
  char format[LINEBUF_SIZE];
  snprintf(format, sizeof format, "%s? [y/n] ", question != nullptr ? question : "");
  for (;;) {
    va_list ap;
    va_start(ap, question);
    vprintf(format, ap);
    va_end(ap);
    MenuGets(LineBuf, LINEBUF_SIZE);
    if (LineBuf[0] == 'y') return 1;
    if (LineBuf[0] == 'n') return 0;
  }
}

char *PromptUser(const char *prompt, char *buffer) {
  fputs(prompt != nullptr ? prompt : "", stdout);
  if (buffer != nullptr) return MenuGets(buffer, LINEBUF_SIZE);
  char line[kUserLineSize];
  return SaveStr(MenuGets(line, sizeof line));
}

char *PostMsgV(const char *fmt, va_list ap) {
  if (fmt != nullptr) vprintf(fmt, ap);
  Nlsfprintf(stdout, pDrvCoreDB, 25, 1001);
  return MenuGets(LineBuf, LINEBUF_SIZE);
}

char *PostMsg(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  char *line = PostMsgV(fmt, ap);
  va_end(ap);
  return line;
}

unsigned char TestName(const char *name) {
  for (const char *p = name != nullptr ? name : ""; *p != '\0'; p++) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (isalnum(c) || c == '_' || c == '-') continue;
    Nlsfprintf(stdout, pDrvCoreDB, 25, 1002, c);
    Nlsfprintf(stdout, pDrvCoreDB, 25, 1000);
    MenuGets(LineBuf, LINEBUF_SIZE);
    return 0;
  }
  return 1;
}
