// The menu description of tpmenu: one setting a line, a keyword and its
// value; "help" and "help-title" before the first "menu", then menus with
// their settings and items. Reading stops at the first fault, which is
// returned with its line. Building checks what needs the whole description
// (labels, choices, defaults, the menus a submenu item opens) and lays out
// the engine's item arrays, which point into the description's own texts.
#include "description.h"

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

// Sets *error and gives false, for "return fail(...)".
bool fail(DescriptionError *error, int line, const char *fmt, ...) TARNU_PRINTF(3, 4);
bool fail(DescriptionError *error, int line, const char *fmt, ...) {
  va_list ap, again;
  va_start(ap, fmt);
  va_copy(again, ap);
  const int size = vsnprintf(nullptr, 0, fmt, ap);
  va_end(ap);
  error->line = line;
  error->what.assign(size > 0 ? static_cast<size_t>(size) : 0, '\0');
  if (size > 0) vsnprintf(error->what.data(), error->what.size() + 1, fmt, again);
  va_end(again);
  return false;
}

std::string trim(const std::string &s) {
  size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos) return "";
  return s.substr(a, s.find_last_not_of(" \t\r") - a + 1);
}

bool readNumber(const std::string &text, long *out) {
  char *end;
  errno = 0;
  *out = strtol(text.c_str(), &end, 10);
  return !text.empty() && *end == '\0' && errno == 0 && *out >= INT32_MIN && *out <= INT32_MAX;
}

std::vector<std::string> split(const std::string &text, char sep) {
  std::vector<std::string> words;
  size_t start = 0;
  for (;;) {
    size_t end = text.find(sep, start);
    std::string w = trim(text.substr(start, end - start));
    if (!w.empty()) words.push_back(w);
    if (end == std::string::npos) return words;
    start = end + 1;
  }
}

int findTypeCode(const std::string &name) {
  static const char *const names[] = {"label", "row",  "task",    "bar",    "apply",
                                      "abort", "exit", "command", "submenu", "choice",
                                      "multi", "name", "string",  "int",    "real"};
  for (int i = 0; i < static_cast<int>(std::size(names)); i++)
    if (name == names[i]) return i;
  return -1;
}

bool hasValue(uint32_t code) { return code >= MENUITEM_CHOICE && code <= MENUITEM_REAL; }

