// Saved strings against strdup: a short text saved and an older copy
// released, with a thousand copies alive, as the library keeps its texts.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "MemMgr.h"
#include "utils.h"

namespace {

struct Saved {
  static char *save(const char *s) { return SaveStr_(s); }
  static void put(char *s) { PutMem(s); }
};

struct Strdup {
  static char *save(const char *s) { return strdup(s); }
  static void put(char *s) { free(s); }
};

template <class S>
void ShortText(benchmark::State &state) {
  std::vector<std::vector<char>> texts;
  for (int i = 0; i < 64; i++) {
    char buf[64];
    snprintf(buf, sizeof buf, "/usr/Tarnu/tpxx/bin/q%d", i * 37);
    texts.emplace_back(buf, buf + strlen(buf) + 1);
  }
  std::vector<char *> ring(1000, nullptr);
  size_t i = 0;
  for (auto _ : state) {
    char *s = S::save(texts[i % texts.size()].data());
    char *&slot = ring[i++ % ring.size()];
    if (slot) S::put(slot);
    slot = s;
  }
  for (char *s : ring)
    if (s) S::put(s);
}

BENCHMARK_TEMPLATE(ShortText, Saved);
BENCHMARK_TEMPLATE(ShortText, Strdup);

}  // namespace
