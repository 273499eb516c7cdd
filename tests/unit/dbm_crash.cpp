// Crash safety of the update protocol: a writer process is killed with
// SIGKILL at random moments during a loop of puts; after every kill the
// current file must be complete and readable and hold every confirmed
// record, losing at most the one in flight.
#include "dbm_fixture.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>

#include <random>
#include <vector>

namespace {

using CrashTest = DbmTest;

std::string keyOf(int i) {
  char k[16];
  snprintf(k, sizeof k, "key%06d", i);
  return k;
}

std::string valueOf(int i) { return "value-" + std::to_string(i) + std::string(40 + i % 50, 'v'); }

// Runs puts of key start, start+1, ... forever, writing each confirmed
// number to fd; typed chooses the typed layer.
[[noreturn]] void writer(int fd, int start, bool typed, const char *name) {
  DbTHandle *h = typed ? DbTOpen(name, 0) : nullptr;
  for (int i = start;; ++i) {
    std::string k = keyOf(i), v = valueOf(i);
    int ok = typed ? DbmTPutRecord(h, k.c_str(), v.data(), static_cast<int>(v.size()))
                   : DbmPutRecord(name, k.c_str(), v.data(), static_cast<int>(v.size()));
    if (!ok) _exit(3);
    if (write(fd, &i, sizeof i) != static_cast<ssize_t>(sizeof i)) _exit(4);
  }
}

// The last number the writer confirmed, -1 for none.
int lastConfirmed(int fd) {
  int last = -1, i;
  while (read(fd, &i, sizeof i) == static_cast<ssize_t>(sizeof i)) last = i;
  return last;
}

// Reads the plain file whole: the number of records, or -1 when the file is
// not a complete sequence of the expected records.
int checkLegacy(const std::string &path) {
  std::string f = DbmTest::readFile(path);
  size_t pos = 0;
  int n = 0;
  while (pos < f.size()) {
    if (pos + 2 > f.size()) return -1;
    uint16_t l;
    memcpy(&l, f.data() + pos, 2);
    if (pos + 2 + l > f.size()) return -1;
    std::string payload = f.substr(pos + 2, l);
    DbmDecodeChain(payload.data(), l);
    std::string k = keyOf(n), v = valueOf(n);
    if (payload != std::string("\x0a\x00", 2) + k + std::string(1, '\0') + v) return -1;
    pos += 2 + l;
    ++n;
  }
  return n;
}

int checkTyped(const char *name) {
  DbTHandle *h = DbTOpen(name, 0);
  int n = 0;
  bool whole = true;
  if (h->pImage) {
    std::string path = std::string(pToolPath) + "/db/" + name + ".tdb";
    long fileSize = static_cast<long>(DbmTest::readFile(path).size());
    DbTWalk e;
    for (int step = 0; WalkDbTRecords(h, &e, step); ++step, ++n) {
      std::string k = keyOf(n), v = valueOf(n);
      if (e.keyLen != k.size() + 1 || e.recLen != e.keyLen + v.size() + 2) whole = false;
    }
    if (h->length != fileSize || h->count != n) whole = false;
    for (int i = 0; i < n && whole; ++i) {
      std::string v(valueOf(i).size(), '\0');
      if (DbmTGetRecord(h, keyOf(i).c_str(), v.data()) != static_cast<int>(v.size()) || v != valueOf(i))
        whole = false;
    }
  }
  DbTClose(h);
  return whole ? n : -1;
}

TEST_F(CrashTest, KilledWritersNeverLeaveAPartialFile) {
  unsigned seed = static_cast<unsigned>(time(nullptr));
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> delayUs(1000, 120000);
  struct Layer {
    bool typed;
    const char *name;
    int records;
  } layers[] = {{false, "plain", 0}, {true, "typed", 0}};
  for (int trial = 0; trial < 30; ++trial) {
    Layer &layer = layers[trial % 2];
    SCOPED_TRACE("trial " + std::to_string(trial) + (layer.typed ? " typed" : " plain"));
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(fds[0]);
      writer(fds[1], layer.records, layer.typed, layer.name);
    }
    close(fds[1]);
    struct timespec pause = {0, delayUs(rng) * 1000L};
    nanosleep(&pause, nullptr);
    kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "writer ended by itself: " << status;
    int confirmed = lastConfirmed(fds[0]);
    close(fds[0]);

    int n = layer.typed ? checkTyped(layer.name) : checkLegacy(dbPath(layer.name));
    ASSERT_GE(n, 0) << "the current file is not complete";
    // Every confirmed put is there; at most the one in flight is more.
    int expectedMin = confirmed >= 0 ? confirmed + 1 : layer.records;
    EXPECT_GE(n, expectedMin);
    EXPECT_LE(n, expectedMin + 1);
    EXPECT_GE(n, layer.records);
    layer.records = n;
  }
  EXPECT_GT(layers[0].records + layers[1].records, 0);
  RecordProperty("plain_records", layers[0].records);
  RecordProperty("typed_records", layers[1].records);
}

}  // namespace