bool isShellName(const std::string &s) {
  if (s.empty() || isdigit(static_cast<unsigned char>(s[0]))) return false;
  for (char c : s)
    if (!isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  return true;
}

bool readMenuAttribute(MenuDesc &m, const std::string &key, const std::string &value, int line,
                       DescriptionError *error) {
  if (key == "title") {
    m.title = value;
  } else if (key == "question") {
    m.question = value;
  } else if (key == "align") {
    const std::string aligns[] = {"left", "center", "right"};
    for (m.align = 0; m.align < 3 && aligns[m.align] != value; m.align++) {}
    if (m.align == 3)
      return fail(error, line, "align must be left, center or right, not \"%s\"", value.c_str());
  } else if (key == "flags") {
    for (const std::string &f : split(value, ',')) {
      if (f == "compact") m.flags |= MENU_COMPACT;
      else if (f == "return-stays") m.flags |= MENU_RETURN_STAYS;
      else if (f == "store") m.flags |= MENU_STORE_NAMED;
      else if (f == "store-default") m.flags |= MENU_STORE_DEFAULT;
      else return fail(error, line, "unknown flag \"%s\"", f.c_str());
    }
  } else {
    return fail(error, line, "unknown menu attribute \"%s\"", key.c_str());
  }
  return true;
}

bool readItemAttribute(ItemDesc &it, const std::string &key, const std::string &value, int line,
                       DescriptionError *error) {
  if (key == "label") it.label = value;
  else if (key == "prompt") it.prompt = value;
  else if (key == "rule") it.rule = value;
  else if (key == "run") it.run = value;
  else if (key == "default") it.defText = value;
  else if (key == "opens") it.opens = split(value, ' ');
  else if (key == "choices") {
    for (const std::string &c : split(value, ',')) it.choices += (it.choices.empty() ? "_" : ",_") + c;
  } else if (key == "state") {
    if (value == "enabled") it.state = 0;
    else if (value == "disabled") it.state = 1;
    else if (value == "hidden") it.state = 2;
    else return fail(error, line, "state must be enabled, disabled or hidden, not \"%s\"", value.c_str());
  } else if (key == "columns") {
    long n;
    if (!readNumber(value, &n) || n < 0 || n > 80) return fail(error, line, "columns must be 0 to 80");
    it.def = n;
  } else {
    return fail(error, line, "unknown item attribute \"%s\"", key.c_str());
  }
  return true;
}

bool readItemLine(MenuDescription *desc, MenuDesc &menu, ItemDesc *&item, const std::string &value,
                  int line, DescriptionError *error) {
  std::vector<std::string> words = split(value, ' ');
  if (words.empty() || words.size() > 2) return fail(error, line, "item TYPE [NAME] expected");
  item = &menu.info.emplace_back();
  item->line = line;
  item->type = words[0];
  int code = findTypeCode(words[0]);
  if (code < 0) return fail(error, line, "unknown item type \"%s\"", words[0].c_str());
  item->code = static_cast<uint32_t>(code);
  if (words.size() == 2) {
    if (!hasValue(item->code) || item->code == MENUITEM_SUBMENU)
      return fail(error, line, "a %s item has no value to name", words[0].c_str());
    if (!isShellName(words[1]))
      return fail(error, line, "\"%s\" is not a shell variable name", words[1].c_str());
    for (const MenuDesc &m : desc->menus)
      for (const ItemDesc &o : m.info)
        if (&o != item && o.var == words[1])
          return fail(error, line, "name \"%s\" used twice", words[1].c_str());
    item->var = words[1];
  }
  return true;
}

// The default of a value item from its text.
bool readDefault(ItemDesc &it, int choiceCount, DescriptionError *error) {
  const std::string &d = it.defText;
  long n;
  switch (it.code) {
    case MENUITEM_CHOICE:
      if (d.empty()) break;
      if (!readNumber(d, &n) || n < 1 || n > choiceCount)
        return fail(error, it.line, "default must be a choice number");
      it.def = n - 1;
      break;
    case MENUITEM_MULTI:
      for (const std::string &w : split(d, ',')) {
        if (!readNumber(w, &n) || n < 1 || n > choiceCount)
          return fail(error, it.line, "default must be choice numbers");
        it.def |= intptr_t{1} << (n - 1);
      }
      break;
    case MENUITEM_NAME:
    case MENUITEM_STRING:
      if (!CopyStr(it.text, sizeof it.text, d.c_str())) return fail(error, it.line, "default text too long");
      it.def = reinterpret_cast<intptr_t>(it.text);
      break;
    case MENUITEM_INT:
      if (d.empty()) break;
      if (!readNumber(d, &n)) return fail(error, it.line, "default must be an integer");
      it.def = n;
      break;
    case MENUITEM_REAL: {
      char *end;
      float f = strtof(d.c_str(), &end);
      if (!d.empty() && *end != '\0') return fail(error, it.line, "default must be a number");
      it.def = MenuRealBits(f);
      break;
    }
    default: break;
  }
  return true;
}

MenuDesc *findMenu(MenuDescription *desc, const std::string &name) {
  for (MenuDesc &m : desc->menus)
    if (m.name == name) return &m;
  return nullptr;
}

// The "S" state formats of a choice or multi item, read the way the engine
// reads them, may set only items whose value is a number: the value of a
// name, string or submenu item points to its text or menus.
bool checkStateFormats(const MenuDesc &m, const ItemDesc &it, DescriptionError *error) {
  std::vector<const ItemDesc *> items;
  for (const ItemDesc &d : m.info) items.push_back(&d);
  const char *p = it.rule.c_str();
  while (*p != '\0') {
    while (*p == ' ') p++;
    if (*p == '\0') break;
    const char op = *p++;
    const char *brace = strchr(p, '{');
    if (brace == nullptr) break;
    for (const char *q = brace + 1; *q != '\0' && *q != '}' && *q != ' ';) {
      if (!isdigit(static_cast<unsigned char>(*q))) {
        q++;
        continue;
      }
      char *end;
      const long target = strtol(q, &end, 10);
      q = end;
      if (op != 'S') continue;
      if (*q == '.') {
        strtol(q + 1, &end, 10);
        q = end;
      }
      if (target < 0 || target >= static_cast<long>(items.size())) continue;
      const ItemDesc &t = *items[static_cast<size_t>(target)];
      if (t.code == MENUITEM_NAME || t.code == MENUITEM_STRING || t.code == MENUITEM_SUBMENU)
        return fail(error, it.line, "state format \"S\" cannot set item %ld, a %s item", target,
                    t.type.c_str());
    }
    for (p = brace + 1; *p != '\0' && *p != '}' && *p != ' ';) p++;
    if (*p == '}') p++;
  }
  return true;
}

bool checkItem(MenuDescription *desc, MenuDesc &m, ItemDesc &it, DescriptionError *error) {
  if (it.label.empty() && it.code != MENUITEM_BAR) return fail(error, it.line, "the item has no label");
  if ((it.code == MENUITEM_CHOICE || it.code == MENUITEM_MULTI) && it.choices.empty())
    return fail(error, it.line, "a %s item needs choices", it.type.c_str());
  int count = static_cast<int>(split(it.choices, ',').size());
  if (it.code == MENUITEM_MULTI && count > MENU_MAX_MULTI)
    return fail(error, it.line, "a multi item has at most %d choices", MENU_MAX_MULTI);
  if (!readDefault(it, count, error)) return false;
  if ((it.code == MENUITEM_CHOICE || it.code == MENUITEM_MULTI) && !checkStateFormats(m, it, error))
    return false;
  if (it.code != MENUITEM_SUBMENU) return true;
  size_t conditions = split(it.rule, ' ').size();
  if (it.opens.empty()) return fail(error, it.line, "a submenu item needs \"opens MENU\"");
  if (conditions > 0 ? it.opens.size() != conditions : it.opens.size() != 1)
    return fail(error, it.line, "\"opens\" needs one menu for each condition of the rule");
  for (const std::string &name : it.opens) {
    MenuDesc *sub = findMenu(desc, name);
    if (sub == nullptr) return fail(error, it.line, "no menu \"%s\"", name.c_str());
    if (sub == &desc->menus.front()) return fail(error, it.line, "the main menu cannot be a submenu");
    if (sub->def.parent == nullptr) sub->def.parent = &m.def;
    it.subs.push_back(&sub->def);
  }
  return true;
}

TextMenuItem makeItem(ItemDesc &it, const MenuCallbacks &calls) {
  TextMenuItem t{};
  t.label = it.label.c_str();
  t.type = it.code;
  t.state = it.state;
  t.prompt = it.prompt.empty() ? it.label.c_str() : it.prompt.c_str();
  t.choices = it.choices.empty() ? nullptr : it.choices.data();
  t.defaultValue = it.def;
  t.rule = it.rule.empty() ? nullptr : it.rule.c_str();
  if (it.code == MENUITEM_MULTI) t.value = it.def;
  if (it.code == MENUITEM_BAR) t.value = it.def;
  if (it.code == MENUITEM_SUBMENU)
    t.value = it.rule.empty() ? reinterpret_cast<intptr_t>(it.subs[0])
                              : reinterpret_cast<intptr_t>(it.subs.data());
  if (it.code == MENUITEM_APPLY) t.action = calls.apply;
  if (it.code == MENUITEM_ABORT || it.code == MENUITEM_EXIT) t.action = calls.leave;
  if (it.code == MENUITEM_COMMAND) t.action = calls.command;
  return t;
}

// Calls fn(item, its description) for every item of menu m.
template <typename Fn>
void forEachItem(MenuDesc &m, Fn fn) {
  auto info = m.info.begin();
  for (TextMenuItem &it : m.items) {
    if (it.label == nullptr) break;
    fn(it, *info++);
  }
}

}  // namespace

