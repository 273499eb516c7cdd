// A terminal for the end-to-end tests of the interactive tools: one tmux
// server of its own with one 80 x 24 window running a command, lines typed
// into it and its screen read back.
#pragma once
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "e2e.h"

namespace e2e {

// One tmux server of its own with one 80 x 24 window running a command.
class Tmux {
 public:
  explicit Tmux(const std::string &command) {
    socket_ = "tarnu-e2e-" + std::to_string(getpid());
    Shell("tmux -L " + socket_ + " new-session -d -x 80 -y 24 -s t " + Quote(command));
  }
  ~Tmux() { Shell("tmux -L " + socket_ + " kill-server 2>/dev/null"); }
  Tmux(const Tmux &) = delete;
  Tmux &operator=(const Tmux &) = delete;

  // Types a line (the text, then Enter).
  void type(const std::string &line) {
    if (!line.empty()) Shell("tmux -L " + socket_ + " send-keys -t t -l " + Quote(line));
    Shell("tmux -L " + socket_ + " send-keys -t t Enter");
  }
  std::string screen() {
    std::string file = dir_ / "screen";
    Shell("tmux -L " + socket_ + " capture-pane -p -t t >" + Quote(file) + " 2>/dev/null");
    return ReadFile(file);
  }
  // Waits until the screen shows text; false after ten seconds.
  bool waitFor(const std::string &text) {
    for (int i = 0; i < 200; i++) {
      if (screen().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

 private:
  std::string socket_;
  e2e::TempDir dir_;
};

}  // namespace e2e
