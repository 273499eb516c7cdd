// Tests of the installer's flow pieces that run without the real system
// paths: the base name of an installation path, the word check for command
// texts, the command line (work area, base, "-v", refused words) and the
// making of the work area, all in temporary directories.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "SysCmd.h"
#include "setup.h"

namespace {

namespace fs = std::filesystem;

TEST(SetupFlow, StripToBaseName) {
  struct Case {
    const char *in;
    const char *out;
  };
  const Case cases[] = {
      {"/opt/Tarnu/tpxx", "/opt"},   {"/opt/Tarnu/", "/opt"},     {"/opt/Tarnu", "/opt"},
      {"/opt", "/opt"},              {"/opt/", "/opt"},           {"/opt//", "/opt/"},
      {"/", "/"},                    {"", ""},                    {"/usr/Tarnu/tpxx/", "/usr"},
      {"/a/tpxx/Tarnu", "/a"},       {"/home/tpxxuser", "/home"}, {"Tarnu", ""},
      {"/srv/x/Tarnu/tpxx", "/srv/x"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.in);
    std::string buf = c.in;
    EXPECT_STREQ(StripToBaseName(buf.data()), c.out);
  }
  EXPECT_EQ(StripToBaseName(nullptr), nullptr);
}

class SetupCommandLine : public ::testing::Test {
 protected:
  void SetUp() override {
    name_ = "tarnu-test-" + std::to_string(getpid());
    my_name = name_.data();
    flUseLog = 0;
    char tmpl[] = "/tmp/tarnu-test-flow.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    reset();
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
    fs::remove("/tmp/" + name_ + ".log", ec);
    my_name = nullptr;
  }
  void reset() {
    pTarnuInstallDir = SaveStr("/tmp/%sInstall", kVendorDir);
    pCmdLineInstallDir = nullptr;
    flCreatedTmpDir = 0;
  }
  void parse(std::vector<std::string> words) {
    reset();
    words.insert(words.begin(), "/dist/setup");
    std::vector<char *> argv;
    for (auto &w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    parseCommandLineOptions(static_cast<int>(words.size()), argv.data());
  }
  std::string name_;
  std::string dir_;
};

TEST_F(SetupCommandLine, WorkAreaAndBase) {
  const std::string d = dir_;
  struct Case {
    std::vector<std::string> words;
    std::string work;  // pTarnuInstallDir
    const char *base;  // pCmdLineInstallDir, null for none
  };
  const Case cases[] = {
      {{}, "/tmp/TarnuInstall", nullptr},
      {{d}, d + "/TarnuInstall", nullptr},
      {{d + "/"}, d + "/TarnuInstall", nullptr},
      {{d + "//"}, d + "//TarnuInstall", nullptr},
      {{d, "/opt/Tarnu/tpxx"}, d + "/TarnuInstall", "/opt"},
      {{d, "/opt/"}, d + "/TarnuInstall", "/opt"},
      {{"install"}, "/tmp/TarnuInstall", nullptr},
      {{"install", "/opt", d}, d + "/TarnuInstall", "/opt"},
      {{d, "install", "/srv/Tarnu"}, d + "/TarnuInstall", "/srv"},
      {{"/", "/opt"}, "//TarnuInstall", "/opt"},
      {{"/tmp", "/opt", d}, d + "/TarnuInstall", "/opt"},  // a later work area wins
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.words));
    parse(c.words);
    EXPECT_EQ(std::string(pTarnuInstallDir), c.work);
    if (c.base == nullptr) EXPECT_EQ(pCmdLineInstallDir, nullptr);
    else EXPECT_STREQ(pCmdLineInstallDir, c.base);
    EXPECT_EQ(flCreatedTmpDir, 0);
  }
}

TEST_F(SetupCommandLine, MissingWorkAreaParentIsCreated) {
  std::string parent = dir_ + "/new/deeper";
  parse({parent});
  EXPECT_EQ(flCreatedTmpDir, 1);
  EXPECT_TRUE(fs::is_directory(parent));
  EXPECT_EQ(std::string(pTarnuInstallDir), parent + "/TarnuInstall");
}

TEST_F(SetupCommandLine, VersionEndsTheRun) {
  EXPECT_EXIT(parse({"-v"}), ::testing::ExitedWithCode(0), "^" + name_ + " 4\\.10\\.43\n$");
  EXPECT_EXIT(parse({dir_, "/opt", "-v"}), ::testing::ExitedWithCode(0), name_ + " 4\\.10\\.43");
}

