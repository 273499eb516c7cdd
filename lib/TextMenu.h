// The text-menu engine for character terminals: declarative menus, their
// settings files, rendering and the interaction loop. The menu record itself
// is in TextMenuTypes.h.
#pragma once
#include "TextMenuTypes.h"

// When set by a caller, every running menu is left at once.
extern unsigned char flExitTextMenu;
