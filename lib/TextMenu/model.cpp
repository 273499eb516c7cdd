// The menu model: preparing and releasing a menu, the choice lists with their
// visibility markers, the conditions that pick a submenu and the state
// formats by which a choice item enables, hides and sets other items.
//
// A choice list is "_a,_b,_c": each choice begins with its marker, "_"
// visible or " " hidden, and empty choices (",,") do not count. Conditions
// and state formats name items by their index; an index outside the menu
// names nothing.
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "MemMgr.h"
#include "NlsUtils.h"
#include "TextMenu.h"

namespace {

constexpr int kMaxFormatDepth = 16;   // nested "P" operations followed at most
// "P" operations carried out for one state format at most: a format that
// names its own item, or several that fan out, would otherwise repeat
// exponentially many times within the depth bound.
constexpr int kMaxFormatSteps = 256;
int formatSteps = 0;
constexpr int kOperandSize = 64;

int countItems(const MenuDef *menu) {
  int n = 0;
  if (menu != nullptr && menu->items != nullptr)
    while (menu->items[n].label != nullptr) n++;
  return n;
}

// The start of choice n (from 0) in a choice list and its length; null when
// the list has fewer choices.
char *findChoice(char *choices, int n, size_t *len) {
  if (choices == nullptr || n < 0) return nullptr;
  char *p = choices;
  for (int k = 0;; k++) {
    while (*p == ',') p++;
    if (*p == '\0') return nullptr;
    size_t l = strcspn(p, ",");
    if (k == n) {
      if (len != nullptr) *len = l;
      return p;
    }
    p += l;
  }
}

int countChoices(const char *choices) {
  int n = 0;
  while (findChoice(const_cast<char *>(choices), n, nullptr) != nullptr) n++;
  return n;
}

bool isChoiceItem(const TextMenuItem &item) {
  return item.type == MENUITEM_CHOICE || item.type == MENUITEM_MULTI;
}

// ------------------------------------------------------------- conditions --

const char *condPos;   // reading position of the condition being evaluated

bool isConditionOperator(char c) {
  return c == '\0' || c == '!' || c == '&' || c == '|' || c == '(' || c == ')' || c == 'A';
}

// Collects the operand at condPos; empty when an operator stands there.
void readOperand(char *out, size_t size) {
  size_t n = 0;
  while (!isConditionOperator(*condPos)) {
    if (n + 1 < size) out[n++] = *condPos;
    condPos++;
  }
  out[n] = '\0';
}

bool evalGroup(MenuDef *menu, int index, int depth);

// The next operand or parenthesised group, with a following "A".
bool evalNext(MenuDef *menu, int index, int depth) {
  if (*condPos == '(') {
    condPos++;
    return evalGroup(menu, index, depth + 1);
  }
  if (*condPos == '!') {
    condPos++;
    return !evalNext(menu, index, depth);
  }
  char operand[kOperandSize];
  readOperand(operand, sizeof operand);
  int state = TestState(menu, operand, index);
  if (*condPos == 'A') {
    condPos++;
    return state == 2;
  }
  return state != 0;
}

// Operators apply left to right to the result so far; a group ends at ")".
bool evalGroup(MenuDef *menu, int index, int depth) {
  bool result = false;
  char operand[kOperandSize];
  size_t n = 0;
  auto flush = [&]() {
    if (n == 0) return;
    operand[n] = '\0';
    result = TestState(menu, operand, index) != 0;
    n = 0;
  };
  while (*condPos != '\0') {
    char c = *condPos;
    if (c == '!') {
      condPos++;
      n = 0;
      result = !evalNext(menu, index, depth);
    } else if (c == '&' || c == '|') {
      condPos++;
      flush();
      bool right = evalNext(menu, index, depth);
      result = c == '&' ? (result && right) : (result || right);
    } else if (c == '(') {
      condPos++;
      n = 0;
      result = evalGroup(menu, index, depth + 1);
    } else if (c == ')') {
      condPos++;
      flush();
      if (depth > 0) return result;
    } else if (c == 'A') {
      condPos++;
      if (n > 0) {
        operand[n] = '\0';
        result = TestState(menu, operand, index) == 2;
        n = 0;
      }
    } else {
      if (n + 1 < sizeof operand) operand[n++] = c;
      condPos++;
    }
  }
  flush();
  return result;
}

// ---------------------------------------------------------- state formats --

long readNumber(const char **p) {
  char *end;
  long v = strtol(*p, &end, 10);
  *p = end;
  return v;
}

void applyFormat(MenuDef *menu, int index, int depth);

// Applies one group's targets, read from p up to "}" or a blank.
void applyTargets(MenuDef *menu, char op, bool match, const char *p, int depth) {
  const int count = countItems(menu);
  while (*p != '\0' && *p != '}' && *p != ' ') {
    if (!isdigit(static_cast<unsigned char>(*p))) {
      p++;
      continue;
    }
    long t = readNumber(&p);
    long v = 0;
    if (op == 'S' && *p == '.') {
      p++;
      v = readNumber(&p);
    }
    if (t < 0 || t >= count) continue;
    TextMenuItem &target = menu->items[t];
    switch (op) {
      case 'N': target.state = match ? 1 : 0; break;
      case 'H': target.state = match ? 2 : 0; break;
      case 'P':
        if (match && ++formatSteps <= kMaxFormatSteps) {
          applyFormat(menu, static_cast<int>(t), depth + 1);
          if (target.action != nullptr) target.action(menu, &target);
        }
        break;
      case 'S':
        if (match) {
          // A value already set aside stays the one to give back.
          if (target.savedValue < 0) target.savedValue = static_cast<int32_t>(target.value);
          target.value = v;
        } else if (target.savedValue >= 0) {
          target.value = target.savedValue;
          target.savedValue = -1;
        }
        break;
      default: break;
    }
  }
}

void applyFormat(MenuDef *menu, int index, int depth) {
  if (depth > kMaxFormatDepth || index < 0 || index >= countItems(menu)) return;
  TextMenuItem &item = menu->items[index];
  if (!isChoiceItem(item) || item.rule == nullptr || item.state != 0) return;
  const char *p = item.rule;
  while (*p != '\0') {
    while (*p == ' ') p++;
    if (*p == '\0') break;
    char op = *p++;
    const char *brace = strchr(p, '{');
    if (brace == nullptr) return;
    char values[kOperandSize];
    size_t n = static_cast<size_t>(brace - p);
    CopyStr(values, sizeof values, "");
    if (n < sizeof values) {
      memcpy(values, p, n);
      values[n] = '\0';
    }
    bool match = TestFormatState(values, item.value) != 0;
    applyTargets(menu, op, match, brace + 1, depth);
    p = brace + 1;
    while (*p != '\0' && *p != '}' && *p != ' ') p++;
    if (*p == '}') p++;
  }
}

}  // namespace

