// The menu record of the text-menu engine: the menu, its items, their
// types and flags. Types only, with no include of another module, so that
// the translation catalogue can fill menu texts without depending on the
// engine.
//
// A menu is a MenuDef over a caller-owned array of TextMenuItem records that
// ends at the first item whose label is null. The engine writes the items'
// working fields (values, keys, lengths, counts, states, choice markers).
// Every field that may hold a pointer is pointer-wide: value and defaultValue
// hold an index, an integer, the bits of a 32-bit real or a pointer.
#pragma once
#include <cstdint>

struct TextMenuItem;

// flags of a MenuDef
constexpr uint16_t MENU_RETURN_STAYS = 0x0001;        // Return does not leave the menu
constexpr uint16_t MENU_HAS_HELP = 0x0002;            // "h" opens the terminal help
constexpr uint16_t MENU_KEEP_VALUES = 0x0004;         // leaving keeps the item text buffers
constexpr uint16_t MENU_STORE_NAMED = 0x0008;         // "s" stores to a file name asked for
constexpr uint16_t MENU_STORE_DEFAULT = 0x0010;       // "s" stores to ".settings" and exits 0
constexpr uint16_t MENU_REINIT_ON_COMMAND = 0x0040;   // a successful command item re-prepares
constexpr uint16_t MENU_TYPE_BEFORE_ACTION = 0x0080;  // the item type is taken before its action
constexpr uint16_t MENU_COMPACT = 0x0100;             // no blank line between items

// item types (TextMenuItem::type)
constexpr uint32_t MENUITEM_LABEL = 0;
constexpr uint32_t MENUITEM_ROW = 1;
constexpr uint32_t MENUITEM_TASK = 2;
constexpr uint32_t MENUITEM_BAR = 3;
constexpr uint32_t MENUITEM_APPLY = 4;
constexpr uint32_t MENUITEM_ABORT = 5;
constexpr uint32_t MENUITEM_EXIT = 6;
constexpr uint32_t MENUITEM_COMMAND = 7;
constexpr uint32_t MENUITEM_SUBMENU = 8;
constexpr uint32_t MENUITEM_CHOICE = 9;
constexpr uint32_t MENUITEM_MULTI = 10;
constexpr uint32_t MENUITEM_NAME = 11;
constexpr uint32_t MENUITEM_STRING = 12;
constexpr uint32_t MENUITEM_INT = 13;
constexpr uint32_t MENUITEM_REAL = 14;

// One menu. The caller owns it and its items.
struct MenuDef {
  const char *title;            // only its first line is measured for placement
  int32_t titleAlign;           // 0 left with a colon, 1 centred, 2 right in 80 columns
  const char *applyQuestion;    // yes/no question on leaving a changed menu, or null
  void *(*applyFn)(MenuDef *menu);     // applies the values (RunMenu's result), or null
  int32_t reserved;             // not used by the engine
  MenuDef *parent;              // the menu this one returns to, or null
  void (*refreshFn)(MenuDef *menu);    // called on entry and after a submenu, or null
  TextMenuItem *items;          // ends at the first item whose label is null
  uint16_t flags;               // MENU_* bits
};

// One line of a menu.
struct TextMenuItem {
  const char *label;            // "~k rest" makes k the hot key and shows "rest"
  uint32_t type;                // MENUITEM_*
  int32_t state;                // 0 enabled, 1 disabled, 2 hidden
  const char *prompt;           // prompt of a value entry, shown as "%s: "
  char *choices;                // "_a,_b": each choice begins with its marker, "_" or " "
  const char *choiceText;       // the current choice (tokenizer buffer, short-lived)
  intptr_t defaultValue;        // index, integer, bits of a real, or pointer to text
  intptr_t value;               // current value; meaning by type
  intptr_t previousValue;       // value of a choice item before its last change
  int (*action)(MenuDef *menu, TextMenuItem *item);  // after choice or change, or null
  int32_t labelLen;             // length of label, set by InitMenu
  const char *rule;             // validation rule, state format or conditions, or null
  int32_t savedValue;           // set aside by a state format "S"; -1 when none
  int32_t choiceCount;          // number of choices, set by InitMenu
  void *userData;               // the caller's; the engine never reads it
  uint32_t key;                 // selection key, set by InitMenu
};
