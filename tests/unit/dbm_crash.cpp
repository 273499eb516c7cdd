// Crash safety of the update protocol: two writer processes, one through
// the record layer and one through the typed layer, each on its own
// database, run random puts, deletes and prefix deletes at once and are
// killed with SIGKILL at a random moment. After every kill each current file
// must be complete and readable and hold every confirmed change; only the
// change in flight may be there or not. The number of kills is 100, or
// TARNU_CRASH_KILLS; the counts are printed as one "crash:" line.
#include "dbm_fixture.h"
#include "valgrind_slack.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <random>

namespace {

using CrashTest = DbmTest;
using State = std::map<std::string, std::string>;

enum Op : int { Put, Delete, DeletePrefix };

// One change as the writer reports it: begun (done 0) and confirmed (1).
struct Change {
  int done;
  int op;
  int group, item, serial;
};

std::string keyOf(int group, int item) {
  char k[16];
  snprintf(k, sizeof k, "g%d-%02d", group, item);
  return k;
}
std::string prefixOf(int group) { return "g" + std::to_string(group) + "-"; }
std::string valueOf(int serial) { return "value-" + std::to_string(serial) + std::string(20 + serial % 60, 'v'); }

void applyChange(State &s, const Change &c) {
  switch (c.op) {
    case Put: s[keyOf(c.group, c.item)] = valueOf(c.serial); break;
    case Delete: s.erase(keyOf(c.group, c.item)); break;
    default:
      for (auto it = s.lower_bound(prefixOf(c.group)); it != s.end() && it->first.rfind(prefixOf(c.group), 0) == 0;)
        it = s.erase(it);
  }
}

// Runs random changes forever, reporting each before and after it is made.
[[noreturn]] void writer(int fd, unsigned seed, int serial, bool typed, const char *name) {
  std::mt19937 rng(seed);
  DbTHandle *h = typed ? DbTOpen(name, 0) : nullptr;
  for (;; ++serial) {
    const int roll = static_cast<int>(rng() % 20);
    Change c{0, roll < 13 ? Put : roll < 19 ? Delete : DeletePrefix, static_cast<int>(rng() % 6),
             static_cast<int>(rng() % 12), serial};
    if (write(fd, &c, sizeof c) != static_cast<ssize_t>(sizeof c)) _exit(4);
    const std::string k = keyOf(c.group, c.item), v = valueOf(serial), p = prefixOf(c.group);
    int ok = 1;
    if (c.op == Put)
      ok = typed ? DbmTPutRecord(h, k.c_str(), v.data(), static_cast<int>(v.size()))
                 : DbmPutRecord(name, k.c_str(), v.data(), static_cast<int>(v.size()));
    else if (c.op == Delete)
      typed ? DbmTDeleteRecord(h, k.c_str()) : DbmDeleteRecord(name, k.c_str());
    else
      typed ? DbmTDeleteRecords(h, p.c_str()) : DbmDeleteRecords(name, p.c_str());
    if (!ok) _exit(3);
    c.done = 1;
    if (write(fd, &c, sizeof c) != static_cast<ssize_t>(sizeof c)) _exit(4);
  }
}

// The plain file read whole, or nothing when it is not a complete sequence
// of records (each key once).
std::optional<State> readPlain(const std::string &path) {
  const std::string f = DbmTest::readFile(path);
  State s;
  for (size_t pos = 0; pos < f.size();) {
    uint16_t l, k;
    if (pos + 4 > f.size()) return std::nullopt;
    memcpy(&l, f.data() + pos, 2);
    if (l < 2 || pos + 2 + l > f.size()) return std::nullopt;
    std::string payload = f.substr(pos + 2, l);
    DbmDecodeChain(payload.data(), l);
    memcpy(&k, payload.data(), 2);
    if (k == 0 || k + 2u > l || payload[1u + k] != '\0') return std::nullopt;
    std::string key = payload.substr(2, k - 1u);
    if (!s.emplace(key, payload.substr(2u + k)).second) return std::nullopt;
    pos += 2 + l;
  }
  return s;
}

// The typed file through the typed layer: the image must cover the whole
// file, and every listed record must read back.
std::optional<State> readTyped(const char *name, const std::string &path) {
  DbTHandle *h = DbTOpen(name, 0);
  State s;
  bool whole = true;
  if (h->pImage) {
    int n = 0;
    DbTWalk e;
    for (int step = 0; WalkDbTRecords(h, &e, step); ++step) ++n;
    whole = h->length == static_cast<long>(DbmTest::readFile(path).size()) && h->count == n;
    char *list = DbmTGetRecordList(h, ",", "");
    std::string keys = list ? list : "";
    PutMem(list);
    for (size_t at = 0; whole && at < keys.size();) {
      size_t end = keys.find(',', at);
      if (end == std::string::npos) end = keys.size();
      const std::string key = keys.substr(at, end - at);
      at = end + 1;
      if (key.empty()) continue;
      std::string v(static_cast<size_t>(std::max(DbmTGetRecordSize(h, key.c_str()), 0)), '\0');
      if (v.empty() || DbmTGetRecord(h, key.c_str(), v.data()) != static_cast<int>(v.size())) whole = false;
      s[key] = v;
    }
    if (whole && static_cast<int>(s.size()) != n) whole = false;
  }
  DbTClose(h);
  if (!whole) return std::nullopt;
  return s;
}

// The changes one writer reported: the confirmed ones are applied to the
// model; the one begun but not confirmed is returned.
std::optional<Change> takeReports(int fd, State &model, int &serial) {
  std::optional<Change> open;
  Change c;
  while (read(fd, &c, sizeof c) == static_cast<ssize_t>(sizeof c)) {
    serial = c.serial + 1;
    if (c.done) {
      applyChange(model, c);
      open.reset();
    } else {
      open = c;
    }
  }
  return open;
}

// Keys whose confirmed state the file does not hold, unless the change in
// flight explains the whole difference.
int lostChanges(const State &file, const State &model, const std::optional<Change> &inFlight) {
  if (file == model) return 0;
  if (inFlight) {
    State after = model;
    applyChange(after, *inFlight);
    if (file == after) return 0;
  }
  int lost = 0;
  for (const auto &[k, v] : model) lost += !file.count(k) || file.at(k) != v;
  for (const auto &[k, v] : file) lost += !model.count(k);
  return lost;
}

TEST_F(CrashTest, KilledWritersNeverLeaveAPartialFileNorLoseAConfirmedChange) {
  const char *env = getenv("TARNU_CRASH_KILLS");
  const int kills = env != nullptr && atoi(env) > 0 ? atoi(env) : 100;
  unsigned seed = static_cast<unsigned>(time(nullptr));
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  // Under valgrind a writer needs longer before its first change.
  std::uniform_int_distribution<int> delayUs(500, ValgrindSlack(60000));
  struct Writer {
    bool typed;
    const char *name;
    State model;
    int serial;
    int changes;
  } writers[] = {{false, "plain", {}, 0, 0}, {true, "typed", {}, 0, 0}};
  int damaged = 0, lost = 0;
  for (int kill = 0; kill < kills && !HasFatalFailure(); ++kill) {
    SCOPED_TRACE("kill " + std::to_string(kill));
    int fds[2][2];
    pid_t pids[2];
    for (int w = 0; w < 2; ++w) {
      ASSERT_EQ(pipe(fds[w]), 0);
      pids[w] = fork();
      ASSERT_GE(pids[w], 0);
      if (pids[w] == 0) {
        close(fds[w][0]);
        writer(fds[w][1], seed + 2 * kill + w, writers[w].serial, writers[w].typed, writers[w].name);
      }
      close(fds[w][1]);
    }
    struct timespec pause = {0, delayUs(rng) * 1000L};
    nanosleep(&pause, nullptr);
    for (pid_t pid : pids) ::kill(pid, SIGKILL);
    for (int w = 0; w < 2; ++w) {
      Writer &wr = writers[w];
      int status = 0;
      ASSERT_EQ(waitpid(pids[w], &status, 0), pids[w]);
      ASSERT_TRUE(WIFSIGNALED(status)) << wr.name << " writer ended by itself: " << status;
      const int before = wr.serial;
      const std::optional<Change> inFlight = takeReports(fds[w][0], wr.model, wr.serial);
      close(fds[w][0]);
      wr.changes += wr.serial - before;
      const std::optional<State> file =
          wr.typed ? readTyped(wr.name, dbPath(wr.name)) : readPlain(dbPath(wr.name));
      if (!file) {
        ++damaged;
        ADD_FAILURE() << "the " << wr.name << " file is not complete";
        continue;
      }
      const int missing = lostChanges(*file, wr.model, inFlight);
      EXPECT_EQ(missing, 0) << wr.name;
      lost += missing;
      wr.model = *file;   // the change in flight, when made, is now confirmed
    }
  }
  printf("crash: %d kills, %d damaged files, %d lost confirmed changes (%d and %d changes made)\n", kills,
         damaged, lost, writers[0].changes, writers[1].changes);
  EXPECT_GT(writers[0].changes, 0);
  EXPECT_GT(writers[1].changes, 0);
}

}  // namespace