// ------------------------------------------------------------ preparation --

int InitMenu(MenuDef *menu) {
  if (menu == nullptr || menu->items == nullptr) return 0;
  int longest = 0;
  int number = 1;
  const int count = countItems(menu);
  for (int i = 0; i < count; i++) {
    TextMenuItem &item = menu->items[i];
    item.labelLen = static_cast<int32_t>(strlen(item.label));
    if (item.labelLen > longest) longest = item.labelLen;
    item.savedValue = -1;
    switch (item.type) {
      case MENUITEM_CHOICE:
        item.choiceCount = countChoices(item.choices);
        item.value = item.defaultValue;
        item.previousValue = item.defaultValue;
        break;
      case MENUITEM_MULTI:
        item.choiceCount = countChoices(item.choices);
        if (item.choiceCount > MENU_MAX_MULTI) {
          // The value marks each choice by one bit: the rest cannot be chosen.
          ErrorMsg(1, 0, "menu item \"%s\" has %d choices; only the first %d can be chosen",
                   item.label, item.choiceCount, MENU_MAX_MULTI);
          item.choiceCount = MENU_MAX_MULTI;
        }
        if (item.value == 0) item.defaultValue = item.value = 1;
        item.previousValue = item.defaultValue;
        break;
      case MENUITEM_INT:
      case MENUITEM_REAL:
        item.value = item.defaultValue;
        break;
      case MENUITEM_NAME:
      case MENUITEM_STRING: {
        if (item.value == 0) {
          void *buf = GetMem(MENU_TEXT_SIZE);
          if (buf == nullptr) SysError("%s", OutOfMem);
          item.value = reinterpret_cast<intptr_t>(buf);
        }
        const char *def = reinterpret_cast<const char *>(item.defaultValue);
        CopyStr(reinterpret_cast<char *>(item.value), MENU_TEXT_SIZE, def != nullptr ? def : "");
        break;
      }
      default: break;
    }
    if (item.type <= MENUITEM_BAR)
      item.key = 0;
    else if (item.label[0] == '~' && item.label[1] != '\0')
      item.key = static_cast<unsigned char>(item.label[1]);
    else
      item.key = static_cast<uint32_t>(number++);
  }
  // State formats run once every item holds its default, so that a value a
  // format sets on a later item is not reset by that item's own preparation.
  for (int i = 0; i < count; i++) {
    TextMenuItem &item = menu->items[i];
    if (!isChoiceItem(item)) continue;
    UpdateStateSelection(&item);
    ProcessStateFormat(menu, i);
  }
  return longest;
}

TextMenuItem *FreeMenu(MenuDef *menu) {
  if (menu == nullptr || menu->items == nullptr) return nullptr;
  TextMenuItem *item = menu->items;
  for (; item->label != nullptr; item++) {
    if (item->type == MENUITEM_NAME || item->type == MENUITEM_STRING) {
      PutMem(reinterpret_cast<void *>(item->value));
      item->value = 0;
    }
  }
  return item;
}

TextMenuItem *FindTextMenuItem(MenuDef *menu, uint32_t type) {
  if (menu == nullptr || menu->items == nullptr) return nullptr;
  for (TextMenuItem *item = menu->items; item->label != nullptr; item++)
    if (item->type == type) return item;
  return nullptr;
}

