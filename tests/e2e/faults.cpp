// Installer runs that meet faults: nobody left to answer a question, a
// package list with NUL bytes, lines too long and no final line end, and
// runs killed at random moments, each followed by a run that must complete
// the installation exactly as an uninterrupted one does.
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "e2e.h"

namespace {

using e2e::Invocation;
using e2e::Outcome;

class Faults : public e2e::DistTest {};

// Which of the package list's marks exist, one a line.
std::string ListMarks(std::initializer_list<const char *> names) {
  std::string sh;
  for (const char *n : names)
    sh += std::string("[ -e /usr/Tarnu/tpxx/") + n + " ] && echo " + n + "\n";
  return sh;
}

// Standard input ends at each question after the licence: the run stops with
// status 1 and says why, before the package list goes on.
TEST_F(Faults, EndOfInputAtEveryQuestion) {
  auto dist = distWithList("t before\ncheckps tprint,tsf\nt after\n");
  const std::string first =
      "printf 'y\\n' | /dist/setup >/dev/null 2>&1 || echo first run failed\n"
      "rm /usr/Tarnu/tpxx/before /usr/Tarnu/tpxx/after\n";
  const std::string running =
      "cp /bin/sleep /tmp/tprint && (/tmp/tprint 300 </dev/null >/dev/null 2>&1 &)\n";
  const struct {
    const char *question;
    std::string before;
    const char *marks;  // what the package list made
  } cases[] = {
      {"old print daemon", first + "touch /usr/Tarnu/tpxx/TPrintD\n", ""},
      {"running programs at an upgrade", first + running, ""},
      {"running programs in the package list", running, "before\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.question);
    Invocation r;
    r.before = c.before;
    r.after = ListMarks({"before", "after"});
    r.timeLimit = 60;
    const Outcome o = run(r, *dist);
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(e2e::EndsWith(
        o.out, "\nERROR: end of input, no answer was given; the installation stops\n"))
        << o.out;
    EXPECT_TRUE(e2e::EndsWith(o.log, "ERROR: end of input at a question\n")) << o.log;
    EXPECT_EQ(o.report, c.marks);
  }
}

// A package list that no editor would write: the lines around each hostile
// one are carried out, and nothing of a hostile line runs as a line of its
// own.
TEST_F(Faults, HostilePackageList) {
  const struct {
    const char *what;
    std::string line;
  } cases[] = {
      {"comment longer than a line", "#" + std::string(5000, ' ') + "t injected\n"},
      {"entry longer than a line", "t " + std::string(5000, 'x') + "\n"},
      {"NUL byte inside a line", std::string("t nul\0 mode 4777\n", 17)},
  };
  std::string list = "t first\n";
  for (const auto &c : cases) list += c.line + "t after\n";
  auto dist = distWithList(list + "t last");  // no final line end
  Invocation r;
  r.after = ListMarks({"first", "injected", "nul", "last"}) +
            "grep -c '^/.*touch  */usr/Tarnu/tpxx/after' /tmp/setup.log\n";
  const Outcome o = run(r, *dist);
  EXPECT_EQ(o.status, 0) << o.out;
  EXPECT_EQ(o.report, "first\nlast\n" + std::to_string(std::size(cases)) + "\n");
}

// The installer killed at random moments over whole runs, each time followed
// by a run that must complete the installation; the result is compared with
// an uninterrupted installation, file for file and mode for mode (the
// administration tool's own log grows with every run and is left out).
// TARNU_E2E_KILLS sets the number of kills (default 50; tools/kills.sh runs
// more), TARNU_E2E_KILL_SEED repeats a sequence of moments.
TEST_F(Faults, KilledRunsAreCompletedByTheNextRun) {
  const char *count = std::getenv("TARNU_E2E_KILLS");
  const int kills = count != nullptr ? std::atoi(count) : 50;
  const char *seedText = std::getenv("TARNU_E2E_KILL_SEED");
  const unsigned seed = seedText != nullptr
                            ? static_cast<unsigned>(std::strtoul(seedText, nullptr, 10))
                            : std::random_device{}();
  SCOPED_TRACE("TARNU_E2E_KILL_SEED=" + std::to_string(seed));
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> perMille(0, 999);
  std::string moments;
  for (int i = 0; i < kills; ++i) moments += " " + std::to_string(perMille(random));

  const std::string script =
      "installed='/usr/Tarnu /var/spool/Tarnu /usr/bin/tprint /usr/bin/tpqadmin'\n"
      "installed=\"$installed /usr/share/doc/tarnu-doc\"\n"
      "describe() {\n"
      "  find $installed | LC_ALL=C sort | while read -r f; do\n"
      "    case $f in */log/tpqadmin.log) stat -c '%A %U:%G %N' \"$f\"; continue;; esac\n"
      "    stat -c '%A %U:%G %s %N' \"$f\"\n"
      "    if [ -f \"$f\" ] && [ ! -L \"$f\" ]; then md5sum <\"$f\"; fi; done\n"
      "}\n"
      "clean() { rm -rf $installed /tmp/TarnuInstall /tmp/setup.log /tmp/setup.tmp; }\n"
      "echo y >/var/tmp/yes\n"
      "t0=$(date +%s%N); /dist/setup </var/tmp/yes >/dev/null 2>&1; t1=$(date +%s%N)\n"
      "describe >/var/tmp/reference\n"
      "whole=$(( (t1 - t0) / 1000 ))\n"
      "during=0 failed=0\n"
      "for m in" + moments + "; do\n"
      "  clean\n"
      "  setsid /dist/setup </var/tmp/yes >/dev/null 2>&1 &\n"
      "  pid=$!\n"
      "  us=$(( whole * m / 1000 )); sleep $((us / 1000000)).$(printf %06d $((us % 1000000)))\n"
      "  if [ \"$(cut -d' ' -f3 /proc/$pid/stat)\" != Z ]; then during=$((during + 1)); fi\n"
      "  kill -KILL $pid; wait $pid\n"
      "  while kill -0 -- -$pid 2>/dev/null; do sleep 0.05; done\n"
      "  /dist/setup </var/tmp/yes >/var/tmp/out 2>&1; status=$?\n"
      "  describe >/var/tmp/result\n"
      "  if [ $status != 0 ] || ! cmp -s /var/tmp/reference /var/tmp/result; then\n"
      "    failed=$((failed + 1))\n"
      "    { echo \"status $status\"; tail -3 /var/tmp/out; tail -3 /tmp/setup.log;\n"
      "      diff /var/tmp/reference /var/tmp/result | head -8; } | sed \"s,^,killed at $m/1000: ,\"\n"
      "  fi\n"
      "done\n"
      "echo \"$during $failed\"\n";
  Invocation r;
  r.before = "cat >/var/tmp/kills.sh <<'EOF'\n" + script + "EOF\n";
  r.program = "/bin/sh";
  r.args = {"/var/tmp/kills.sh"};
  const Outcome o = run(r);
  EXPECT_EQ(o.status, 0) << o.err;
  // The last line counts the kills that met a running setup and the second
  // runs that failed; the lines before it tell what each failed one left.
  const size_t cut = o.out.size() > 1 ? o.out.rfind('\n', o.out.size() - 2) : std::string::npos;
  int during = 0;
  int failed = -1;
  std::sscanf(o.out.c_str() + (cut == std::string::npos ? 0 : cut + 1), "%d %d", &during, &failed);
  std::printf("kills: %d, during a run: %d, failed second runs: %d\n", kills, during, failed);
  EXPECT_EQ(failed, 0) << o.out;
  EXPECT_GE(during, kills * 3 / 4);
}

}  // namespace
