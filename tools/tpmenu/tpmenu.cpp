// tpmenu: menus for shell scripts on the text-menu engine. Reads a menu
// description (menus, their items, choice lists with state formats,
// submenus chosen by condition, entry rules, defaults, flags, a help file),
// runs it on the terminal and, when the user applies it, writes every named
// value as a shell assignment name='value' to standard error or a file.
//
// Exit status: 0 applied, 1 left without applying, 2 a bad description or
// command line, 3 no terminal where one is needed.
//
// Submenus are prepared afresh each time they are entered, so the values
// the user set in them are kept here as their defaults whenever a menu is
// entered, applied or left.
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "Dbm.h"
#include "HelpTty.h"
#include "NlsUtils.h"
#include "SysCmd.h"
#include "TextMenu.h"

namespace {

constexpr char kUsage[] =
    "usage: tpmenu [--output FILE] [--settings FILE] [--batch] DESCRIPTION\n"
    "\n"
    "  --output FILE    write the assignments to FILE instead of standard error\n"
    "  --settings FILE  load the values from FILE when it exists; store them there when applied\n"
    "  --batch          apply the defaults (or the loaded settings) without showing anything\n"
    "\n"
    "exit status: 0 applied, 1 left without applying, 2 bad description, 3 no terminal\n";

constexpr int kExitApplied = 0, kExitLeft = 1, kExitBad = 2, kExitNoTerminal = 3;

struct ItemDesc {
  int line = 0;
  std::string type, var, label, prompt, choices, rule, run, defText;
  std::vector<std::string> opens;
  uint32_t code = 0;
  int32_t state = 0;
  intptr_t def = 0;
  char text[MENU_TEXT_SIZE] = "";   // the kept text of a name or string item
  std::vector<MenuDef *> subs;      // the menus of a submenu item with conditions
};

struct MenuDesc {
  int line = 0;
  std::string name, title, question;
  int32_t align = 0;
  uint16_t flags = 0;
  std::list<ItemDesc> info;
  std::vector<TextMenuItem> items;
  MenuDef def{};
};

std::list<MenuDesc> menus;   // the first is the main menu
std::string descPath;
bool applied = false;

[[noreturn]] void bad(int line, const char *fmt, ...) TARNU_PRINTF(2, 3);
void bad(int line, const char *fmt, ...) {
  fprintf(stderr, "tpmenu: %s:%d: ", descPath.c_str(), line);
  va_list ap;
  va_start(ap, fmt);
  vfprintf(stderr, fmt, ap);
  va_end(ap);
  fputc('\n', stderr);
  exit(kExitBad);
}

std::string trim(const std::string &s) {
  size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos) return "";
  return s.substr(a, s.find_last_not_of(" \t\r") - a + 1);
}

