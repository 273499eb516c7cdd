// Pass-phrase entry on a pseudo-terminal: the session leader runs the entry
// as a foreground job (standard input from /dev/null) and reports how the
// job ended and whether echo is on again; the test types as a user would.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "TextMenu.h"
#include "valgrind_slack.h"

namespace {

int echoOn(int fd) {
  termios t{};
  return tcgetattr(fd, &t) == 0 && (t.c_lflag & ECHO) != 0;
}

[[noreturn]] void runSession(int timeoutMsec) {
  pid_t job = fork();
  if (job == 0) {
    setpgid(0, 0);
    while (tcgetpgrp(0) != getpid()) usleep(1000);
    dup2(open("/dev/null", O_RDONLY), 0);
    SetPassPhraseTimeout(timeoutMsec);
    printf("[%s]\n", GetPassPhrase("Phrase: "));
    fflush(stdout);
    _exit(0);
  }
  setpgid(job, job);
  tcsetpgrp(0, job);
  int st = 0;
  for (; waitpid(job, &st, WUNTRACED) == job && WIFSTOPPED(st); kill(job, SIGCONT)) {
    printf("stopped, echo %d\n", echoOn(0));
    fflush(stdout);
  }
  printf("echo %d, %s %d\n", echoOn(0), WIFSIGNALED(st) ? "signal" : "exit",
         WIFSIGNALED(st) ? WTERMSIG(st) : WEXITSTATUS(st));
  fflush(stdout);
  _exit(0);
}

// Reads the terminal until text shows after the place seen so far; false
// after five seconds (longer under valgrind).
bool waitFor(int master, std::string &screen, size_t &seen, const std::string &text) {
  for (int tries = 0; tries < ValgrindSlack(500); tries++) {
    if (size_t at = screen.find(text, seen); at != std::string::npos) {
      seen = at + text.size();
      return true;
    }
    pollfd p{master, POLLIN, 0};
    char buf[512];
    ssize_t n = poll(&p, 1, 10) > 0 ? read(master, buf, sizeof buf) : 0;
    if (n < 0) return false;   // the session has ended
    screen.append(buf, static_cast<size_t>(n));
  }
  return false;
}

TEST(PassPhrase, OnTerminal) {
  const std::string prompt = "Phrase: ", done = "echo 1, exit 0\r\n";
  struct {
    const char *name;
    int timeoutMsec;
    std::vector<std::string> typed;   // each once a prompt shows and echo is off
    std::string screen;
  } const cases[] = {
      {"no echo", 60000, {"secret\n"}, prompt + "\r\n[secret]\r\n" + done},
      {"256 characters", 60000, {std::string(300, 'a') + "\n"},
       prompt + "\r\n[" + std::string(256, 'a') + "]\r\n" + done},
      {"time-out", 200, {}, prompt + "\r\n[]\r\n" + done},
      {"stop and continue", 60000, {"ab\x1a", "xyz\n"},
       prompt + "\r\nstopped, echo 1\r\n" + prompt + "\r\n[xyz]\r\n" + done},
      {"interrupt", 60000, {"ab\x03"}, prompt + "\r\necho 1, signal 2\r\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    // A program under valgrind is not stopped by the stop signal it sends
    // itself, so the session never sees the stop.
    if (RUNNING_ON_VALGRIND && std::string(c.name) == "stop and continue") continue;
    int master = -1;
    pid_t leader = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(leader, 0);
    if (leader == 0) runSession(c.timeoutMsec);
    std::string screen;
    size_t seen = 0;
    for (const std::string &keys : c.typed) {
      ASSERT_TRUE(waitFor(master, screen, seen, prompt));
      for (int tries = 0; tries < ValgrindSlack(500) && echoOn(master); tries++) usleep(10000);
      ASSERT_EQ(write(master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }
    if (waitFor(master, screen, seen, "echo 1, ")) waitFor(master, screen, seen, "\r\n");
    EXPECT_EQ(screen, c.screen);
    close(master);
    waitpid(leader, nullptr, 0);
  }
}

TEST(PassPhrase, WithoutTerminalReadsStandardInput) {
  EXPECT_EXIT(
      {
        setsid();
        int in[2];
        if (pipe(in) != 0 || write(in[1], "phrase\nrest", 11) != 11) _exit(2);
        dup2(in[0], 0);
        fprintf(stderr, "[%s]", GetPassPhrase("P: "));
        exit(0);
      },
      testing::ExitedWithCode(0), "^P: \n\\[phrase\\]$");
}

}  // namespace