bool ReadMenuDescription(std::istream &in, const std::string &dir, MenuDescription *desc,
                         DescriptionError *error) {
  int line = 0;
  MenuDesc *menu = nullptr;
  ItemDesc *item = nullptr;
  for (std::string raw; std::getline(in, raw);) {
    line++;
    std::string text = trim(raw);
    if (text.empty() || text[0] == '#') continue;
    size_t gap = text.find_first_of(" \t");
    std::string key = text.substr(0, gap);
    std::string value = gap == std::string::npos ? "" : trim(text.substr(gap));
    if (key == "menu") {
      if (value.empty()) return fail(error, line, "a menu needs a name");
      if (findMenu(desc, value) != nullptr)
        return fail(error, line, "menu \"%s\" is defined twice", value.c_str());
      menu = &desc->menus.emplace_back();
      menu->name = value;
      menu->line = line;
      item = nullptr;
    } else if (key == "help" && menu == nullptr) {
      if (value.empty()) return fail(error, line, "help needs a file name");
      desc->help = value[0] == '/' ? value : dir + value;
    } else if (key == "help-title" && menu == nullptr) {
      desc->helpTitle = value;
    } else if (menu == nullptr) {
      return fail(error, line, "\"%s\" outside a menu", key.c_str());
    } else if (key == "item") {
      if (!readItemLine(desc, *menu, item, value, line, error)) return false;
    } else if (item != nullptr) {
      if (!readItemAttribute(*item, key, value, line, error)) return false;
    } else if (!readMenuAttribute(*menu, key, value, line, error)) {
      return false;
    }
  }
  if (desc->menus.empty()) return fail(error, line, "no menu");
  return true;
}