bool number(const std::string &text, long *out) {
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

int typeCode(const std::string &name) {
  static const char *const names[] = {"label", "row",  "task",    "bar",    "apply",
                                      "abort", "exit", "command", "submenu", "choice",
                                      "multi", "name", "string",  "int",    "real"};
  for (int i = 0; i < static_cast<int>(std::size(names)); i++)
    if (name == names[i]) return i;
  return -1;
}

bool hasValue(uint32_t code) { return code >= MENUITEM_CHOICE && code <= MENUITEM_REAL; }

bool shellName(const std::string &s) {
  if (s.empty() || isdigit(static_cast<unsigned char>(s[0]))) return false;
  for (char c : s)
    if (!isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  return true;
}

// ------------------------------------------------------- the description --

void menuAttribute(MenuDesc &m, const std::string &key, const std::string &value, int line) {
  if (key == "title") {
    m.title = value;
  } else if (key == "question") {
    m.question = value;
  } else if (key == "align") {
    const std::string aligns[] = {"left", "center", "right"};
    for (m.align = 0; m.align < 3 && aligns[m.align] != value; m.align++) {}
    if (m.align == 3) bad(line, "align must be left, center or right, not \"%s\"", value.c_str());
  } else if (key == "flags") {
    for (const std::string &f : split(value, ',')) {
      if (f == "compact") m.flags |= MENU_COMPACT;
      else if (f == "return-stays") m.flags |= MENU_RETURN_STAYS;
      else if (f == "store") m.flags |= MENU_STORE_NAMED;
      else if (f == "store-default") m.flags |= MENU_STORE_DEFAULT;
      else bad(line, "unknown flag \"%s\"", f.c_str());
    }
  } else {
    bad(line, "unknown menu attribute \"%s\"", key.c_str());
  }
}

void itemAttribute(ItemDesc &it, const std::string &key, const std::string &value, int line) {
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
    else bad(line, "state must be enabled, disabled or hidden, not \"%s\"", value.c_str());
  } else if (key == "columns") {
    long n;
    if (!number(value, &n) || n < 0 || n > 80) bad(line, "columns must be 0 to 80");
    it.def = n;
  } else {
    bad(line, "unknown item attribute \"%s\"", key.c_str());
  }
}

void parse(const std::string &path) {
  std::ifstream in(path);
  if (!in) {
    fprintf(stderr, "tpmenu: %s: %s\n", path.c_str(), strerror(errno));
    exit(kExitBad);
  }
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
      if (value.empty()) bad(line, "a menu needs a name");
      for (const MenuDesc &m : menus)
        if (m.name == value) bad(line, "menu \"%s\" is defined twice", value.c_str());
      menu = &menus.emplace_back();
      menu->name = value;
      menu->line = line;
      item = nullptr;
    } else if (key == "help" && menu == nullptr) {
      if (value.empty()) bad(line, "help needs a file name");
      std::string dir = path.substr(0, path.find_last_of('/') + 1);
      pTtyHtmlName = SaveStr((value[0] == '/' ? value : dir + value).c_str());
    } else if (key == "help-title" && menu == nullptr) {
      pTtyHtmlTitle = SaveStr(value.c_str());
    } else if (menu == nullptr) {
      bad(line, "\"%s\" outside a menu", key.c_str());
    } else if (key == "item") {
      std::vector<std::string> words = split(value, ' ');
      if (words.empty() || words.size() > 2) bad(line, "item TYPE [NAME] expected");
      item = &menu->info.emplace_back();
      item->line = line;
      item->type = words[0];
      int code = typeCode(words[0]);
      if (code < 0) bad(line, "unknown item type \"%s\"", words[0].c_str());
      item->code = static_cast<uint32_t>(code);
      if (words.size() == 2) {
        if (!hasValue(item->code) || item->code == MENUITEM_SUBMENU)
          bad(line, "a %s item has no value to name", words[0].c_str());
        if (!shellName(words[1])) bad(line, "\"%s\" is not a shell variable name", words[1].c_str());
        for (const MenuDesc &m : menus)
          for (const ItemDesc &o : m.info)
            if (&o != item && o.var == words[1]) bad(line, "name \"%s\" used twice", words[1].c_str());
        item->var = words[1];
      }
    } else if (item != nullptr) {
      itemAttribute(*item, key, value, line);
    } else {
      menuAttribute(*menu, key, value, line);
    }
  }
  if (menus.empty()) bad(line, "no menu");
}

MenuDesc *findMenu(const std::string &name) {
  for (MenuDesc &m : menus)
    if (m.name == name) return &m;
  return nullptr;
}

// The default of a value item from its text.
void readDefault(ItemDesc &it, int choiceCount) {
  const std::string &d = it.defText;
  long n;
  switch (it.code) {
    case MENUITEM_CHOICE:
      if (d.empty()) break;
      if (!number(d, &n) || n < 1 || n > choiceCount) bad(it.line, "default must be a choice number");
      it.def = n - 1;
      break;
    case MENUITEM_MULTI:
      for (const std::string &w : split(d, ',')) {
        if (!number(w, &n) || n < 1 || n > choiceCount) bad(it.line, "default must be choice numbers");
        it.def |= intptr_t{1} << (n - 1);
      }
      break;
    case MENUITEM_NAME:
    case MENUITEM_STRING:
      if (!CopyStr(it.text, sizeof it.text, d.c_str())) bad(it.line, "default text too long");
      it.def = reinterpret_cast<intptr_t>(it.text);
      break;
    case MENUITEM_INT:
      if (d.empty()) break;
      if (!number(d, &n)) bad(it.line, "default must be an integer");
      it.def = n;
      break;
    case MENUITEM_REAL: {
      char *end;
      float f = strtof(d.c_str(), &end);
      if (!d.empty() && *end != '\0') bad(it.line, "default must be a number");
      it.def = MenuRealBits(f);
      break;
    }
    default: break;
  }
}

