// The record database against its obvious alternatives, at 1K, 10K and 100K
// records: typed lookups and catalogue fetches against std::unordered_map
// (with and without the one stat a fresh answer needs), the plain record
// lookup (its widest pass and its portable one) against one read of the whole
// file, and the import of a text (tdbtool import) against parsing the text,
// writing the file and fsyncing it.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "Dbm.h"
#include "MemMgr.h"
#include "NlsUtils.h"

namespace {

// A catalogue of n messages "set_number" in the tool directory dir: the
// typed (headered) database "cat", the same records in the legacy file
// "plain", the text form "cat.txt" for import, and the map to compare with.
struct Catalogue {
  std::string dir;
  std::vector<std::pair<int, int>> numbers;   // lookup order: shuffled
  std::vector<std::string> keys;              // the same, as key texts
  std::unordered_map<std::string, std::string> map;
  std::string typedPath, plainPath, textPath;
};

std::string valueOf(int set, int number) {
  return "Message " + std::to_string(number) + " of set " + std::to_string(set) + ": the printer is ready";
}

void writeDatabase(const Catalogue &c, const char *name, int type) {
  DbTHandle *h = DbTOpen(name, DBT_NO_WRITE);
  DbTSetDbType(h, type);
  for (const auto &[key, value] : c.map) DbmTPutRecord(h, key.c_str(), value.data(), static_cast<int>(value.size()));
  DbmTArchiveDb(h);
  DbTClose(h);
}

const Catalogue &catalogue(int n) {
  static std::map<int, Catalogue> made;
  static struct Cleanup {
    ~Cleanup() {
      std::error_code ec;
      for (auto &[size, c] : made) std::filesystem::remove_all(c.dir, ec);
    }
  } cleanup;
  auto it = made.find(n);
  if (it != made.end()) return it->second;
  Catalogue &c = made[n];
  char tmpl[] = "/tmp/tarnu-dbm-bench-XXXXXX";
  c.dir = mkdtemp(tmpl);
  pToolPath = c.dir.data();
  // Writers make "./db" when the working directory has none: make it here.
  if (chdir(c.dir.c_str()) != 0) abort();
  std::ofstream text(c.dir + "/cat.txt");
  for (int i = 0; i < n; ++i) {
    int set = 1 + i / 1000, number = 1 + i % 1000;
    std::string key = std::to_string(set) + "_" + std::to_string(number);
    c.numbers.emplace_back(set, number);
    c.map[key] = valueOf(set, number);
    text << key << '\t' << c.map[key] << '\n';
  }
  std::shuffle(c.numbers.begin(), c.numbers.end(), std::mt19937(7));
  for (auto [set, number] : c.numbers) c.keys.push_back(std::to_string(set) + "_" + std::to_string(number));
  writeDatabase(c, "cat", DBT_TYPE_HEADERED);
  writeDatabase(c, "plain", DBT_TYPE_LEGACY);
  c.typedPath = c.dir + "/db/cat.tdb";
  c.plainPath = c.dir + "/db/plain.tdb";
  c.textPath = c.dir + "/cat.txt";
  return c;
}

// Typed lookups, refreshed before each as every caller's are, or never.
template <int Flags>
void TypedGet(benchmark::State &state) {
  const Catalogue &c = catalogue(static_cast<int>(state.range(0)));
  pToolPath = const_cast<char *>(c.dir.c_str());
  DbTHandle *h = DbTOpen("cat", Flags);
  char value[256];
  DbmTGetRecord(h, c.keys[0].c_str(), value);  // the index, built at the first lookup
  size_t i = 0;
  for (auto _ : state) {
    int n = DbmTGetRecord(h, c.keys[i++ % c.keys.size()].c_str(), value);
    if (n == 0) state.SkipWithError("key not found");
    benchmark::DoNotOptimize(value);
  }
  DbTClose(h);
}

// The map, and the map with the stat of the file a fresh answer needs.
template <bool WithStat>
void MapGet(benchmark::State &state) {
  const Catalogue &c = catalogue(static_cast<int>(state.range(0)));
  char value[256];
  size_t i = 0;
  struct stat st;
  for (auto _ : state) {
    if (WithStat) benchmark::DoNotOptimize(stat(c.typedPath.c_str(), &st));
    auto it = c.map.find(c.keys[i++ % c.keys.size()]);
    memcpy(value, it->second.data(), it->second.size());
    benchmark::DoNotOptimize(value);
  }
}

void NlsFetch(benchmark::State &state) {
  const Catalogue &c = catalogue(static_cast<int>(state.range(0)));
  pToolPath = const_cast<char *>(c.dir.c_str());
  DbTHandle *h = DbTOpen("cat", 0);
  char out[NLS_STRBUF_SIZE];
  NlsFetchString(h, out, NLS_BY_NUMBER, 1, 1);  // the index, built at the first lookup
  size_t i = 0;
  for (auto _ : state) {
    auto [set, number] = c.numbers[i++ % c.numbers.size()];
    benchmark::DoNotOptimize(NlsFetchString(h, out, NLS_BY_NUMBER, set, number));
  }
  DbTClose(h);
}

// snprintf of the key, the map, the copy into the caller's buffer and the
// stat of the file.
void NlsMap(benchmark::State &state) {
  const Catalogue &c = catalogue(static_cast<int>(state.range(0)));
  char out[NLS_STRBUF_SIZE], key[32];
  size_t i = 0;
  struct stat st;
  for (auto _ : state) {
    auto [set, number] = c.numbers[i++ % c.numbers.size()];
    benchmark::DoNotOptimize(stat(c.typedPath.c_str(), &st));
    snprintf(key, sizeof key, "%d_%d", set, number);
    auto it = c.map.find(key);
    memcpy(out, it->second.c_str(), it->second.size() + 1);
    benchmark::DoNotOptimize(out);
  }
}

void PlainGet(benchmark::State &state) {
  const Catalogue &c = catalogue(static_cast<int>(state.range(0)));
  pToolPath = const_cast<char *>(c.dir.c_str());
  char value[256];
  size_t i = 0;
  for (auto _ : state)
    if (DbmGetRecord("plain", c.keys[i++ % c.keys.size()].c_str(), value) == 0) state.SkipWithError("not found");
}

// The same through the portable pass, as on processors without wide lanes.
void PlainGetPortable(benchmark::State &state) {
  DbmScanPass = DBM_SCAN_PORTABLE;
  PlainGet(state);
  DbmScanPass = -1;
}

// Open, one read of the whole file into a fresh buffer, close.
void ReadFile(benchmark::State &state) {
  const Catalogue &c = catalogue(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    int fd = open(c.plainPath.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    fstat(fd, &st);
    char *buf = static_cast<char *>(malloc(static_cast<size_t>(st.st_size) + 1));
    benchmark::DoNotOptimize(read(fd, buf, static_cast<size_t>(st.st_size)));
    close(fd);
    free(buf);
  }
}

// What tdbtool import does: every line put into an image kept in memory,
// the file written once at the end (new file, fsync, move, directory fsync).
void Import(benchmark::State &state) {
  const Catalogue &c = catalogue(static_cast<int>(state.range(0)));
  pToolPath = const_cast<char *>(c.dir.c_str());
  std::string target = c.dir + "/db/imported.tdb";
  for (auto _ : state) {
    unlink(target.c_str());
    DbTHandle *h = DbTOpen("imported", DBT_NO_REFRESH | DBT_NO_WRITE);
    std::ifstream in(c.textPath);
    std::string line;
    while (std::getline(in, line)) {
      size_t tab = line.find('\t');
      line[tab] = '\0';
      DbmTPutRecord(h, line.c_str(), line.data() + tab + 1, static_cast<int>(line.size() - tab - 1));
    }
    if (!DbmTArchiveDb(h)) state.SkipWithError("import failed");
    DbTClose(h);
  }
}

// Reads the text, splits every line at its tab, writes the records out in
// one write and fsyncs the file.
void ParseWriteFsync(benchmark::State &state) {
  const Catalogue &c = catalogue(static_cast<int>(state.range(0)));
  std::string target = c.dir + "/written.tdb";
  for (auto _ : state) {
    std::ifstream in(c.textPath);
    std::string line, out;
    while (std::getline(in, line)) {
      size_t tab = line.find('\t');
      auto len = static_cast<uint16_t>(line.size() + 3);
      out.append(reinterpret_cast<const char *>(&len), 2);
      out.append(line, 0, tab).push_back('\0');
      out.append(line, tab + 1);
    }
    int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    benchmark::DoNotOptimize(write(fd, out.data(), out.size()));
    fsync(fd);
    close(fd);
  }
}

void sizes(benchmark::internal::Benchmark *b) { b->Arg(1000)->Arg(10000)->Arg(100000); }

BENCHMARK_TEMPLATE(TypedGet, 0)->Apply(sizes);
BENCHMARK_TEMPLATE(TypedGet, DBT_NO_REFRESH)->Apply(sizes);
BENCHMARK_TEMPLATE(MapGet, false)->Apply(sizes);
BENCHMARK_TEMPLATE(MapGet, true)->Apply(sizes);
BENCHMARK(NlsFetch)->Apply(sizes);
BENCHMARK(NlsMap)->Apply(sizes);
BENCHMARK(PlainGet)->Apply(sizes);
BENCHMARK(PlainGetPortable)->Apply(sizes);
BENCHMARK(ReadFile)->Apply(sizes);
BENCHMARK(Import)->Apply(sizes)->Unit(benchmark::kMillisecond);
BENCHMARK(ParseWriteFsync)->Apply(sizes)->Unit(benchmark::kMillisecond);

}  // namespace
