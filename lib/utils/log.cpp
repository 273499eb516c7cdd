// Logging and error reporting: the one log file /tmp/<my_name>.log, truncated
// by the first message of a run and appended to afterwards, and the terminal
// reports (SysError, ErrorMsg, errormsg, CreateTextFile's failure line).
//
// The log lives in a world-writable directory and is written by root, so it
// is opened without following links and written only when it is a regular
// file with one link that belongs to this process's user; anything else is
// left alone and the message is lost.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Handles.h"
#include "upcalls.h"
#include "utils.h"

unsigned char flUseLog = 0;
char *my_name = nullptr;
const char *pLogPath = "/tmp";

namespace {

unsigned char flFirstLogMsg = 1;   // the next message is the first of this run

const char *nameForReports() { return my_name != nullptr ? my_name : "setup"; }

// Opens the log for appending without following a link; the descriptor is
// returned only for a regular file with one link owned by our user.
int openLogSafely(const char *path) {
  constexpr int kFlags = O_WRONLY | O_APPEND;
  int fd = OpenCheckedFile(path, kFlags, 0, 1);
  if (fd < 0 && errno == ENOENT) {
    // The table's touch did not make it (or was not at hand): create it here,
    // exclusively, with the same permissions the chmod would have given.
    fd = OpenCheckedFile(path, kFlags | O_CREAT | O_EXCL, 0666, 1);
    if (fd >= 0) fchmod(fd, 0666);
  }
  return fd;
}

// The path of the run's log, /tmp/<my_name>.log, into path; false when it
// does not fit.
bool formatLogPath(char *path, size_t size) {
  return my_name != nullptr &&
         snprintf(path, size, "%s/%s.log", pLogPath, my_name) < static_cast<int>(size);
}

// Makes the missing log at path (its file name in /tmp is name). The one
// place where the log reaches up into the command table: a missing log is
// made with its touch and opened to everyone with its chmod, quietly. Both
// follow links, so the file is first created here, exclusively and without
// following one; a link planted in the meantime makes that fail and keeps
// the commands away from it. A name the shell would interpret, or a table
// without touch, chmod or sh, leaves the creation to this open.
void createLog(const char *path, const char *name) {
  const int fd = OpenCheckedFile(path, O_WRONLY | O_CREAT | O_EXCL, 0666, 1);
  if (fd < 0) return;
  fchmod(fd, 0666);
  close(fd);
  if (*my_name != '-' && IsShellWord(my_name, ShellContext::Word) && TestCmd(CMD_TOUCH) &&
      TestCmd(CMD_CHMOD) && TestCmd(CMD_SH)) {
    SysCmd(CMD_TOUCH, 0, "%s/%s", pLogPath, name);
    SysCmd(CMD_CHMOD, 0, "666 %s/%s", pLogPath, name);
  }
}

}  // namespace

void ResetLogRun() { flFirstLogMsg = 1; }

int OpenShellLog(const char *path) {
  char own[512];
  if (path == nullptr) {
    if (!formatLogPath(own, sizeof own)) return -1;
    path = own;
  }
  FdHandle fd(openLogSafely(path));
  if (fd.get() < 0) return -1;
  // The shell must inherit it: close-on-exec is cleared, or F_DUPFD gives a
  // copy without it.
  int shellFd = fd.get();
  if (shellFd >= 3 && shellFd <= 9) {
    if (fcntl(shellFd, F_SETFD, 0) != 0) return -1;
    fd.release();
  } else {
    shellFd = fcntl(fd.get(), F_DUPFD, 3);
    if (shellFd > 9) {
      close(shellFd);
      return -1;
    }
  }
  return shellFd;
}