// Only enabled items count: a disabled or hidden name cannot be set by the
// user, so it must not keep the menu from being applied.
int TestNames(MenuDef *menu) {
  if (menu == nullptr || menu->items == nullptr) return 1;
  for (TextMenuItem *item = menu->items; item->label != nullptr; item++) {
    if (item->type != MENUITEM_NAME || item->state != 0) continue;
    const char *text = reinterpret_cast<const char *>(item->value);
    if (text != nullptr && text[0] != '\0') continue;
    Nlsfprintf(stdout, pDrvCoreDB, 25, 1011);
    fflush(stdout);
    MenuGets(LineBuf, LINEBUF_SIZE);
    return 0;
  }
  return 1;
}

// ------------------------------------------------------------- conditions --

MenuDef *ValidateMenu(MenuDef *menu, int index) {
  if (index < 0 || index >= countItems(menu)) return nullptr;
  TextMenuItem &item = menu->items[index];
  if (item.type != MENUITEM_SUBMENU || item.state != 0) return nullptr;
  if (item.rule == nullptr) return reinterpret_cast<MenuDef *>(item.value);
  MenuDef **menus = reinterpret_cast<MenuDef **>(item.value);
  if (menus == nullptr) return nullptr;
  const char *p = item.rule;
  for (int k = 0;; k++) {
    while (*p == ' ') p++;
    if (*p == '\0') return nullptr;
    size_t len = strcspn(p, " ");
    char condition[MENU_TEXT_SIZE];
    if (len < sizeof condition) {
      memcpy(condition, p, len);
      condition[len] = '\0';
      if (TestStateCondition(menu, condition, index)) return menus[k];
    }
    p += len;
  }
}

int TestState(MenuDef *menu, const char *operand, int index) {
  if (operand == nullptr) return 0;
  const char *p = operand;
  int sign = 0;
  if (*p == '+' || *p == '-') sign = *p++ == '+' ? 1 : -1;
  if (!isdigit(static_cast<unsigned char>(*p))) return 0;
  long n = readNumber(&p);
  if (*p != '.') return 0;
  p++;
  long v = readNumber(&p);
  if (sign != 0) n = index + sign * n;
  if (n < 0 || n >= countItems(menu)) return 0;
  const TextMenuItem &item = menu->items[n];
  if (item.value != v) return 0;
  return item.state == 0 ? 1 : 2;
}

int TestStateCondition(MenuDef *menu, const char *condition, int index) {
  if (condition == nullptr) return 0;
  condPos = condition;
  return evalGroup(menu, index, 0) ? 1 : 0;
}

// ----------------------------------------------------------- choice lists --

const char *GetChoiceText(const TextMenuItem *item, int n) {
  static char text[MENU_TEXT_SIZE];
  size_t len;
  const char *p = findChoice(item->choices, n, &len);
  if (p == nullptr) return nullptr;
  if (*p == '_' || *p == ' ') {
    p++;
    len--;
  }
  if (len >= sizeof text) len = sizeof text - 1;
  memcpy(text, p, len);
  text[len] = '\0';
  return text;
}

int ChoiceVisible(const TextMenuItem *item, int n) {
  if (n >= item->choiceCount) return 0;
  const char *p = findChoice(item->choices, n, nullptr);
  return p != nullptr && *p != ' ';
}

void UpdateStateSelection(TextMenuItem *item) {
  if (item == nullptr || item->choiceCount <= 0) return;
  for (int k = 0; k < item->choiceCount; k++) {
    int n = static_cast<int>(item->value);
    item->choiceText = nullptr;
    if (item->type == MENUITEM_MULTI) return;
    if (item->value < 0 || item->value >= item->choiceCount) return;
    item->choiceText = GetChoiceText(item, n);
    if (item->choiceText == nullptr || ChoiceVisible(item, n)) return;
    item->previousValue = item->value;
    item->value = (item->value + 1) % item->choiceCount;
  }
}

void HideStateSelection(TextMenuItem *item, int n) {
  if (item == nullptr || n < 0 || n >= item->choiceCount) return;
  char *p = findChoice(item->choices, n, nullptr);
  if (p != nullptr) *p = ' ';
  UpdateStateSelection(item);
}

void ShowStateSelection(TextMenuItem *item, int n) {
  if (item == nullptr || n < 0 || n >= item->choiceCount) return;
  char *p = findChoice(item->choices, n, nullptr);
  if (p != nullptr) *p = '_';
}

// ---------------------------------------------------------- state formats --

int TestFormatState(const char *values, intptr_t value) {
  if (values == nullptr) return 0;
  const char *p = values;
  while (*p != '\0') {
    if (*p == '*') return 1;
    if (isdigit(static_cast<unsigned char>(*p))) {
      if (readNumber(&p) == value) return 1;
    }
    while (*p != '\0' && *p != '*' && !isdigit(static_cast<unsigned char>(*p))) p++;
  }
  return 0;
}

void ProcessStateFormat(MenuDef *menu, int index) {
  // The budget holds for the outermost call, also when an item's action
  // processes formats again.
  static int active = 0;
  if (active == 0) formatSteps = 0;
  active++;
  applyFormat(menu, index, 0);
  active--;
}
