// Pass-phrase entry on a pseudo-terminal: a session whose leader runs the
// entry as a foreground job with standard input from /dev/null and reports
// how the job ended and whether echo is back on; the test types as a user.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <vector>

#include "TextMenu.h"

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
    int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    SetPassPhraseTimeout(timeoutMsec);
    printf("[%s]\n", GetPassPhrase("Phrase: "));
    fflush(stdout);
    _exit(0);
  }
  setpgid(job, job);
  tcsetpgrp(0, job);
  int status = 0;
  while (waitpid(job, &status, WUNTRACED) == job && WIFSTOPPED(status)) {
    printf("stopped, echo %d\n", echoOn(0));
    fflush(stdout);
    kill(job, SIGCONT);
  }
  bool signaled = WIFSIGNALED(status);
  printf("echo %d, %s %d\n", echoOn(0), signaled ? "signal" : "exit",
         signaled ? WTERMSIG(status) : WEXITSTATUS(status));
  fflush(stdout);
  _exit(0);
}

struct Case {
  const char *name;
  int timeoutMsec;
  std::vector<std::string> typed;   // typed once a prompt shows and echo is off
  std::string screen;               // what the terminal shows in the end
};

// Reads the master until text shows after the place seen so far.
bool waitFor(int master, std::string &screen, size_t &seen, const std::string &text) {
  for (int tries = 0; tries < 500; tries++) {
    size_t at = screen.find(text, seen);
    if (at != std::string::npos) {
      seen = at + text.size();
      return true;
    }
    pollfd p{master, POLLIN, 0};
    char buf[512];
    ssize_t n = poll(&p, 1, 10) > 0 ? read(master, buf, sizeof buf) : 0;
    if (n < 0) return false;
    screen.append(buf, static_cast<size_t>(n));
  }
  return false;
}

bool waitEchoOff(int master) {
  for (int tries = 0; tries < 500 && echoOn(master); tries++) usleep(10000);
  return !echoOn(master);
}

TEST(PassPhrase, OnTerminal) {
  const std::string prompt = "Phrase: ";
  const Case cases[] = {
      {"no echo", 60000, {"secret\n"}, prompt + "\r\n[secret]\r\necho 1, exit 0\r\n"},
      {"256 characters", 60000, {std::string(300, 'a') + "\n"},
       prompt + "\r\n[" + std::string(256, 'a') + "]\r\necho 1, exit 0\r\n"},
      {"time-out", 200, {}, prompt + "\r\n[]\r\necho 1, exit 0\r\n"},
      {"stop and continue", 60000, {"ab\x1a", "xyz\n"},
       prompt + "\r\nstopped, echo 1\r\n" + prompt + "\r\n[xyz]\r\necho 1, exit 0\r\n"},
      {"interrupt", 60000, {"ab\x03"}, prompt + "\r\necho 1, signal 2\r\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    int master = -1;
    pid_t leader = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(leader, 0);
    if (leader == 0) runSession(c.timeoutMsec);
    std::string screen;
    size_t seen = 0;
    for (const std::string &keys : c.typed) {
      ASSERT_TRUE(waitFor(master, screen, seen, prompt));
      ASSERT_TRUE(waitEchoOff(master));
      ASSERT_EQ(write(master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }
    waitFor(master, screen, seen, "echo 1, ");
    waitFor(master, screen, seen, "\r\n");
    EXPECT_EQ(screen, c.screen);
    close(master);
    waitpid(leader, nullptr, 0);
  }
}

TEST(PassPhrase, WithoutTerminal) {
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