bool BuildMenuDescription(MenuDescription *desc, const MenuCallbacks &calls, DescriptionError *error) {
  for (MenuDesc &m : desc->menus)
    for (ItemDesc &it : m.info)
      if (!checkItem(desc, m, it, error)) return false;
  for (MenuDesc &m : desc->menus) {
    for (ItemDesc &it : m.info) m.items.push_back(makeItem(it, calls));
    m.items.push_back(TextMenuItem{});
    const bool main = &m == &desc->menus.front();
    m.def.title = m.title.empty() ? m.name.c_str() : m.title.c_str();
    m.def.titleAlign = m.align;
    m.def.applyQuestion = m.question.empty() ? nullptr : m.question.c_str();
    m.def.applyFn = main ? calls.applyMain : calls.applySub;
    m.def.refreshFn = main ? calls.refreshMain : calls.refreshSub;
    m.def.items = m.items.data();
    m.def.flags = m.flags | MENU_KEEP_VALUES | (!desc->help.empty() ? MENU_HAS_HELP : 0);
  }
  return true;
}

void KeepMenuValues(MenuDescription *desc) {
  for (MenuDesc &m : desc->menus) {
    forEachItem(m, [](TextMenuItem &it, ItemDesc &d) {
      if (it.type == MENUITEM_NAME || it.type == MENUITEM_STRING) {
        if (it.value != 0) CopyStr(d.text, sizeof d.text, reinterpret_cast<char *>(it.value));
      } else if (hasValue(it.type)) {
        it.defaultValue = it.value;
        d.kept = it.value;
      }
    });
  }
}

void RestoreMenuValues(MenuDescription *desc) {
  for (MenuDesc &m : desc->menus) {
    InitMenu(&m.def);
    forEachItem(m, [&m](TextMenuItem &it, ItemDesc &d) {
      if (it.type != MENUITEM_MULTI || it.value == d.kept) return;
      it.previousValue = it.value;
      it.value = d.kept;
      ProcessStateFormat(&m.def, static_cast<int>(&it - m.def.items));
    });
  }
}

const TextMenuItem *FindEmptyName(MenuDescription *desc) {
  for (const TextMenuItem *it = desc->menus.front().def.items; it->label != nullptr; it++) {
    if (it->type != MENUITEM_NAME || it->state != 0) continue;
    const char *text = reinterpret_cast<const char *>(it->value);
    if (text == nullptr || text[0] == '\0') return it;
  }
  return nullptr;
}

namespace {

void writeQuoted(FILE *out, const char *text) {
  fputc('\'', out);
  for (const char *p = text; *p != '\0'; p++) {
    if (*p == '\'') fputs("'\\''", out);
    else fputc(*p, out);
  }
  fputc('\'', out);
}

std::string formatValue(const TextMenuItem &it, const ItemDesc &d) {
  char number[64];
  switch (it.type) {
    case MENUITEM_CHOICE: {
      const char *text = GetChoiceText(&it, static_cast<int>(it.value));
      return text != nullptr ? text : "";
    }
    case MENUITEM_MULTI: {
      std::string value;
      for (int i = 0; i < it.choiceCount; i++) {
        if (!((static_cast<uint64_t>(it.value) >> i) & 1)) continue;
        const char *text = GetChoiceText(&it, i);
        if (text == nullptr) continue;
        if (!value.empty()) value += ' ';
        value += text;
      }
      return value;
    }
    case MENUITEM_NAME:
    case MENUITEM_STRING: return d.text;
    case MENUITEM_INT:
      snprintf(number, sizeof number, "%d", static_cast<int>(it.value));
      return number;
    default:
      snprintf(number, sizeof number, "%.3f", static_cast<double>(MenuReal(it.value)));
      return number;
  }
}

}  // namespace

void WriteAssignments(FILE *out, MenuDescription *desc) {
  for (MenuDesc &m : desc->menus) {
    forEachItem(m, [out](TextMenuItem &it, ItemDesc &d) {
      if (d.var.empty()) return;
      fprintf(out, "%s=", d.var.c_str());
      writeQuoted(out, formatValue(it, d).c_str());
      fputc('\n', out);
    });
  }
}
