// Harness of the installer's end-to-end tests: builds distributions with
// tools/mkdist and runs setup inside tools/sandbox, never on the machine
// itself, returning its standard output, standard error, exit status, the
// log and whatever the test's after-script printed.
//
// Inside the sandbox the distribution is at /dist (read-only), the harness's
// files at /e2e; setup is run as /dist/setup unless a run names another path.
// A script that finds itself outside the sandbox stops with status 99.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace e2e {

namespace fs = std::filesystem;

inline const char kSandbox[] = TARNU_SANDBOX_TOOL;
inline const char kMkdist[] = TARNU_MKDIST_TOOL;
inline const char kExamples[] = TARNU_EXAMPLES_DIR;
inline const char kSetupBin[] = TARNU_SETUP_BIN;
inline const char kSourceDir[] = TARNU_SOURCE_DIR;

// A fresh directory under the system's temporary directory, removed with
// everything in it when the holder goes.
class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "tarnu-e2e.XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  std::string operator/(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteFile(const std::string &path, const std::string &text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// The word quoted for sh: '...' with every ' written as '\''.
inline std::string Quote(const std::string &word) {
  std::string q = "'";
  for (char c : word) {
    if (c == '\'') q += "'\\''";
    else q += c;
  }
  return q + "'";
}

inline bool EndsWith(const std::string &text, const std::string &tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Runs a shell command line on the host; its exit status (or -1).
inline int Shell(const std::string &command) {
  int rc = std::system(command.c_str());
  if (rc == -1 || !WIFEXITED(rc)) return -1;
  return WEXITSTATUS(rc);
}

// The sandbox needs root and unshare; the tests skip without them.
inline bool SandboxUsable(std::string *why) {
  if (geteuid() != 0) {
    *why = "the sandbox needs root";
    return false;
  }
  if (access(kSetupBin, X_OK) != 0) {
    *why = std::string("no installer at ") + kSetupBin;
    return false;
  }
  return true;
}

// A distribution built from a package tree (default: the sample package)
// with the given tools/mkdist options, in a directory of its own.
class Dist {
 public:
  explicit Dist(const std::vector<std::string> &options = {},
                const std::string &tree = std::string(kExamples) + "/package") {
    std::string cmd = Quote(kMkdist) + " --setup " + Quote(kSetupBin);
    for (const auto &o : options) cmd += " " + Quote(o);
    cmd += " " + Quote(tree) + " " + Quote(dir_ / "dist") + " >/dev/null";
    status_ = Shell(cmd);
  }
  std::string path() const { return dir_ / "dist"; }
  bool ok() const { return status_ == 0; }

 private:
  TempDir dir_;
  int status_ = -1;
};

// A package tree copied from the sample package, for tests that change it.
class Tree {
 public:
  Tree() {
    fs::copy(std::string(kExamples) + "/package", path(),
             fs::copy_options::recursive);
  }
  std::string path() const { return dir_ / "tree"; }
  std::string pkg(const std::string &name) const { return path() + "/pkg/" + name; }

 private:
  TempDir dir_;
};

struct Run {
  std::vector<std::string> args;   // words after the program name
  std::string input = "y\n";       // standard input; "y\n" accepts the licence
  bool noInput = false;            // standard input from /dev/null instead
  std::vector<std::string> env;    // NAME=VALUE for setup only
  std::string before;              // shell text run (as root) before setup
  std::string after;               // shell text run after; its output is `report`
  std::string program = "/dist/setup";  // how setup is invoked (argument 0)
  std::string cwd = "/";           // directory setup starts in
  std::vector<std::string> binds;  // more --bind HOST:PATH for the sandbox
  bool keepUpper = false;          // list the files written (`written`)
  bool changes = false;            // the sandbox's change report (`changes`)
  int timeLimit = 0;               // seconds before setup is killed (status 137)
};

// The same record under a name that a test body can use unqualified (inside
// a gtest fixture, plain "Run" names testing::Test::Run).
using Invocation = Run;

struct Outcome {
  std::string out;       // setup's standard output
  std::string err;       // setup's standard error
  int status = -1;       // setup's exit status
  bool hasLog = false;   // /tmp/setup.log existed after the run
  std::string log;       // its content
  std::string report;    // output of the after-script (stdout and stderr)
  std::string written;   // with keepUpper: every path the run created or
                         // changed outside /tmp, one a line, sorted
  std::string changes;   // with changes: what the run changed on the machine
                         // ("A /path 0755 root:root dir" lines, sorted)
  std::string sandboxErr;  // the sandbox's own error output
  int sandboxStatus = -1;
};

// Runs setup once in a fresh sandbox over the distribution at distDir.
inline Outcome RunSetup(const std::string &distDir, const Run &run) {
  TempDir work;
  fs::create_directory(work / "out");
  WriteFile(work / "stdin", run.input);
  std::string envWords;
  for (const auto &e : run.env) envWords += " " + Quote(e);
  std::string argWords;
  for (const auto &a : run.args) argWords += " " + Quote(a);
  std::ostringstream sh;
  sh << "if [ \"$TARNU_SANDBOX\" != 1 ] || [ ! -e /.tarnu-sandbox ]; then\n"
        "  echo 'e2e: refusing to run outside the sandbox' >&2; exit 99\n"
        "fi\n"
        "cd /\n"
     << run.before << "\n"
     << "cd " << Quote(run.cwd) << " || exit 98\n"
     << (run.timeLimit > 0 ? "timeout -s KILL " + std::to_string(run.timeLimit) + " " : "")
     << "env" << envWords << " " << Quote(run.program) << argWords
     << (run.noInput ? " </dev/null" : " </e2e/stdin")
     << " >/e2e/out/stdout 2>/e2e/out/stderr\n"
     << "echo $? >/e2e/out/status\n"
     << "cd /\n"
     << "if [ -f /tmp/setup.log ]; then cp /tmp/setup.log /e2e/out/log; fi\n"
     << "(\n:\n" << run.after << "\n) >/e2e/out/report 2>&1\n"
     << "exit 0\n";
  WriteFile(work / "script.sh", sh.str());
  std::string cmd = Quote(kSandbox);
  if (run.keepUpper) cmd += " --keep " + Quote(work / "upper");
  if (run.changes) cmd += " --changes";
  cmd += " --bind " + Quote(distDir + ":/dist");
  cmd += " --bind-rw " + Quote(work.path() + ":/e2e");
  for (const auto &b : run.binds) cmd += " --bind " + Quote(b);
  cmd += " -- /bin/sh /e2e/script.sh 2>" + Quote(work / "sandbox.err");
  if (run.changes) cmd += " >" + Quote(work / "changes");
  Outcome o;
  o.sandboxStatus = Shell(cmd);
  o.sandboxErr = ReadFile(work / "sandbox.err");
  o.out = ReadFile(work / "out/stdout");
  o.err = ReadFile(work / "out/stderr");
  std::string st = ReadFile(work / "out/status");
  o.status = st.empty() ? -1 : std::atoi(st.c_str());
  o.hasLog = fs::exists(work / "out/log");
  if (o.hasLog) o.log = ReadFile(work / "out/log");
  o.report = ReadFile(work / "out/report");
  if (run.changes) o.changes = ReadFile(work / "changes");
  if (run.keepUpper) {
    std::string list = work / "written";
    Shell("cd " + Quote(work / "upper") +
          " && find . -mindepth 1 | sed 's,^\\.,,' | grep -v -e '^/dist$' -e '^/e2e$' -e '^/tmp$' -e '^/tmp/'"
          " | LC_ALL=C sort >" + Quote(list));
    o.written = ReadFile(list);
  }
  return o;
}

// The licence text of a file in setup/licence ("en_US.txt").
inline std::string LicenceText(const std::string &file) {
  return ReadFile(std::string(kSourceDir) + "/setup/licence/" + file);
}

// The number of commands a log records ("/usr/bin/sh -c ..." lines): each
// printed one progress dot.
inline size_t LoggedCommands(const std::string &log) {
  size_t n = 0;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);)
    if (line.rfind("/", 0) == 0 && line.find(" -c \"") != std::string::npos) ++n;
  return n;
}