// ----------------------------------------------------- engine call-backs --

// Keeps every live value as its item's default (see the top of the file).
void keepValues() {
  for (MenuDesc &m : menus) {
    auto info = m.info.begin();
    for (TextMenuItem &it : m.items) {
      if (it.label == nullptr) break;
      ItemDesc &d = *info++;
      if (it.type == MENUITEM_NAME || it.type == MENUITEM_STRING) {
        if (it.value != 0) CopyStr(d.text, sizeof d.text, reinterpret_cast<char *>(it.value));
      } else if (hasValue(it.type)) {
        it.defaultValue = it.value;
      }
    }
  }
}

void keepOnEntry(MenuDef *) { keepValues(); }

void *applyMain(MenuDef *menu) {
  keepValues();
  applied = true;
  return menu;
}

// After a declined leave question the main menu has not been applied yet.
void refreshMain(MenuDef *) {
  keepValues();
  applied = false;
}

void *keepOnLeave(MenuDef *menu) {
  keepValues();
  return menu;
}

int onApplyItem(MenuDef *menu, TextMenuItem *) {
  keepValues();
  if (menu == &menus.front().def) applied = true;
  return 0;
}

int onLeaveItem(MenuDef *, TextMenuItem *) {
  keepValues();
  return 0;
}

// A command item runs its "run" text through the shell.
int onCommand(MenuDef *menu, TextMenuItem *item) {
  for (MenuDesc &m : menus) {
    if (&m.def != menu) continue;
    const ItemDesc &d = *std::next(m.info.begin(), item - m.items.data());
    if (d.run.empty()) break;
    fflush(stdout);
    if (system(d.run.c_str()) == -1) perror("tpmenu");
    PostMsg("%s", "");
  }
  return 0;
}

void build() {
  for (MenuDesc &m : menus) {
    for (ItemDesc &it : m.info) {
      if (it.label.empty() && it.code != MENUITEM_BAR) bad(it.line, "the item has no label");
      if ((it.code == MENUITEM_CHOICE || it.code == MENUITEM_MULTI) && it.choices.empty())
        bad(it.line, "a %s item needs choices", it.type.c_str());
      int count = static_cast<int>(split(it.choices, ',').size());
      if (it.code == MENUITEM_MULTI && count > MENU_MAX_MULTI)
        bad(it.line, "a multi item has at most %d choices", MENU_MAX_MULTI);
      readDefault(it, count);
      if (it.code == MENUITEM_SUBMENU) {
        size_t conditions = split(it.rule, ' ').size();
        if (it.opens.empty()) bad(it.line, "a submenu item needs \"opens MENU\"");
        if (conditions > 0 ? it.opens.size() != conditions : it.opens.size() != 1)
          bad(it.line, "\"opens\" needs one menu for each condition of the rule");
        for (const std::string &name : it.opens) {
          MenuDesc *sub = findMenu(name);
          if (sub == nullptr) bad(it.line, "no menu \"%s\"", name.c_str());
          if (sub == &menus.front()) bad(it.line, "the main menu cannot be a submenu");
          if (sub->def.parent == nullptr) sub->def.parent = &m.def;
          it.subs.push_back(&sub->def);
        }
      }
    }
  }
  for (MenuDesc &m : menus) {
    for (ItemDesc &it : m.info) {
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
      if (it.code == MENUITEM_APPLY) t.action = onApplyItem;
      if (it.code == MENUITEM_ABORT || it.code == MENUITEM_EXIT) t.action = onLeaveItem;
      if (it.code == MENUITEM_COMMAND) t.action = onCommand;
      m.items.push_back(t);
    }
    m.items.push_back(TextMenuItem{});
    const bool main = &m == &menus.front();
    m.def.title = m.title.empty() ? m.name.c_str() : m.title.c_str();
    m.def.titleAlign = m.align;
    m.def.applyQuestion = m.question.empty() ? nullptr : m.question.c_str();
    m.def.applyFn = main ? applyMain : keepOnLeave;
    m.def.refreshFn = main ? refreshMain : keepOnEntry;
    m.def.items = m.items.data();
    m.def.flags = m.flags | MENU_KEEP_VALUES | (pTtyHtmlName != nullptr ? MENU_HAS_HELP : 0);
  }
}

