// Tests of the pre-installation checks that run in temporary directories:
// the disk list (lower and upper case, missing), the joining of the archive
// pieces, the missing space figures, the root check through a stand-in
// whoami, the old-daemon question and the running-process menu.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "SysCmd.h"
#include "TextMenu.h"
#include "setup.h"

namespace {

namespace fs = std::filesystem;

void writeFile(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class SetupChecks : public ::testing::Test {
 protected:
  void SetUp() override {
    name_ = "tarnu-test-" + std::to_string(getpid());
    my_name = name_.data();
    flUseLog = 0;
    char tmpl[] = "/tmp/tarnu-test-checks.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    pPathToSetup = dir_.data();
    pTarnuInstallDir = dir_.data();
    app_ = dir_ + "/app";
    fs::create_directory(app_);
    pAppDir = app_.data();
    cwd_ = fs::current_path();
  }
  void TearDown() override {
    fs::current_path(cwd_);
    std::error_code ec;
    fs::remove_all(dir_, ec);
    fs::remove("/tmp/" + name_ + ".log", ec);
    my_name = nullptr;
    pPathToSetup = pTarnuInstallDir = pAppDir = nullptr;
  }
  // Standard input from a file holding text.
  void input(const std::string &text) {
    std::string path = dir_ + "/stdin";
    writeFile(path, text);
    ASSERT_NE(freopen(path.c_str(), "r", stdin), nullptr);
  }
  std::string name_, dir_, app_;
  fs::path cwd_;
};

size_t count(const std::string &text, const std::string &what) {
  size_t n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

TEST_F(SetupChecks, UpperCaseDiskList) {
  struct Case {
    const char *in;
    const char *out;
  };
  const Case cases[] = {
      {"pkg_tar.001 end_of_list x", "PKG_TAR.001 end_of_list x"},
      {"disks\npkg_tar.001\n", "DISKS\nPKG_TAR.001\n"},
      {"end_of_list a", "end_of_list a"},
      {"a end_of_listend_of_list b", "A end_of_listend_of_list b"},
      {"", ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.in);
    std::string buf = c.in;
    UpperDisksList(buf.data());
    EXPECT_EQ(buf, c.out);
  }
}

TEST_F(SetupChecks, DiskListFromEitherName) {
  writeFile(dir_ + "/DISKS", "disks pkg_tar.001\nend_of_list\nlower");
  GetDisksData(dir_.c_str());
  EXPECT_STREQ(LineBuf, "DISKS PKG_TAR.001\nend_of_list\nlower");
  writeFile(dir_ + "/disks", "disks pkg_tar.001 end_of_list");
  GetDisksData(dir_.c_str());
  EXPECT_STREQ(LineBuf, "disks pkg_tar.001 end_of_list");
}

TEST_F(SetupChecks, MissingDiskListEndsTheRun) {
  EXPECT_EXIT(GetDisksData(dir_.c_str()), ::testing::ExitedWithCode(1),
              "^ERROR: can't open file, TarnuInstall/disks\n$");
}

TEST_F(SetupChecks, PiecesAreJoinedInListOrder) {
  writeFile(dir_ + "/disks", "disks isize\tpkg_tar.002\npkg_tar.001 pkg_tar.009 other\r\n"
                             "PKG_TAR.003 end_of_list pkg_tar.004\n");
  writeFile(dir_ + "/pkg_tar.001", "one|");
  writeFile(dir_ + "/pkg_tar.002", "two|");
  writeFile(dir_ + "/PKG_TAR.003", "three|");
  writeFile(dir_ + "/pkg_tar.004", "four|");
  writeFile(dir_ + "/other", "other|");
  genZFile();
  // A tab separates as a blank does.
  EXPECT_EQ(readFile(dir_ + "/Linuxi386Tpxx.tar.Z"), "two|one|three|");
  EXPECT_EQ(fs::current_path(), fs::path(dir_));
}

TEST_F(SetupChecks, MissingSpaceFiguresEndTheRun) {
  for (const char *present : {"isize", "tsize"}) {
    SCOPED_TRACE(present);
    fs::remove(dir_ + "/isize");
    fs::remove(dir_ + "/tsize");
    writeFile(dir_ + "/" + present, "10\n");
    EXPECT_EXIT(
        {
          dup2(2, 1);
          FreeSpaceForInstall("/tmp/x/TarnuInstall", "/usr", "Tarnu");
        },
        ::testing::ExitedWithCode(1),
        "^Could not determine how much space needed for install, missing isize\\.\n$");
  }
}

TEST_F(SetupChecks, NotRoot) {
  std::string bin = dir_ + "/bin";
  fs::create_directory(bin);
  writeFile(bin + "/whoami", "#!/bin/sh\necho alice\n");
  fs::permissions(bin + "/whoami", fs::perms::owner_all);
  char *saved = ComList[CMD_WHOAMI].pPath;
  ComList[CMD_WHOAMI].pPath = bin.data();
  flExitTextMenu = 0;
  testing::internal::CaptureStdout();
  int ready = readyForInstallation();
  std::string out = testing::internal::GetCapturedStdout();
  ComList[CMD_WHOAMI].pPath = saved;
  EXPECT_EQ(ready, 0);
  EXPECT_EQ(flExitTextMenu, 1);
  EXPECT_EQ(out, "alice is logged in\nYou must become root to run " + name_ + "\n");
}

TEST_F(SetupChecks, OldDaemonQuestion) {
  if (geteuid() != 0) GTEST_SKIP() << "the question follows the root check";
  writeFile(app_ + "/TPrintDStop", "");
  struct Case {
    const char *input;
    int asked;  // times the question was shown
  };
  const Case cases[] = {
      {"y\n", 1}, {"yes\n", 1}, {"Y\nyes\n", 2}, {"\n  \nmaybe\ny\n", 4}, {"n\n", 1},
      {"  yes please\n", 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.input)));
    input(c.input);
    testing::internal::CaptureStdout();
    int ready = readyForInstallation();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(ready, 1);
    EXPECT_EQ(count(out, "Do You want to continue with the installation? [yn] "),
              static_cast<size_t>(c.asked));
    EXPECT_EQ(count(out, "NOTE: TPrintD is located in <install directory>/Tarnu/tpxx\n"), 1u);
  }
  for (const char *quits : {"no\n", "N\nno\n"}) {
    SCOPED_TRACE(testing::PrintToString(std::string(quits)));
    input(quits);
    EXPECT_EXIT(readyForInstallation(), ::testing::ExitedWithCode(0), "");
  }
  for (const char *ends : {"", "N\n"}) {  // no answer: a failure, not a "no"
    SCOPED_TRACE(testing::PrintToString(std::string(ends)));
    input(ends);
    EXPECT_EXIT(readyForInstallation(), ::testing::ExitedWithCode(1), "");
  }
}

// A process with a name of its own, running while the holder lives.
class NamedProcess {
 public:
  explicit NamedProcess(const std::string &dir) {
    name_ = "tts" + std::to_string(getpid() % 100000);
    std::string path = dir + "/" + name_;
    fs::copy_file("/bin/sleep", path);
    pid_ = fork();
    if (pid_ == 0) {
      execl(path.c_str(), name_.c_str(), "60", static_cast<char *>(nullptr));
      _exit(127);
    }
    usleep(200000);
  }
  ~NamedProcess() { stop(); }
  void stop() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }
  const std::string &name() const { return name_; }

