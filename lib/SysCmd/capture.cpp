// Output capture and the system probes built on it: a table command runs
// through a pipe and its output lines are kept (all, or those holding a
// filter text); the process table, free disk space and directory usage are
// read from ps, df and du. Capture runs write no log, print no progress and
// never stop the run on a failed command.
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <unistd.h>

#include "Handles.h"
#include "MemMgr.h"
#include "SysCmd.h"

namespace {

constexpr size_t kCmdSize = 4096;
constexpr char kWordDelims[] = " \t\r\n";

// The command line of a capture run, or false when it does not fit.
bool buildCaptureLine(int index, char *line, size_t size, const char *fmt, va_list ap) {
  if (index == INT_MIN) index = SYSCMD_ROWS;
  else if (index < 0) index = -index;
  if (index >= SYSCMD_ROWS - 1) return false;
  size_t len = 0;
  if (index >= 2) {
    const SysCmdEntry &row = ResolveSysCmd(index);
    const int n = snprintf(line, size, "%s/%s %s ", row.pPath, row.pCmd, row.pFlags);
    if (n < 0 || static_cast<size_t>(n) >= size) return false;
    len = static_cast<size_t>(n);
  }
  const int n = vsnprintf(line + len, size - len, fmt, ap);
  return n >= 0 && static_cast<size_t>(n) < size - len;
}

// Runs the capture and calls keep(line, length) for every line holding the
// filter. False when the line was refused or the pipe could not be opened.
template <typename Keep>
bool captureLines(int index, const char *filter, const char *fmt, va_list ap, Keep keep) {
  char line[kCmdSize];
  if (!buildCaptureLine(index, line, sizeof line, fmt, ap)) return false;
  if (pSysCmdRecorder != nullptr) {
    pSysCmdRecorder(index < 0 && index != INT_MIN ? -index : index, line);
    return true;
  }
  fflush(stdout);
  PipeHandle pipe(popen(line, "r"));
  if (!pipe) return false;
  char buf[kCmdSize];
  while (fgets(buf, sizeof buf, pipe.get()) != nullptr) {
    if (filter != nullptr && *filter != '\0' && strstr(buf, filter) == nullptr) continue;
    keep(buf, strlen(buf));
  }
  return true;
}

// The word at position column (from 0) of a line, copied into word.
bool wordAt(const char *line, int column, char *word, size_t size) {
  int i = 0;
  for (const char *p = line + strspn(line, kWordDelims); *p != '\0';
       p += strspn(p, kWordDelims), ++i) {
    const size_t len = strcspn(p, kWordDelims);
    if (i == column) {
      if (len >= size) return false;
      memcpy(word, p, len);
      word[len] = '\0';
      return true;
    }
    p += len;
  }
  return false;
}

}  // namespace

CmdResponse *GetCmdResponse(int index, const char *filter, const char *fmt, ...) {
  CmdResponse *head = nullptr;
  CmdResponse **tail = &head;
  va_list ap;
  va_start(ap, fmt);
  captureLines(index, filter, fmt, ap, [&tail](const char *text, size_t len) {
    // One block per line: the node and its text right behind it.
    auto *node = static_cast<CmdResponse *>(GetMem(sizeof(CmdResponse) + len + 1));
    if (node == nullptr) SysError("%s", OutOfMem);
    node->pLine = reinterpret_cast<char *>(node + 1);
    memcpy(node->pLine, text, len + 1);
    *tail = node;
    tail = &node->pNext;
  });
  va_end(ap);
  return head;
}

char *GetCmdResponseStr(int index, const char *filter, const char *fmt, ...) {
  TextBuf out;
  va_list ap;
  va_start(ap, fmt);
  captureLines(index, filter, fmt, ap, [&out](const char *text, size_t len) {
    out.append(text, len);
    if (len == 0 || text[len - 1] != '\n') out.append("\n", 1);
  });
  va_end(ap);
  return out.size() != 0 ? out.take() : nullptr;
}

void FreeResponseList(CmdResponse *list) {
  while (list != nullptr) {
    CmdResponse *next = list->pNext;
    PutMem(list);
    list = next;
  }
}

