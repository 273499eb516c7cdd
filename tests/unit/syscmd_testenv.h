// Test environment of the command layer: a temporary directory for stand-in
// commands, a saved and restored command table and log state, and a unique
// invocation name so that the log is /tmp/tarnu-test-<pid>.log, removed at
// the end.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "MemMgr.h"
#include "SysCmd.h"
#include "utils.h"

inline std::string ReadText(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline void WriteText(const std::string &path, const std::string &text, mode_t mode = 0644) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  chmod(path.c_str(), mode);
}

inline bool PathExists(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// The blank-separated items of a listing, sorted.
inline std::vector<std::string> Items(const char *list) {
  std::vector<std::string> out;
  std::istringstream in(list != nullptr ? list : "");
  for (std::string w; in >> w;) out.push_back(w);
  std::sort(out.begin(), out.end());
  return out;
}

class CmdEnv : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < SYSCMD_ROWS; ++i) {
      savedPaths_[i] = ComList[i].pPath;
      savedWaits_[i] = ComList[i].iWait;
    }
    savedFull_ = FullSearchPath;
    savedInit_ = flInitSysCmd;
    savedCmdLog_ = flSysCmdLog;
    savedUseLog_ = flUseLog;
    savedName_ = my_name;
    char tmpl[] = "/tmp/tarnu-cmdtest-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    // Commands whose text redirects to a relative name ("a >> b") write
    // into the temporary directory, not wherever the tests were started.
    ASSERT_NE(getcwd(savedCwd_, sizeof savedCwd_), nullptr);
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    name_ = "tarnu-test-" + std::to_string(getpid());
    my_name = const_cast<char *>(name_.c_str());
    logPath_ = "/tmp/" + name_ + ".log";
    unlink(logPath_.c_str());
    flInitSysCmd = 0;
    flUseLog = 0;
    flSysCmdLog = 0;
    ResetLogRun();
  }

  void TearDown() override {
    for (int i = 0; i < SYSCMD_ROWS; ++i) {
      ComList[i].pPath = savedPaths_[i];
      ComList[i].iWait = savedWaits_[i];
    }
    FullSearchPath = savedFull_;
    flInitSysCmd = savedInit_;
    flSysCmdLog = savedCmdLog_;
    flUseLog = savedUseLog_;
    my_name = savedName_;
    ResetLogRun();
    unlink(logPath_.c_str());
    ASSERT_EQ(chdir(savedCwd_), 0);
    const std::string cmd = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(system(cmd.c_str()), 0);
  }

  // A directory under the temporary directory.
  std::string MakeDir(const std::string &name) {
    const std::string path = dir_ + "/" + name;
    mkdir(path.c_str(), 0755);
    return path;
  }

  // An executable shell script dir/name with the given body.
  void Script(const std::string &dir, const std::string &name, const std::string &body) {
    WriteText(dir + "/" + name, "#!/bin/sh\n" + body, 0755);
  }

  // Every row unresolved, as before the start-up resolution.
  void ClearTable() {
    for (SysCmdEntry &row : ComList) row.pPath = nullptr;
  }

  // Points a row at a directory (a string that outlives the test's use).
  void Point(int index, const std::string &dir) {
    keep_.push_back(dir);
    ComList[index].pPath = const_cast<char *>(keep_.back().c_str());
  }

  std::string dir_, name_, logPath_;

 private:
  char savedCwd_[4096] = {};
  char *savedPaths_[SYSCMD_ROWS] = {};
  int32_t savedWaits_[SYSCMD_ROWS] = {};
  char *savedFull_ = nullptr;
  unsigned char savedInit_ = 0, savedCmdLog_ = 0, savedUseLog_ = 0;
  char *savedName_ = nullptr;
  std::deque<std::string> keep_{};   // stable addresses
};
