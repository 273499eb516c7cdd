// The menu description of tpmenu: its text read into menus and items,
// checked, and turned into the menu engine's tables; the values of a run
// kept between the preparations of a menu and written as shell assignments.
// A fault in the description is returned with its line, never ends the
// process.
#pragma once
#include <cstdint>
#include <cstdio>
#include <istream>
#include <list>
#include <optional>
#include <string>
#include <vector>

#include "TextMenu.h"

struct ItemDesc {
  int line = 0;
  std::string type, var, label, prompt, choices, rule, run, defText;
  std::vector<std::string> opens;
  uint32_t code = 0;
  int32_t state = 0;
  intptr_t def = 0;
  intptr_t kept = 0;                // the kept chosen set of a multi item
  char text[MENU_TEXT_SIZE] = "";   // the kept text of a name or string item
  std::vector<MenuDef *> subs;      // the menus of a submenu item with conditions
};

struct MenuDesc {
  int line = 0;
  std::string name, title, question;
  int32_t align = 0;
  uint16_t flags = 0;
  std::list<ItemDesc> info;         // one for each of items but the terminator
  std::vector<TextMenuItem> items;
  MenuDef def{};
};

struct MenuDescription {
  std::list<MenuDesc> menus;        // the first is the main menu
  std::string help;                 // the help file, relative names already joined
  std::optional<std::string> helpTitle;
};

// The first fault of a description: its line (from 1) and what is wrong.
struct DescriptionError {
  int line = 0;
  std::string what;
};

// What the engine calls back: the main menu's and the submenus' apply and
// refresh functions, and the actions of apply, abort/exit and command items.
struct MenuCallbacks {
  void *(*applyMain)(MenuDef *);
  void *(*applySub)(MenuDef *);
  void (*refreshMain)(MenuDef *);
  void (*refreshSub)(MenuDef *);
  int (*apply)(MenuDef *, TextMenuItem *);
  int (*leave)(MenuDef *, TextMenuItem *);
  int (*command)(MenuDef *, TextMenuItem *);
};

// Reads a description into an empty desc; a relative help file is taken
// from dir (empty, or ending in "/"). False with *error set at the first
// fault.
bool ReadMenuDescription(std::istream &in, const std::string &dir, MenuDescription *desc,
                         DescriptionError *error);

// Checks the items of a read description, reads their defaults and builds
// the engine's tables over them. False with *error set at the first fault.
bool BuildMenuDescription(MenuDescription *desc, const MenuCallbacks &calls, DescriptionError *error);

// Keeps every live value as its item's default, since a menu is prepared
// afresh each time it is entered.
void KeepMenuValues(MenuDescription *desc);

// Prepares every menu from the kept values, including a multi item the user
// emptied, which the engine would prepare as its first choice.
void RestoreMenuValues(MenuDescription *desc);

// The first enabled name item of the main menu that is empty, or null.
const TextMenuItem *FindEmptyName(MenuDescription *desc);

// Writes name='value' for every named item, in the order of the description.
void WriteAssignments(FILE *out, MenuDescription *desc);