char *GetSysPsIdList(const char *name) {
  if (name == nullptr || *name == '\0') return nullptr;
  CmdResponse *lines = GetCmdResponse(CMD_PS, name, "%s", "");
  TextBuf ids;
  char word[kCmdSize];
  char pid[kCmdSize];
  for (CmdResponse *r = lines; r != nullptr; r = r->pNext) {
    // The sixth column of "ps -ace" is the command; the first the process number.
    if (!wordAt(r->pLine, 5, word, sizeof word) || strcmp(word, name) != 0) continue;
    if (!wordAt(r->pLine, 0, pid, sizeof pid)) continue;
    ids.append(" ");
    ids.append(pid);
  }
  FreeResponseList(lines);
  if (ids.size() == 0) return nullptr;
  ids.append(" ");
  return ids.take();
}

char *CheckProcTableForExecs(const char *list) {
  if (list == nullptr) return nullptr;
  TextBuf report;
  const char *p = list;
  while (true) {
    const size_t len = strcspn(p, ",");
    if (len > 0 && len < kCmdSize) {
      char name[kCmdSize];
      memcpy(name, p, len);
      name[len] = '\0';
      char *ids = GetSysPsIdList(name);
      if (ids != nullptr) {
        report.append(name);
        report.append(" (");
        report.append(ids);
        report.append(")\n");
        PutMem(ids);
      }
    }
    if (p[len] == '\0') break;
    p += len + 1;
  }
  return report.size() != 0 ? report.take() : nullptr;
}

int KillProcessByName(const char *name) {
  char *ids = GetSysPsIdList(name);
  MemHolder hold(ids);
  const pid_t self = getpid();
  for (const char *p = ids; p != nullptr && *p != '\0';) {
    char *end = nullptr;
    errno = 0;
    const long pid = strtol(p, &end, 10);
    if (end == p) break;
    p = end;
    // Only a real process number: 0 or a negative number would signal a
    // whole process group or every process.
    if (errno != 0 || pid <= 0 || pid == self) continue;
    if (kill(static_cast<pid_t>(pid), SIGKILL) != 0 && errno == EPERM) {
      sleep(1);
      return 0;
    }
  }
  sleep(1);
  return 0;
}

int GetDiskSpace(const char *path, DiskSpaceInfo *info) {
  info->dAvail = 0;
  info->szLine[0] = '\0';
  char word[kCmdSize];
  if (path == nullptr || !QuoteShellWord(word, sizeof word, path)) return 0;
  CmdResponse *lines = GetCmdResponse(CMD_DF, nullptr, "%s", word);
  int found = 0;
  int column = -1;
  if (lines != nullptr) {
    for (int i = 0; wordAt(lines->pLine, i, word, sizeof word); ++i) {
      if (strncasecmp(word, "avail", 5) == 0) {
        column = i;
        break;
      }
    }
  }
  if (column >= 0 && lines->pNext != nullptr) {
    CopyStr(info->szLine, sizeof info->szLine, lines->pNext->pLine);
    if (wordAt(lines->pNext->pLine, column, word, sizeof word)) {
      info->dAvail = strtod(word, nullptr);
      found = 1;
    }
  }
  FreeResponseList(lines);
  return found;
}

double DUPath(const char *path) {
  char word[kCmdSize];
  if (path == nullptr || !QuoteShellWord(word, sizeof word, path)) return 0;
  CmdResponse *lines = GetCmdResponse(CMD_DU, nullptr, "%s", word);
  const double used = lines != nullptr ? strtod(lines->pLine, nullptr) : 0;
  FreeResponseList(lines);
  return used;
}

int AvailSpace(const char *dir, const char *name, double needed) {
  DiskSpaceInfo info;
  if (name != nullptr && FindFile(dir, name)) {
    char path[kCmdSize];
    if (snprintf(path, sizeof path, "%s/%s", dir, name) >= static_cast<int>(sizeof path)) return 0;
    const double used = DUPath(path);
    GetDiskSpace(dir, &info);
    return needed <= info.dAvail + used ? 1 : 0;
  }
  // A directory that does not exist yet has no file system of its own: its
  // parent is asked the same way, and so on up. The walk ends where the
  // parent is the directory itself ("/" or "."), which has no parent left.
  char parent[kCmdSize];
  for (const char *at = dir; !GetDiskSpace(at, &info);) {
    const char *up = StripFn(at);
    if (at != nullptr && strcmp(up, at) == 0) break;
    CopyStr(parent, sizeof parent, up);
    at = parent;
  }
  return needed <= info.dAvail ? 1 : 0;
}

void SysGetSubnetMask() {}
