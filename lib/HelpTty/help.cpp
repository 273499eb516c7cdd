// The terminal help as plain text: the help file is shown as it stands,
// followed by the press-Return line.
#include <cstdio>

#include "Handles.h"
#include "HelpTty.h"
#include "TextMenu.h"

void TtyHtmlHelp(const char *path, const char *, const char *title) {
  if (path == nullptr || title == nullptr) return;
  FileHandle f(fopen(path, "r"));
  if (!f) return;
  printf("\f\n%s\n\n", title);
  char line[LINEBUF_SIZE];
  while (fgets(line, sizeof line, f.get()) != nullptr) fputs(line, stdout);
  PostMsg("%s", "");
}
