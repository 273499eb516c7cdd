// Process-wide state of the text-menu engine.
#include "TextMenu.h"

unsigned char flExitTextMenu = 0;
