// Tests of tdbtool, run as the built program: the text form both ways, the
// formats it writes, the database by name or by path, and its errors.
#include "dbm_fixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <vector>

#ifndef TDBTOOL_PATH
#define TDBTOOL_PATH ""
#endif

namespace {

struct Result {
  int status;
  std::string out, err;
};

class ToolTest : public DbmTest {
 protected:
  // The program: from the build, else beside the test program's directory.
  static std::string tool() {
    if (*TDBTOOL_PATH) return TDBTOOL_PATH;
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return "";
    self[n] = 0;
    std::string dir = std::filesystem::path(self).parent_path();
    for (const char *rel : {"/../tools/tdbtool/tdbtool", "/tdbtool"})
      if (std::filesystem::exists(dir + rel)) return dir + rel;
    return "";
  }

  Result run(std::vector<std::string> args, const std::string &input = "") {
    std::string exe = tool();
    if (exe.empty()) {
      ADD_FAILURE() << "tdbtool not found";
      return {-1, "", ""};
    }
    std::string in = dir_ + "/.in", out = dir_ + "/.out", err = dir_ + "/.err";
    writeFile(in, input);
    pid_t pid = fork();
    if (pid == 0) {
      int fin = open(in.c_str(), O_RDONLY), fout = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600),
          ferr = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (fin < 0 || fout < 0 || ferr < 0) _exit(127);
      dup2(fin, 0);
      dup2(fout, 1);
      dup2(ferr, 2);
      std::vector<char *> argv{exe.data()};
      for (auto &a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(exe.c_str(), argv.data());
      _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    Result r{WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(out), readFile(err)};
    std::filesystem::remove(in);
    std::filesystem::remove(out);
    std::filesystem::remove(err);
    return r;
  }
};

// The build's own command: a text catalogue source into a record file.
TEST_F(ToolTest, ImportBuildsAHeaderedFile) {
  std::string out = dir_ + "/cat/CoreString.tdb";
  std::filesystem::create_directories(dir_ + "/cat");
  writeFile(dir_ + "/src.txt", "# core texts\n1_1\tFile\n\n1_2\tTab\\there\\nand a line\n");
  Result r = run({"--file", out, "import", dir_ + "/src.txt"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string f = readFile(out);
  ASSERT_GE(f.size(), 16u);
  EXPECT_EQ(f.substr(0, 8), std::string("TTDBAA2\0", 8));
  EXPECT_EQ(f.substr(16), headeredRecord("1_1", "File") + headeredRecord("1_2", "Tab\there\nand a line"));
  EXPECT_FALSE(exists(out + "_new"));
  EXPECT_FALSE(exists(dir_ + "/db"));  // nothing created in the working directory
  DbTHandle *h = DbTOpen(out.c_str(), 0);
  char buf[32] = {};
  EXPECT_EQ(DbmTGetRecord(h, "1_1", buf), 4);
  EXPECT_STREQ(buf, "File");
  DbTClose(h);
}

TEST_F(ToolTest, TextFormRoundTripsEveryByte) {
  std::string value;
  for (int c = 1; c < 256; ++c) value.push_back(static_cast<char>(c));
  value.push_back('\0');
  std::string key = "#k\\ey\t1";
  std::string path = dir_ + "/all.tdb";
  ASSERT_EQ(run({"--create", "--file", path, "put", "\\#k\\\\ey\\t1", "x"}).status, 0);
  DbmSetV4DriverPathHandling();
  DbTHandle *h = DbTOpen(path.c_str(), 0);
  ASSERT_EQ(DbmTPutRecord(h, key.c_str(), value.data(), static_cast<int>(value.size())), 1);
  DbTClose(h);
  Result exported = run({"--file", path, "export"});
  ASSERT_EQ(exported.status, 0);
  EXPECT_EQ(exported.out.substr(0, 12), "\\#k\\\\ey\\t1\t\\");
  EXPECT_EQ(std::count(exported.out.begin(), exported.out.end(), '\n'), 1);
  writeFile(dir_ + "/x.txt", exported.out);
  std::string copy = dir_ + "/copy.tdb";
  ASSERT_EQ(run({"--file", copy, "import", dir_ + "/x.txt"}).status, 0);
  Result got = run({"--file", copy, "get", "\\#k\\\\ey\\t1"});
  ASSERT_EQ(got.status, 0);
  EXPECT_TRUE(got.out == value);
  EXPECT_EQ(run({"--file", copy, "export"}).out, exported.out);
}

TEST_F(ToolTest, LegacyOptionAndCommands) {
  std::string path = dir_ + "/l.tdb";
  ASSERT_EQ(run({"--legacy", "--create", "--file", path, "put", "k", "v"}).status, 0);
  EXPECT_EQ(readFile(path), legacyRecord("k", "v"));
  // An existing file keeps its format.
  ASSERT_EQ(run({"--file", path, "put", "pr1", "a"}).status, 0);
  ASSERT_EQ(run({"--file", path, "put", "pr2", "b"}).status, 0);
  EXPECT_EQ(readFile(path), legacyRecord("k", "v") + legacyRecord("pr1", "a") + legacyRecord("pr2", "b"));
  EXPECT_EQ(run({"--file", path, "list"}).out, "k\npr1\npr2\n");
  EXPECT_EQ(run({"--file", path, "dump"}).out, "5 2 ==>{k.v}\n7 4 ==>{pr1.a}\n7 4 ==>{pr2.b}\n");
  EXPECT_EQ(run({"--file", path, "delete-prefix", "pr"}).status, 0);
  EXPECT_EQ(run({"--file", path, "delete", "k"}).status, 0);
  EXPECT_EQ(readFile(path), "");
  EXPECT_EQ(run({"--file", path, "list"}).out, "");
}

TEST_F(ToolTest, ImportReplacesAndMergeAdds) {
  std::string path = dir_ + "/m.tdb";
  writeFile(dir_ + "/a.txt", "old\t1\nkeep\t2\n");
  writeFile(dir_ + "/b.txt", "keep\t3\nnew\t4\n");
  ASSERT_EQ(run({"--file", path, "import", dir_ + "/a.txt"}).status, 0);
  ASSERT_EQ(run({"--file", path, "merge", dir_ + "/b.txt"}).status, 0);
  EXPECT_EQ(run({"--file", path, "export"}).out, "old\t1\nkeep\t3\nnew\t4\n");
  ASSERT_EQ(run({"--file", path, "import", "-"}, "only\tone\n").status, 0);
  EXPECT_EQ(run({"--file", path, "export"}).out, "only\tone\n");
}

TEST_F(ToolTest, DatabaseByName) {
  std::string base = dir_ + "/tool";
  ASSERT_EQ(run({"--base", base, "--db", "en_US/Help", "--create", "put", "k", "v"}).status, 0);
  EXPECT_TRUE(exists(base + "/db/en_US/Help.tdb"));
  Result r = run({"--base", base + "/", "--db", "en_US/Help", "get", "k"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "v");
  EXPECT_FALSE(exists(dir_ + "/db"));
}

// A file that is missing, damaged or no file at all is reported with
// status 1, never listed as an empty database; a damaged file's readable
// records are still shown, and it is not written.
TEST_F(ToolTest, UnusableFilesAreReported) {
  std::string bad = header(2) + headeredRecord("a", "1") + B({0x7F, 0x00, 0x00, 0x02});
  writeFile(dir_ + "/bad.tdb", bad);
  std::filesystem::create_directories(dir_ + "/dir.tdb");
  std::filesystem::create_symlink("/dev/null", dir_ + "/dev.tdb");
  struct Case {
    std::string file, command, out, err;
  } cases[] = {
      {"none.tdb", "list", "", "none.tdb: no such database file"},
      {"dir.tdb", "list", "", "dir.tdb: a directory, not a database file"},
      {"dev.tdb", "list", "", "dev.tdb: a device, not a database file"},
      {"bad.tdb", "list", "a\n", "bad.tdb: damaged record file: nothing after byte 23"},
      {"bad.tdb", "put", "", "ERROR: damaged record file, not written: " + dir_ + "/bad.tdb"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.err);
    std::vector<std::string> args{"--file", dir_ + "/" + c.file, c.command};
    if (c.command == "put") args.insert(args.end(), {"k", "v"});
    Result r = run(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, c.out);
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  }
  EXPECT_EQ(readFile(dir_ + "/bad.tdb"), bad);
}

// repair keeps the readable records under the file's own mode and the
// original as FILE.damaged; a database import makes is 0644 whatever the
// umask.
TEST_F(ToolTest, RepairAndImportModes) {
  std::string file = dir_ + "/r.tdb";
  std::string original = header(3) + headeredRecord("a", "1") + headeredRecord("b", "2") + B({0x00, 0x40, 0x00});
  writeFile(file, original);
  ASSERT_EQ(chmod(file.c_str(), 0640), 0);
  EXPECT_EQ(run({"repair", file}).status, 0);
  EXPECT_EQ(readFile(file + ".damaged"), original);
  EXPECT_EQ(readFile(file).substr(0, 8), std::string("TTDBAA2\0", 8));
  EXPECT_EQ(run({"--file", file, "list"}).out, "a\nb\n");
  writeFile(dir_ + "/src.txt", "k\tv\n");
  mode_t old = umask(0);
  EXPECT_EQ(run({"--file", dir_ + "/c.tdb", "import", dir_ + "/src.txt"}).status, 0);
  umask(old);
  for (auto [path, mode] : {std::pair{file, 0640u}, std::pair{dir_ + "/c.tdb", 0644u}}) {
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode) << path;
  }
}

TEST_F(ToolTest, ErrorsExitNonZero) {
  std::string path = dir_ + "/e.tdb";
  writeFile(dir_ + "/notab.txt", "a\t1\nkey without tab\n");
  writeFile(dir_ + "/badx.txt", "a\t\\x4\n");
  writeFile(dir_ + "/empty.txt", "a\t\n");
  writeFile(dir_ + "/trail.txt", "a\tb\\\n");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;
  } cases[] = {
      {{"--file", path, "import", dir_ + "/notab.txt"}, 1, "notab.txt:2: no tab between key and value"},
      {{"--file", path, "import", dir_ + "/badx.txt"}, 1, "\\x needs two hexadecimal digits"},
      {{"--file", path, "import", dir_ + "/empty.txt"}, 1, "an empty value cannot be stored"},
      {{"--file", path, "import", dir_ + "/trail.txt"}, 1, "a backslash at the end of a field"},
      {{"--file", path, "import", dir_ + "/missing.txt"}, 1, "cannot open"},
      {{"--file", path, "get", "absent"}, 1, "e.tdb: no such database file\n"},
      {{"--file", path, "delete", "absent"}, 1, "e.tdb: no such database file\n"},
      {{"--file", path, "put", "k", "v"}, 1, "e.tdb: no such database file (--create makes a new one)"},
      {{"--file", path, "merge", dir_ + "/empty.txt"}, 1, "e.tdb: no such database file (--create"},
      {{"--create", "--file", path, "put", "k", ""}, 1, "an empty value cannot be stored"},
      {{"--file", path, "frobnicate"}, 2, "unknown command frobnicate\nusage: tdbtool"},
      {{"--file", path, "put", "k"}, 2, "put takes 2 to 2 arguments\nusage: tdbtool"},
      {{"list"}, 2, "give either --db NAME or --file PATH\nusage: tdbtool"},
      {{"--db", "x", "--file", path, "list"}, 2, "give either --db NAME or --file PATH"},
      {{"--verbose", "list"}, 2, "unknown option --verbose\nusage: tdbtool"},
      {{"--file"}, 2, "--file needs a value\nusage: tdbtool"},
      {{"--file", path}, 2, "no command given\nusage: tdbtool"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.err);
    Result r = run(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  }
  EXPECT_FALSE(exists(path));  // a failed import or put writes nothing
  Result help = run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: tdbtool", 0), 0u);
}

}  // namespace
