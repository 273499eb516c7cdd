// File queries, the input-file reader and file creation. Existence is
// decided from directory listings; files and directories are created, moved
// and removed through the command table so that every change is logged.
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include "MemMgr.h"
#include "SysCmd.h"
#include "utils.h"

char InputFileName[256];
char LineBuf[LINEBUF_SIZE];
int LineLen = 0;
int FileStatus = 1;
int SavedFileSize = 0;

// 1 when the entry exists in the directory's listing (a dangling link
// counts); the name may hold a slash, a null directory makes the name the
// path to test.
int FindFile(const char *dir, const char *name) {
  if (dir == nullptr) {
    if (name == nullptr || *name == '\0') return 0;
    dir = name;
    name = nullptr;
  }
  char joined[256];
  char dirBuf[256];
  char nameBuf[256];
  if (name != nullptr && *name != '\0' && strchr(name, '/') != nullptr) {
    int n = snprintf(joined, sizeof joined, "%s/%s", dir, name);
    if (n < 0 || static_cast<size_t>(n) >= sizeof joined) return 0;
    char *slash = strrchr(joined, '/');
    *slash = '\0';
    if (!CopyStr(nameBuf, sizeof nameBuf, slash + 1)) return 0;
    if (!CopyStr(dirBuf, sizeof dirBuf, joined[0] != '\0' ? joined : "/")) return 0;
    dir = dirBuf;
    name = nameBuf;
  } else if (name == nullptr || *name == '\0') {
    // No name: the directory argument itself is the entry to test.
    if (strlen(dir) >= sizeof dirBuf) return 0;
    if (!CopyStr(nameBuf, sizeof nameBuf, StripPath(dir))) return 0;
    if (!CopyStr(dirBuf, sizeof dirBuf, StripFn(dir))) return 0;
    dir = dirBuf;
    name = nameBuf;
  }
  char *list = GetDirFileList(dir);
  if (list == nullptr) return 0;
  int found = FindToken(name, list) != 0;
  PutMem(list);
  return found;
}
