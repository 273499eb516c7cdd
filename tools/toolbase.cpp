// The tool base directory of a tool: named by the environment, installed
// beside the executable, or the build tree's catalogues. TARNU_BIN_TO_DATA
// is the installed data directory relative to the installed programs.
#include "toolbase.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "MemMgr.h"
#include "utils.h"

char *FindToolBase(const char *buildTree) {
  const char *base = getenv("TARNU_TOOL_PATH");
  if (base != nullptr) return SaveStr(base);
  char exe[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe);
  if (n > 0 && static_cast<size_t>(n) < sizeof exe) {
    exe[n] = '\0';
    MemHolder dir(GetToolPath(exe));
    char *installed = SaveStr("%s/%s", dir.str(), TARNU_BIN_TO_DATA);
    MemHolder map(SaveStr("%s/trans.conf", installed));
    if (access(map.str(), R_OK) == 0) return installed;
    PutMem(installed);
  }
  return SaveStr(buildTree);
}
