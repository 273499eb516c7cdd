// tphelp against "w3m -dump" on the same generated 1 MB help file
// (headings, anchors, paragraphs, links, ordered lists, bordered tables),
// whole process against whole process, output to /dev/null. The ratio
// counter of Ratio is tphelp's time over w3m's; without w3m those two
// benchmarks are skipped with a note.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

extern char **environ;

namespace {

constexpr size_t kHelpSize = 1 << 20;

// The generated help file, written once into a temporary directory.
const std::string &helpFile() {
  static const std::string path = [] {
    std::string dir = (std::filesystem::temp_directory_path() / "tphelp-bench").string();
    std::filesystem::create_directories(dir);
    std::string file = dir + "/big.htm";
    std::string text = "<html><head><title>Printer queue manual</title></head><body>\n";
    for (int i = 0; text.size() < kHelpSize; i++) {
      std::string n = std::to_string(i);
      std::string next = std::to_string(i + 1);
      text += "<h2><a name=\"s" + n + "\">Section " + n + "</a></h2>\n";
      text += "<p>The queue of section " + n + " keeps its jobs in the spool directory until the printer "
              "takes them; see <a href=\"#s" + next + "\">section " + next + "</a> for the next step.</p>\n";
      text += "<ol><li>Check the device.</li><li>Check the port.</li><li>Check the margin.</li></ol>\n";
      text += "<table border cellpadding=7><tr><td>Paper</td><td>Tray</td></tr><tr><td>A4</td><td>1</td></tr>"
              "<tr><td>Letter</td><td>2</td></tr></table>\n";
      text += "<p>Jobs that fail are kept for the administrator.<br>The log names each of them.</p>\n";
    }
    text += "</body></html>\n";
    std::ofstream(file, std::ios::binary) << text;
    return file;
  }();
  return path;
}

// Runs argv with standard output and error on /dev/null; false when it
// cannot be started or does not end with status 0.
bool runQuietly(const char *const argv[]) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  int rc = posix_spawn(&pid, argv[0], &actions, nullptr, const_cast<char *const *>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  return rc == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool runTphelp() {
  const char *argv[] = {TARNU_TPHELP_BIN, helpFile().c_str(), nullptr};
  return runQuietly(argv);
}

bool runW3m() {
  const char *argv[] = {"/usr/bin/w3m", "-dump", "-T", "text/html", helpFile().c_str(), nullptr};
  return runQuietly(argv);
}

void Tphelp(benchmark::State &state) {
  for (auto _ : state)
    if (!runTphelp()) state.SkipWithError("tphelp failed");
}

// False, with the note, when w3m is not there to compare with.
bool needW3m(benchmark::State &state) {
  if (access("/usr/bin/w3m", X_OK) == 0) return true;
  state.SkipWithError("w3m is not installed (apt-get install w3m)");
  return false;
}

void W3mDump(benchmark::State &state) {
  if (!needW3m(state)) return;
  for (auto _ : state)
    if (!runW3m()) state.SkipWithError("w3m failed");
}

// Both programs in every iteration; the counter is tphelp's share of w3m's time.
void Ratio(benchmark::State &state) {
  if (!needW3m(state)) return;
  using Clock = std::chrono::steady_clock;
  Clock::duration ours{}, theirs{};
  for (auto _ : state) {
    auto t0 = Clock::now();
    bool ok = runTphelp();
    auto t1 = Clock::now();
    ok = runW3m() && ok;
    auto t2 = Clock::now();
    if (!ok) state.SkipWithError("a program failed");
    ours += t1 - t0;
    theirs += t2 - t1;
  }
  state.counters["tphelp/w3m"] = std::chrono::duration<double>(ours).count() /
                                 std::chrono::duration<double>(theirs).count();
}

}  // namespace

BENCHMARK(Tphelp)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(W3mDump)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Ratio)->Unit(benchmark::kMillisecond)->UseRealTime();
