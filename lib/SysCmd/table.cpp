// The command table: the fixed rows of external commands the system runs,
// and their resolution along the search path. The table is resolved once at
// start-up with one directory listing per search directory; before that, a
// row is looked up on demand the first time it is named.
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#include "MemMgr.h"
#include "SysCmd.h"

// Row numbers are an interface: callers name commands by index.
SysCmdEntry ComList[SYSCMD_ROWS] = {
    {"", "", nullptr, 0},                 // 0  raw shell command line
    {"", "", nullptr, 0},                 // 1  raw shell command line
    {"cancel", "", nullptr, 2},           // 2
    {"cat", "", nullptr, 0},              // 3
    {"chgrp", "", nullptr, 0},            // 4
    {"chmod", "", nullptr, 0},            // 5
    {"chown", "", nullptr, 0},            // 6
    {"clear", "", nullptr, 0},            // 7
    {"compress", "", nullptr, 0},         // 8
    {"cp", "-p", nullptr, 0},             // 9
    {"cp", "-pr", nullptr, 0},            // 10
    {"cupsd", "", nullptr, 0},            // 11
    {"id", "", nullptr, 0},               // 12
    {"echo", "", nullptr, 0},             // 13
    {"eject", "-f", nullptr, 1},          // 14
    {"eject", "-q", nullptr, 1},          // 15
    {"file", "", nullptr, 0},             // 16
    {"ln", "", nullptr, 0},               // 17
    {"lp", "", nullptr, 0},               // 18
    {"lpc", "", nullptr, 1},              // 19
    {"lpr", "", nullptr, 0},              // 20
    {"lprm", "", nullptr, 1},             // 21
    {"lpstat", "", nullptr, 1},           // 22
    {"ls", "", nullptr, 0},               // 23
    {"kill", "-KILL", nullptr, 0},        // 24
    {"mv", "-f", nullptr, 0},             // 25
    {"mkdir", "-p", nullptr, 0},          // 26
    {"more", "", nullptr, 0},             // 27
    {"ping", "", nullptr, 0},             // 28
    {"rm", "-f", nullptr, 0},             // 29
    {"rm", "-rf", nullptr, 0},            // 30
    {"sh", "", nullptr, 0},               // 31
    {"sleep", "", nullptr, 0},            // 32
    {"tar", "cvfp", nullptr, 0},          // 33
    {"tar", "xvfp", nullptr, 0},          // 34
    {"touch", "", nullptr, 0},            // 35
    {"uncompress", "", nullptr, 0},       // 36
    {"whoami", "", nullptr, 0},           // 37
    {"zcat", "", nullptr, 0},             // 38
    {"uname", "", nullptr, 0},            // 39
    {"sed", "", nullptr, 0},              // 40
    {"du", "-s", nullptr, 0},             // 41
    {"checkpc", "", nullptr, 0},          // 42
    {"lpd", "", nullptr, 0},              // 43
    {"pkgadd", "", nullptr, 1},           // 44
    {"pkginfo", "", nullptr, 0},          // 45
    {"pkgrm", "", nullptr, 1},            // 46
    {"accept", "", nullptr, 1},           // 47
    {"disable", "", nullptr, 1},          // 48
    {"cupsdisable", "", nullptr, 1},      // 49
    {"enable", "", nullptr, 1},           // 50
    {"cupsenable", "", nullptr, 1},       // 51
    {"lpadmin", "", nullptr, 1},          // 52
    {"lpfilter", "", nullptr, 1},         // 53
    {"lpsched", "", nullptr, 1},          // 54
    {"lpshut", "", nullptr, 1},           // 55
    {"lpsystem", "", nullptr, 1},         // 56
    {"ps", "-ace", nullptr, 0},           // 57
    {"bar", "", nullptr, 0},              // 58
    {"df", "", nullptr, 0},               // 59
    {"lpq", "-P", nullptr, 0},            // 60
    {"ypcat", "", nullptr, 0},            // 61
    {"reject", "", nullptr, 1},           // 62
    {"pmadm", "", nullptr, 1},            // 63
    {"sacadm", "", nullptr, 1},           // 64
    {"volcheck", "", nullptr, 0},         // 65
    {"capture", "", nullptr, 0},          // 66
    {"lpset", "", nullptr, 1},            // 67
    {"instnetpr", "", nullptr, 1},        // 68
    {"piomkpq", "", nullptr, 0},          // 69
    {"piomisc_ext", "", nullptr, 0},      // 70
    {"piomisc_base", "", nullptr, 0},     // 71
    {"lsallq", "", nullptr, 0},           // 72
    {"mkque", "", nullptr, 0},            // 73
    {"mkquedev", "", nullptr, 0},         // 74
    {"rmque", "", nullptr, 0},            // 75
    {"rmquedev", "", nullptr, 0},         // 76
    {"piochdfq", "", nullptr, 0},         // 77
    {"enq", "", nullptr, 0},              // 78
    {"lsquedev", "", nullptr, 0},         // 79
    {"lsque", "", nullptr, 0},            // 80
    {"startsrc", "", nullptr, 1},         // 81
    {"stopsrc", "", nullptr, 0},          // 82
    {"lssrc", "", nullptr, 0},            // 83
    {nullptr, "", nullptr, 0},            // 84 end of the table
};

