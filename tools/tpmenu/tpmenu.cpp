// tpmenu: menus for shell scripts on the text-menu engine. Reads a menu
// description (menus, their items, choice lists with state formats,
// submenus chosen by condition, entry rules, defaults, flags, a help file),
// runs it on the terminal and, when the user applies it, writes every named
// value as a shell assignment name='value' to standard error or a file.
//
// Exit status: 0 applied, 1 left without applying, 2 a bad description or
// command line, 3 no terminal where one is needed. Status 0 always comes
// with the assignments: the "s" key of a store-default menu, which ends the
// process from inside the engine, applies the menu too.
//
// Submenus are prepared afresh each time they are entered, so the values
// the user set in them are kept here as their defaults whenever a menu is
// entered, applied or left.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "HelpTty.h"
#include "NlsUtils.h"
#include "SysCmd.h"
#include "TextMenu.h"
#include "description.h"
#include "toolbase.h"

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

MenuDescription desc;
std::string descPath;
const char *output = nullptr, *settings = nullptr;
bool batch = false;
bool applied = false;
bool inMenu = false;   // while the engine runs the menus

// ----------------------------------------------------- engine call-backs --

void keepValues() { KeepMenuValues(&desc); }

// Whether the main menu may be applied: none of its enabled name items is
// empty. Asked on the terminal the engine's way, else told on stderr.
bool namesSet(MenuDef *menu, bool ask) {
  if (ask) return TestNames(menu) != 0;
  const TextMenuItem *empty = FindEmptyName(&desc);
  if (empty == nullptr) return true;
  fprintf(stderr, "tpmenu: \"%s\" is empty: a name must be set before the menu is applied\n",
          ShownLabel(empty));
  return false;
}

void keepOnEntry(MenuDef *) { keepValues(); }

// Also reached by an empty answer in a menu without a question, where the
// engine itself does not check the names.
void *applyMain(MenuDef *menu) {
  keepValues();
  applied = namesSet(menu, !batch);
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
  if (menu == &desc.menus.front().def) applied = true;
  return 0;
}

int onLeaveItem(MenuDef *, TextMenuItem *) {
  keepValues();
  return 0;
}

// A command item runs its "run" text through the shell.
int onCommand(MenuDef *menu, TextMenuItem *item) {
  for (MenuDesc &m : desc.menus) {
    if (&m.def != menu) continue;
    const ItemDesc &d = *std::next(m.info.begin(), item - m.items.data());
    if (d.run.empty()) break;
    fflush(stdout);
    if (system(d.run.c_str()) == -1) perror("tpmenu");
    PostMsg("%s", "");
  }
  return 0;
}

// ----------------------------------------------------------------- steps --

[[noreturn]] void bad(const DescriptionError &error) {
  fprintf(stderr, "tpmenu: %s:%d: %s\n", descPath.c_str(), error.line, error.what.c_str());
  exit(kExitBad);
}

void readDescription() {
  std::ifstream in(descPath);
  if (!in) {
    fprintf(stderr, "tpmenu: %s: %s\n", descPath.c_str(), strerror(errno));
    exit(kExitBad);
  }
  static constexpr MenuCallbacks calls = {applyMain,   keepOnLeave, refreshMain, keepOnEntry,
                                          onApplyItem, onLeaveItem, onCommand};
  DescriptionError error;
  const std::string dir = descPath.substr(0, descPath.find_last_of('/') + 1);
  if (!ReadMenuDescription(in, dir, &desc, &error) || !BuildMenuDescription(&desc, calls, &error))
    bad(error);
  if (!desc.help.empty()) pTtyHtmlName = SaveStr(desc.help.c_str());
  if (desc.helpTitle) pTtyHtmlTitle = SaveStr(desc.helpTitle->c_str());
}

// Stores the settings when asked and writes the assignments of the kept
// values; the exit status.
int writeResults() {
  RestoreMenuValues(&desc);
  int status = kExitApplied;
  if (settings != nullptr && !StoreMenuFile(&desc.menus.front().def, settings)) status = kExitLeft;
  FILE *out = stderr;
  if (output != nullptr) {
    out = OpenFile(nullptr, output, "w", 1);
    if (out == nullptr) return kExitLeft;
  }
  WriteAssignments(out, &desc);
  if (out != stderr && fclose(out) != 0) status = kExitLeft;
  for (MenuDesc &m : desc.menus) FreeMenu(&m.def);
  return status;
}

// The "s" key of a store-default menu has stored the settings and ends the
// process with status 0 from inside the engine: the menu is applied as well.
void applyOnStoreExit(int status, void *) {
  if (!inMenu || status != 0) return;
  inMenu = false;
  keepValues();
  const int result = namesSet(nullptr, false) ? writeResults() : kExitLeft;
  if (result == kExitApplied) return;
  fflush(nullptr);
  _exit(result);
}

}  // namespace

int main(int argc, char **argv) {
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
  readDescription();

  // The catalogue of the engine's texts.
  pToolPath = FindToolBase(TPMENU_TOOL_PATH);
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
  for (MenuDesc &m : desc.menus) InitMenu(&m.def);
  if (settings != nullptr && access(settings, R_OK) == 0 && OpenInputFile(settings, 1)) {
    // The loaded values become the defaults the menus are prepared with. A
    // damaged file's stray "}" may call the apply item: that applies nothing.
    LoadMenu(&desc.menus.front().def);
    CloseInputFile();
    keepValues();
    applied = false;
  }
  on_exit(applyOnStoreExit, nullptr);
  inMenu = true;
  RunMenu(&desc.menus.front().def, nullptr, batch ? 0 : 1);
  inMenu = false;
  if (!applied) return kExitLeft;

  keepValues();
  return writeResults();
}