// ------------------------------------------------------------------ output --

void quote(FILE *out, const char *text) {
  fputc('\'', out);
  for (const char *p = text; *p != '\0'; p++) {
    if (*p == '\'') fputs("'\\''", out);
    else fputc(*p, out);
  }
  fputc('\'', out);
}

void writeAssignments(FILE *out) {
  for (MenuDesc &m : menus) {
    auto info = m.info.begin();
    for (TextMenuItem &it : m.items) {
      if (it.label == nullptr) break;
      const ItemDesc &d = *info++;
      if (d.var.empty()) continue;
      fprintf(out, "%s=", d.var.c_str());
      std::string value;
      char number[64];
      switch (it.type) {
        case MENUITEM_CHOICE: {
          const char *text = GetChoiceText(&it, static_cast<int>(it.value));
          value = text != nullptr ? text : "";
          break;
        }
        case MENUITEM_MULTI:
          for (int i = 0; i < it.choiceCount; i++) {
            if (!((static_cast<uint64_t>(it.value) >> i) & 1)) continue;
            if (!value.empty()) value += ' ';
            value += GetChoiceText(&it, i);
          }
          break;
        case MENUITEM_NAME:
        case MENUITEM_STRING: value = d.text; break;
        case MENUITEM_INT:
          snprintf(number, sizeof number, "%d", static_cast<int>(it.value));
          value = number;
          break;
        default:
          snprintf(number, sizeof number, "%.3f", static_cast<double>(MenuReal(it.value)));
          value = number;
          break;
      }
      quote(out, value.c_str());
      fputc('\n', out);
    }
  }
}

}  // namespace

int main(int argc, char **argv) {
  const char *output = nullptr, *settings = nullptr;
  bool batch = false;
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; i++) {
    std::string a = argv[i];
    if (a == "--batch") {
      batch = true;
    } else if ((a == "--output" || a == "--settings") && i + 1 < argc) {
      (a == "--output" ? output : settings) = argv[++i];
    } else if (a == "--help") {
      fputs(kUsage, stdout);
      return 0;
    } else {
      fputs(kUsage, stderr);
      return kExitBad;
    }
  }
  if (i + 1 != argc) {
    fputs(kUsage, stderr);
    return kExitBad;
  }
  descPath = argv[i];
  my_name = const_cast<char *>("tpmenu");
  parse(descPath);
  build();

  // The catalogue of the engine's texts.
  const char *base = getenv("TARNU_TOOL_PATH");
  pToolPath = SaveStr(base != nullptr ? base : TPMENU_TOOL_PATH);
  pDrvCoreDB = NlsOpenDB("CoreString", 0);

  if (!batch) {
    if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
      fputs("tpmenu: standard input and output must be a terminal (or use --batch)\n", stderr);
      return kExitNoTerminal;
    }
    if (!FillCmdPath(CMD_CLEAR) || !FillCmdPath(CMD_SH)) {
      fputs("tpmenu: the commands clear and sh are needed to show a menu\n", stderr);
      return kExitNoTerminal;
    }
  }
  for (MenuDesc &m : menus) InitMenu(&m.def);
  if (settings != nullptr && access(settings, R_OK) == 0 && OpenInputFile(settings, 1)) {
    // The loaded values become the defaults the menus are prepared with. A
    // damaged file's stray "}" may call the apply item: that applies nothing.
    LoadMenu(&menus.front().def);
    CloseInputFile();
    keepValues();
    applied = false;
  }
  RunMenu(&menus.front().def, nullptr, batch ? 0 : 1);
  if (!applied) return kExitLeft;

  keepValues();
  for (MenuDesc &m : menus) InitMenu(&m.def);   // every value from what was kept
  int status = kExitApplied;
  if (settings != nullptr && !StoreMenuFile(&menus.front().def, settings)) status = kExitLeft;
  FILE *out = stderr;
  if (output != nullptr) {
    out = OpenFile(nullptr, output, "w", 1);
    if (out == nullptr) return kExitLeft;
  }
  writeAssignments(out);
  if (out != stderr && fclose(out) != 0) status = kExitLeft;
  for (MenuDesc &m : menus) FreeMenu(&m.def);
  return status;
}