void PutLogMsgV(const char *fmt, va_list ap) {
  if (!flUseLog || my_name == nullptr) return;
  pLogPath = "/tmp";
  const bool first = flFirstLogMsg != 0;
  flFirstLogMsg = 0;

  char name[256];
  char path[512];
  if (snprintf(name, sizeof name, "%s.log", my_name) >= static_cast<int>(sizeof name) ||
      snprintf(path, sizeof path, "%s/%s", pLogPath, name) >= static_cast<int>(sizeof path)) {
    fprintf(stderr, "ERROR: couldn't open %s/%s.log\n", pLogPath, my_name);
    return;
  }
  // The log is opened and checked directly (one open, one fstat), never
  // looked for in a listing of /tmp, which may hold thousands of files.
  int fd = OpenCheckedFile(path, O_WRONLY | O_APPEND, 0, 1);
  if (fd < 0 && errno == ENOENT) {
    createLog(path, name);
    fd = openLogSafely(path);
  }
  if (fd < 0) {
    fprintf(stderr, "ERROR: couldn't open %s\n", path);
    return;
  }
  if (first && ftruncate(fd, 0) != 0) {
    close(fd);
    fprintf(stderr, "ERROR: couldn't open %s\n", path);
    return;
  }
  FileHandle log(fdopen(fd, "a"));
  if (!log) {
    close(fd);
    fprintf(stderr, "ERROR: couldn't open %s\n", path);
    return;
  }
  vfprintf(log.get(), fmt, ap);
}

void PutLogMsg(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  PutLogMsgV(fmt, ap);
  va_end(ap);
}

void SysErrorV(const char *fmt, va_list ap) {
  const int err = errno;
  fflush(stdout);
  fprintf(stderr, "\n%s: ", nameForReports());
  vfprintf(stderr, fmt, ap);
  fprintf(stderr, " : %s\n", strerror(err));
  exit(1);
}

void SysError(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  SysErrorV(fmt, ap);
}

void ErrorMsgV(int level, int status, const char *fmt, va_list ap) {
  vsnprintf(Line, sizeof Line, fmt, ap);
  if (level == 1) {
    fprintf(stderr, "WARNING: %s\n", Line);
  } else if (level == 2) {
    fprintf(stderr, "ERROR: %s\n", Line);
    exit_app(status);
  }
}

void ErrorMsg(int level, int status, const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  ErrorMsgV(level, status, fmt, ap);
  va_end(ap);
}

void errormsg(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  fprintf(stderr, "%s: ", nameForReports());
  vfprintf(stderr, fmt, ap);
  fputc('\n', stderr);
  va_end(ap);
}

void exit_app(int status) { exit(status); }

int CreateTextFile(const char *path, const char *mode, int perm, const char *fmt, ...) {
  FileHandle f(fopen(path, mode));
  if (!f) {
    fprintf(stderr, "ERROR: couldn't open %s\n", path);
    return 0;
  }
  va_list ap;
  va_start(ap, fmt);
  const int n = vfprintf(f.get(), fmt, ap);
  va_end(ap);
  const bool flushed = n >= 0 && fflush(f.get()) == 0;
  if (perm != 0) fchmod(fileno(f.get()), static_cast<mode_t>(perm));
  // A file whose text did not reach the disk (a full file system) was not
  // written, and its caller must not take it for written.
  if (fclose(f.release()) != 0 || !flushed) {
    fprintf(stderr, "ERROR: couldn't write %s\n", path);
    return 0;
  }
  return 1;
}

int SysCmdP(int mode, const char *fmt, ...) {
  constexpr size_t kSize = 512;
  char cmd[kSize];
  va_list ap;
  va_start(ap, fmt);
  const int len = vsnprintf(cmd, sizeof cmd, fmt, ap);
  va_end(ap);
  const bool reports = mode == 1 || mode == 2;
  const char *tag = mode == 2 ? "ERROR" : "WARNING_MSG";
  if (len < 0 || static_cast<size_t>(len) >= kSize) {
    // A cut command line could name something else: it is not run.
    if (reports) {
      fprintf(stderr, "%s: command line too long, not run: %.60s...\n", tag, cmd);
      if (mode == 2) exit_app(1);
    }
    sleep(1);   // the pause follows every command, run or not
    return E2BIG;
  }
  if (reports) {
    printf("%s\n", cmd);
  }
  fflush(stdout);
  char what[128];
  const int status = CmdStatus(system(cmd), what, sizeof what);
  if (status != 0 && reports) {
    fprintf(stderr, "%s: %s: %s\n", tag, cmd, what);
    if (mode == 2) exit_app(1);
  }
  sleep(1);
  return status;
}
