// Command execution: a table command runs as the single double-quoted
// argument of "sh -c", with a progress dot, a log line and its output sent to
// the log in the logging modes. Mode 0 discards output and ignores failure,
// 1 logs a warning, 2 logs and shows an error and ends the run with status 1.
//
// A non-zero result of system() is always a failure, and a command line that
// does not fit the 4096-byte buffer is refused rather than run cut short.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

#include "Handles.h"
#include "MemMgr.h"
#include "SysCmd.h"

namespace {

constexpr size_t kCmdSize = 4096;
constexpr int kPsChecks = 11;   // the first check and ten more, one second apart

// Ends the run with status 1: a command the run needs is missing, so what
// it was to do is not done, and the caller must not take it for a success.
[[noreturn]] void stopUnresolved(const char *name) {
  fflush(stdout);
  fprintf(stderr, "ERROR: unable to locate system command '%s'\n", name);
  exit_app(1);
}

// Reports a failure as the mode asks: a log line in modes 1 and 2, and in
// mode 2 the command text as the log shows it (when there is one) and the
// same line on standard output, and the end of the run.
void reportFailure(int mode, const char *what, const char *command = nullptr,
                   size_t logged = 0) {
  if (mode != 1 && mode != 2) return;
  const char *tag = mode == 2 ? "ERROR" : "WARNING_MSG";
  PutLogMsg("%s: %s\n", tag, what);
  if (mode == 2) {
    if (command != nullptr)
      printf("%s: failed command: %.*s\n", tag, static_cast<int>(logged), command);
    printf("%s: %s\n", tag, what);
    exit_app(1);
  }
}

void settle(int index) {
  const SysCmdEntry &row = ComList[index];
  if (row.iWait > 0) {
    sleep(static_cast<unsigned>(row.iWait));
  } else if (row.iWait == -1) {
    for (int i = 0; i < kPsChecks; ++i) {
      if (i > 0) sleep(1);
      char *ids = GetSysPsIdList(row.pCmd);
      if (ids != nullptr) {
        PutMem(ids);
        return;
      }
    }
    PutLogMsg("ERROR: Time out for command %s\n", row.pCmd);
  }
}

}  // namespace

int CmdStatus(int result, char *text, size_t size) {
  if (result == 0) {
    snprintf(text, size, "exit status 0");
    return 0;
  }
  if (result == -1) {
    const int err = errno != 0 ? errno : ECHILD;
    snprintf(text, size, "%s", strerror(err));
    return err;
  }
  if (WIFEXITED(result)) {
    snprintf(text, size, "exit status %d", WEXITSTATUS(result));
    return WEXITSTATUS(result);
  }
  if (WIFSIGNALED(result)) {
    snprintf(text, size, "killed by signal %d", WTERMSIG(result));
    return 128 + WTERMSIG(result);
  }
  snprintf(text, size, "status %d", result);
  return result;
}

int SysCmdV(int index, int mode, const char *fmt, va_list ap) {
  const bool progress = index > 0;
  if (index == INT_MIN) index = SYSCMD_ROWS;
  else if (index < 0) index = -index;
  if (index >= SYSCMD_ROWS - 1) {
    char number[24];
    snprintf(number, sizeof number, "#%d", index);
    stopUnresolved(number);
  }
  const bool table = index >= 2;

  char text[kCmdSize];
  BoundedBuf cmd(text);
  if (table) {
    const SysCmdEntry &row = ResolveSysCmd(index);
    const SysCmdEntry &sh = ResolveSysCmd(CMD_SH);
    cmd.appendf("%s/%s -c \"%s/%s %s ", sh.pPath, sh.pCmd, row.pPath, row.pCmd, row.pFlags);
  }
  cmd.appendV(fmt, ap);

  // The whole text is built before anything is shown, so that a command
  // that does not fit leaves neither a dot nor a log line behind.
  const bool logging = mode == 1 || mode == 2;
  const size_t logged = cmd.size();   // the log shows the text up to here
  // The output reaches the log only through a descriptor opened and checked
  // here: a redirection by name would let the shell follow whatever has been
  // planted at the log's place in /tmp.
  FdHandle logFd;
  if (!logging) {
    cmd.appendf(" 1>/dev/null 2>/dev/null");
  } else if (progress) {
    if (flUseLog && my_name != nullptr) logFd.reset(OpenShellLog(nullptr));
    if (logFd)
      cmd.appendf(" 1>&%d 2>&%d", logFd.get(), logFd.get());
    else
      cmd.appendf(" 1>>/dev/null 2>>/dev/null");
  }
  if (table) cmd.appendf("\"");

  if (cmd.cut()) {
    // Never run a command cut short: "rm -rf /a/b" cut to "rm -rf /a" names
    // a different path.
    char what[160];
    snprintf(what, sizeof what, "command line too long, not run: %.80s...",
             table ? ComList[index].pCmd : cmd.str());
    reportFailure(mode, what);
    return E2BIG;
  }
  if (progress && flSysCmdLog && logging) {
    fputs(".", stdout);
    fflush(stdout);
    PutLogMsg("%.*s\n", static_cast<int>(logged), cmd.str());
  }

  if (pSysCmdRecorder != nullptr) return pSysCmdRecorder(index, cmd.str());
  fflush(stdout);
  char what[128];
  const int status = CmdStatus(system(cmd.str()), what, sizeof what);
  if (status != 0) reportFailure(mode, what, cmd.str(), logged);
  if (table) settle(index);
  return status;
}

const SysCmdEntry &ResolveSysCmd(int index) {
  SysCmdEntry &row = ComList[index];
  if (flInitSysCmd && row.pPath == nullptr) FillCmdPath(index);
  if (row.pPath == nullptr) stopUnresolved(row.pCmd);
  return row;
}

void RequireSysCmds(const int *rows, size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (!TestCmd(rows[i])) stopUnresolved(ComList[rows[i]].pCmd);
}

int SysCmd(int index, int mode, const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  const int status = SysCmdV(index, mode, fmt, ap);
  va_end(ap);
  return status;
}