// Shell text that describes paths for a report: type and mode, owner and
// group, and the link target, one line each ("-rwxr-xr-x root:root /p").
inline std::string Describe(const std::vector<std::string> &paths) {
  std::string sh;
  for (const auto &p : paths)
    sh += "if [ -e " + Quote(p) + " ] || [ -L " + Quote(p) + " ]; then stat -c '%A %U:%G %N' " +
          Quote(p) + "; else echo 'missing " + p + "'; fi\n";
  return sh;
}

// The paths of the machine that an installer run would change; a test
// fixture checks that none of them appears on the machine itself.
inline std::vector<std::string> HostPathsToWatch() {
  return {"/usr/Tarnu", "/var/spool/Tarnu", "/tmp/setup.log", "/tmp/TarnuInstall",
          "/usr/bin/tprint", "/usr/bin/tpqadmin", "/opt/Tarnu"};
}

// Fixture: skips without a usable sandbox and checks that the machine is
// untouched afterwards.
class SetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!SandboxUsable(&why)) GTEST_SKIP() << why;
    for (const auto &p : HostPathsToWatch()) present_.push_back(fs::exists(fs::symlink_status(p)));
  }
  void TearDown() override {
    auto paths = HostPathsToWatch();
    for (size_t i = 0; i < present_.size(); ++i) {
      if (!present_[i]) {
        EXPECT_FALSE(fs::exists(fs::symlink_status(paths[i])))
            << paths[i] << " appeared on the machine itself";
      }
    }
  }

 private:
  std::vector<bool> present_;
};

// Fixture for runs over the sample distribution, or over one whose package
// list a test replaces.
class DistTest : public SetupTest {
 protected:
  static Dist &sample() {
    static Dist d;
    return d;
  }
  Outcome run(const Invocation &r, const Dist &d = sample()) {
    EXPECT_TRUE(d.ok());
    Outcome o = RunSetup(d.path(), r);
    EXPECT_EQ(o.sandboxStatus, 0) << o.sandboxErr;
    return o;
  }
  // A distribution of the sample package whose list is replaced by list.
  std::unique_ptr<Dist> distWithList(const std::string &list) {
    tree_ = std::make_unique<Tree>();
    WriteFile(tree_->pkg("pkg.list"), list);
    return std::make_unique<Dist>(std::vector<std::string>{}, tree_->path());
  }

 private:
  std::unique_ptr<Tree> tree_;
};

}  // namespace e2e
