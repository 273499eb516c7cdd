// The terminal help: the help pages of a menu shown on a character
// terminal, opened by the answer "h" of a menu that has help.
#pragma once

// Shows the help file with its data under the title and returns when the
// user leaves it. Nothing happens when the path or the title is null or the
// file cannot be read.
void TtyHtmlHelp(const char *path, const char *data, const char *title);