TEST_F(SetupCommandLine, WordsTheShellWouldActOnAreRefused) {
  struct Case {
    std::vector<std::string> words;
    const char *what;
  };
  const Case cases[] = {
      {{"/tmp/a b"}, "the work-area directory"},
      {{"/tmp/$(reboot)"}, "the work-area directory"},
      {{"/tmp", "/opt/`id`"}, "the installation directory"},
      {{"install", "/opt\";reboot;\""}, "the installation directory"},
      {{"/tmp", "/opt", "/w\\x"}, "the work-area directory"},
      {{"install", "/o\npt"}, "the installation directory"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.words));
    EXPECT_EXIT(parse(c.words), ::testing::ExitedWithCode(2),
                std::string("^ERROR: ") + c.what + " \"");
  }
  // Nothing was made for a refused work-area word, nor for a work area
  // named before a refused base.
  EXPECT_FALSE(fs::exists("/tmp/a b"));
  std::string early = dir_ + "/early";
  EXPECT_EXIT(parse({early, "install", "/opt/$x"}), ::testing::ExitedWithCode(2),
              "^ERROR: the installation directory \"/opt/\\$x\"");
  EXPECT_EXIT(parse({early, "-v", "/a;b"}), ::testing::ExitedWithCode(2),
              "^ERROR: the work-area directory \"/a;b\"");
  EXPECT_FALSE(fs::exists(early));
}

TEST_F(SetupCommandLine, WorkAreaIsMadeAfresh) {
  std::string work = dir_ + "/TarnuInstall";
  fs::create_directories(work + "/old");
  CreateWorkArea(work.c_str());
  EXPECT_TRUE(fs::is_directory(work));
  EXPECT_FALSE(fs::exists(work + "/old"));
  struct stat st;
  ASSERT_EQ(lstat(work.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, geteuid());
}

TEST_F(SetupCommandLine, OnlyAFreshRealDirectoryIsOurs) {
  std::string target = dir_ + "/elsewhere";
  fs::create_directory(target);
  std::string link = dir_ + "/planted";
  fs::create_directory_symlink(target, link);
  std::string existing = dir_ + "/existing";
  fs::create_directory(existing);
  std::string fresh = dir_ + "/fresh";
  struct Case {
    std::string path;
    int ours;
  };
  const Case cases[] = {{fresh, 1}, {link, 0}, {existing, 0}, {dir_ + "/no/parent", 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(MakeOwnDirectory(c.path.c_str()), c.ours);
  }
  EXPECT_TRUE(fs::is_directory(fs::symlink_status(fresh)));
  EXPECT_TRUE(fs::is_symlink(link));  // left as it was
  EXPECT_TRUE(fs::is_empty(target));
}

TEST_F(SetupCommandLine, WorkAreaThatCannotBeMadeEndsTheRun) {
  std::string work = dir_ + "/no/parent/TarnuInstall";
  EXPECT_EXIT(
      {
        dup2(2, 1);  // message 3 goes to standard output
        CreateWorkArea(work.c_str());
      },
      ::testing::ExitedWithCode(2), "^ERROR: couldn't open " + work + "\n\n$");
}

// The copy of the distribution walks the disk list line by line: a line that
// is exactly "end_of_list" ends the walk, the word inside a line ends only
// that line. A stand-in whoami that is not root stops Install right after
// the copy, so the work area shows what was copied.
TEST_F(SetupCommandLine, DiskListWalkOfTheCopy) {
  std::string setupDir = dir_ + "/dist";
  fs::create_directory(setupDir);
  for (const char *name : {"a", "b", "c", "d", "e"}) std::ofstream(setupDir + "/" + name) << name;
  std::string bin = dir_ + "/bin";
  fs::create_directory(bin);
  std::ofstream(bin + "/whoami") << "#!/bin/sh\necho alice\n";
  fs::permissions(bin + "/whoami", fs::perms::owner_all);
  char *savedWhoami = ComList[CMD_WHOAMI].pPath;
  ComList[CMD_WHOAMI].pPath = bin.data();
  pPathToSetup = setupDir.data();
  std::string work = dir_ + "/TarnuInstall";
  pTarnuInstallDir = work.data();

  struct Case {
    const char *list;
    std::set<std::string> copied;
  };
  const Case cases[] = {
      {"disks a\nb end_of_list c\nd\n", {"disks", "a", "b", "d"}},
      {"disks a\nend_of_list\nb\n", {"disks", "a"}},
      {"disks\ta\r\n\r\nb\rc\n", {"disks", "a", "b", "c"}},
      {"disks end_of_list a\n  end_of_list\nb\nend_of_list\nc e\n", {"disks", "b"}},
      {"end_of_list disks\ne", {"e"}},
      {"disks a b c d e", {"disks", "a", "b", "c", "d", "e"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.list)));
    std::ofstream(setupDir + "/disks", std::ios::trunc) << c.list;
    testing::internal::CaptureStdout();
    EXPECT_EQ(installFromSite(work.c_str()), 0);
    std::string out = testing::internal::GetCapturedStdout();
    std::set<std::string> copied;
    for (const auto &entry : fs::directory_iterator(work)) copied.insert(entry.path().filename());
    EXPECT_EQ(copied, c.copied);
    EXPECT_EQ(out, "alice is logged in\nYou must become root to run " + name_ + "\n");
  }
  ComList[CMD_WHOAMI].pPath = savedWhoami;
  pPathToSetup = nullptr;
}

}  // namespace
