// Pass-phrase entry: a secret line read from the controlling terminal with
// echo off, in the manner of OpenBSD's readpassphrase. Each round restores
// the terminal settings and the seven signal actions before a signal caught
// meanwhile is sent again; after a stop and continue the prompt is shown
// again. The module buffer is wiped as soon as the caller's copy is made.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

#include "Handles.h"
#include "TextMenu.h"
#include "utils.h"

namespace {

constexpr int PHRASE_MAX = 256;
constexpr int CAUGHT[] = {SIGINT, SIGHUP, SIGQUIT, SIGTERM, SIGTSTP, SIGTTIN, SIGTTOU};
constexpr int CAUGHT_COUNT = sizeof CAUGHT / sizeof CAUGHT[0];

char phrase[PHRASE_MAX + 1];
volatile sig_atomic_t signo = 0;   // the last signal caught during a round
int timeoutMsec = 60 * 1000;

long long nowMsec() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void writeAll(int fd, const char *text) {
  for (size_t left = strlen(text); left > 0;) {
    ssize_t n = write(fd, text, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text += n;
    left -= static_cast<size_t>(n);
  }
}

// Reads the phrase a character at a time into the module buffer until a
// line end, the time-out (shared by all characters), a failure, a caught
// signal or PHRASE_MAX characters.
void readPhrase(int in) {
  int n = 0;
  const long long deadline = nowMsec() + timeoutMsec;
  while (n < PHRASE_MAX && signo == 0) {
    long long left = deadline - nowMsec();
    pollfd wait{in, POLLIN, 0};
    int ready = poll(&wait, 1, left > 0 ? static_cast<int>(left) : 0);
    if (ready < 0 && errno == EAGAIN) continue;
    if (ready <= 0) break;
    char c;
    if (read(in, &c, 1) != 1 || c == '\n' || c == '\r') break;
    phrase[n++] = c;
  }
  phrase[n] = '\0';
}

// One round of the entry: prompt, read with echo off, restore. Returns the
// signal caught meanwhile, or 0; keeps errno of the read in readErrno.
int readRound(const char *prompt, int &readErrno) {
  signo = 0;
  FdHandle tty(open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
  const int in = tty ? tty.get() : STDIN_FILENO;
  const int out = tty ? tty.get() : STDERR_FILENO;
  writeAll(out, prompt != nullptr ? prompt : "");

  struct sigaction catcher {};
  sigemptyset(&catcher.sa_mask);
  catcher.sa_handler = handler;
  struct sigaction previous[CAUGHT_COUNT];
  for (int i = 0; i < CAUGHT_COUNT; i++) sigaction(CAUGHT[i], &catcher, &previous[i]);

  termios found{}, used{};
  if (tcgetattr(in, &found) == 0) {
    used = found;
    used.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
    tcsetattr(in, TCSAFLUSH, &used);
  } else {
    found = used = termios{};
  }

  readPhrase(in);
  readErrno = errno;

  if ((used.c_lflag & ECHO) == 0) writeAll(out, "\n");   // the Return was not echoed
  if (used.c_lflag != found.c_lflag) {
    // A background job is stopped by SIGTTOU on every try: give up then.
    while (tcsetattr(in, TCSAFLUSH, &found) == -1 && errno == EINTR && signo != SIGTTOU) {
    }
  }
  for (int i = 0; i < CAUGHT_COUNT; i++) sigaction(CAUGHT[i], &previous[i], nullptr);
  return signo;
}

}  // namespace

void handler(int sig) { signo = sig; }

int SetPassPhraseTimeout(int msec) {
  int before = timeoutMsec;
  timeoutMsec = msec;
  return before;
}

char *GetPassPhrase(const char *prompt) {
  int readErrno = 0;
  for (;;) {
    int sig = readRound(prompt, readErrno);
    if (sig == 0) break;
    // Delivered now with the caller's action; a stop returns here after
    // the continue, and the phrase is asked for again.
    kill(getpid(), sig);
    if (sig != SIGTSTP && sig != SIGTTIN && sig != SIGTTOU) break;
  }
  char *copy = SaveStr(phrase);
  explicit_bzero(phrase, sizeof phrase);
  errno = readErrno;
  return copy;
}