 private:
  std::string name_;
  pid_t pid_ = -1;
};

TEST_F(SetupChecks, RunningProcessMenu) {
  const std::string menu =
      "Would you like to:\n1.  Wait 30 seconds for these processes to terminate\n"
      "2.  Quit the installation\n\nEnter a selection:  ";
  NamedProcess proc(dir_);
  std::string list = ",tpqadmin," + proc.name() + ",";
  struct Case {
    const char *input;
    int shown;
  };
  const Case cases[] = {{"2\n", 1}, {"x\n2\n", 2}};
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.input)));
    input(c.input);
    testing::internal::CaptureStdout();
    int quit = QuitForRunningProcesses(list.c_str());
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(quit, 1);
    EXPECT_EQ(count(out, menu), static_cast<size_t>(c.shown));
    EXPECT_EQ(out.rfind("\nThe following processes are running.\nThe installer can not continue "
                        "until these terminate:\n" + proc.name() + " ( ",
                        0),
              0u);
  }
  for (const char *ends : {"", "\n"}) {  // no answer: a failure, not a quit
    SCOPED_TRACE(testing::PrintToString(std::string(ends)));
    input(ends);
    EXPECT_EXIT(QuitForRunningProcesses(list.c_str()), ::testing::ExitedWithCode(1), "");
  }
  proc.stop();
  input("");
  EXPECT_EQ(QuitForRunningProcesses(list.c_str()), 0);
}

}  // namespace