const char SearchPaths[] = "/usr/sbin:/usr/bin:/bin:/sbin:/etc:/usr/etc";
char *FullSearchPath = nullptr;
unsigned char flInitSysCmd = 1;
unsigned char flSysCmdLog = 0;
SysCmdRecorder pSysCmdRecorder = nullptr;

namespace {

constexpr int kFirstRow = 2;
constexpr int kLastRow = SYSCMD_ROWS - 2;   // row 84 only ends the table

bool isNamedRow(int index) {
  return index >= kFirstRow && index <= kLastRow && ComList[index].pCmd != nullptr &&
         ComList[index].pCmd[0] != '\0';
}

bool anyUnresolved() {
  for (int i = kFirstRow; isNamedRow(i); ++i)
    if (ComList[i].pPath == nullptr) return true;
  return false;
}

// Whether the blank-separated listing " a b c " holds the name as one item.
bool listingHolds(const char *listing, const char *name) {
  const size_t len = strlen(name);
  for (const char *p = strstr(listing, name); p != nullptr; p = strstr(p + 1, name))
    if (p > listing && p[-1] == ' ' && p[len] == ' ') return true;
  return false;
}

// Calls fn for each non-empty component of a colon-separated path list
// until it returns false. Components longer than a path are skipped.
template <typename Fn>
void forEachDir(const char *list, Fn fn) {
  char dir[4096];
  while (list != nullptr && *list != '\0') {
    const char *end = strchr(list, ':');
    const size_t len = end != nullptr ? static_cast<size_t>(end - list) : strlen(list);
    if (len > 0 && len < sizeof dir) {
      memcpy(dir, list, len);
      dir[len] = '\0';
      if (!fn(dir)) return;
    }
    list = end != nullptr ? end + 1 : nullptr;
  }
}

void buildFullSearchPath() {
  const char *path = getenv("PATH");
  PutMem(FullSearchPath);
  FullSearchPath = SaveStr("%s:%s", SearchPaths, path != nullptr ? path : "");
}

}  // namespace

void InitSysCmdList() {
  flInitSysCmd = 0;
  buildFullSearchPath();
  forEachDir(SearchPaths, [](const char *dir) { return FillCmdPaths(dir) != 0; });
  const char *path = getenv("PATH");
  if (anyUnresolved() && path != nullptr)
    forEachDir(path, [](const char *dir) { return FillCmdPaths(dir) != 0; });
  if (ComList[CMD_SH].pPath != nullptr)
    putenv(SaveStr("SHELL=%s/%s ", ComList[CMD_SH].pPath, ComList[CMD_SH].pCmd));
  if (flUseLog) {
    flSysCmdLog = 1;
    PutLogMsg("initializing system\n");
  }
}

int FillCmdPaths(const char *dir) {
  char *listing = GetDirFileList(dir);
  if (listing == nullptr) return 1;
  char *saved = nullptr;   // one directory string shared by the rows found here
  for (int i = kFirstRow; isNamedRow(i); ++i) {
    if (ComList[i].pPath != nullptr || !listingHolds(listing, ComList[i].pCmd)) continue;
    if (saved == nullptr) saved = SaveStr("%s", dir);
    ComList[i].pPath = saved;
  }
  PutMem(listing);
  return anyUnresolved() ? 1 : 0;
}

int FillCmdPath(int index) {
  if (!isNamedRow(index)) return 0;
  if (FullSearchPath == nullptr) buildFullSearchPath();
  const char *name = ComList[index].pCmd;
  forEachDir(FullSearchPath, [index, name](const char *dir) {
    char path[4096 + 256];
    struct stat st;
    if (snprintf(path, sizeof path, "%s/%s", dir, name) >= static_cast<int>(sizeof path) ||
        lstat(path, &st) != 0)
      return true;
    ComList[index].pPath = SaveStr("%s", dir);
    return false;
  });
  return ComList[index].pPath != nullptr ? 1 : 0;
}

int TestCmd(int index) {
  if (!isNamedRow(index)) return 0;
  if (flInitSysCmd && ComList[index].pPath == nullptr) FillCmdPath(index);
  return ComList[index].pPath != nullptr ? 1 : 0;
}

char *GetCmd(int index) {
  if (!TestCmd(index)) return nullptr;
  const SysCmdEntry &row = ComList[index];
  return SaveStr("%s/%s %s", row.pPath, row.pCmd, row.pFlags);
}

char *GetCmdNoFlags(int index) {
  if (!TestCmd(index)) return nullptr;
  return SaveStr("%s/%s", ComList[index].pPath, ComList[index].pCmd);
}
