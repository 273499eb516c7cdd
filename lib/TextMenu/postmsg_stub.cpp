// Stand-in for the press-Return message of the interaction loop, so that
// entry validation links and runs on its own; the interaction loop's own
// PostMsg replaces this file.
#include <cstdarg>
#include <cstdio>

#include "NlsUtils.h"
#include "TextMenu.h"

char *PostMsg(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vprintf(fmt, ap);
  va_end(ap);
  Nlsfprintf(stdout, pDrvCoreDB, 25, 1001);
  fflush(stdout);
  if (Gets(LineBuf, LINEBUF_SIZE) == nullptr) {
    char msg[NLS_STRBUF_SIZE];
    SysError("%s", NlsFetchString(pDrvCoreDB, msg, NLS_BY_NUMBER, 25, 1016));
  }
  return LineBuf;
}
