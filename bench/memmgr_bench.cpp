// The memory block manager against glibc on the same patterns: small
// allocation pairs, batches, the saved-string pattern (an 8192-byte scratch
// block, the string's own block, scratch released), a mixed-size fragmenting
// workload, and a million mixed operations at 10K and 100K live allocations.
// GetMem hands out zero-filled memory, so its alternative is malloc and
// memset. Compare the ratios, not the absolute times (tools/bench.sh).
#include "MemMgr.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {

struct BlockManager {
  static void *get(size_t n) { return GetMem(n); }
  static void put(void *p) { PutMem(p); }
};

struct Libc {
  static void *get(size_t n) {
    void *p = malloc(n);
    if (p) memset(p, 0, n);
    return p;
  }
  static void put(void *p) { free(p); }
};

// Keeps one allocation alive so the manager's first block stays mapped, as
// it does in a running program.
template <class A>
struct Resident {
  void *p = A::get(100);
  ~Resident() { A::put(p); }
};

// The first byte of an allocation written, as its owner would.
void *use(void *p) {
  *static_cast<volatile char *>(p) = 1;
  return p;
}

constexpr size_t kSizes[] = {8, 24, 40, 100, 17, 60, 200, 12};

template <class A>
void SmallPairs(benchmark::State &state) {
  Resident<A> resident;
  size_t i = 0;
  for (auto _ : state) {
    void *p = A::get(kSizes[i++ % 8]);
    benchmark::DoNotOptimize(p);
    A::put(p);
  }
}

// A thousand small allocations, then all released in allocation order.
template <class A>
void SmallBatch(benchmark::State &state) {
  Resident<A> resident;
  std::vector<void *> live(1000);
  for (auto _ : state) {
    for (size_t i = 0; i < live.size(); i++) live[i] = A::get(kSizes[i % 8]);
    benchmark::DoNotOptimize(live.data());
    for (void *p : live) A::put(p);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(live.size()));
}

// The saved-string pattern, with 500 strings alive at any time.
template <class A>
void SavedStrings(benchmark::State &state) {
  Resident<A> resident;
  std::vector<char *> ring(500, nullptr);
  size_t i = 0;
  for (auto _ : state) {
    auto *scratch = static_cast<char *>(A::get(8192));
    int len = snprintf(scratch, 8192, "%s/%s/%zu", "/usr/Tarnu/tpxx", "bin/tpqadmin", i);
    auto *s = static_cast<char *>(A::get(static_cast<size_t>(len) + 1));
    memcpy(s, scratch, static_cast<size_t>(len) + 1);
    A::put(scratch);
    char *&slot = ring[i++ % ring.size()];
    A::put(slot);
    slot = s;
  }
  for (char *s : ring) A::put(s);
}

// 2000 live allocations of mixed sizes (a few dedicated), one replaced at
// random per iteration.
template <class A>
void MixedSizes(benchmark::State &state) {
  std::mt19937 rng(7);
  auto size = [&]() -> size_t {
    unsigned r = rng() % 1000;
    if (r == 0) return 70000 + rng() % 50000;
    if (r < 50) return 1000 + rng() % 8000;
    return 1 + rng() % 300;
  };
  std::vector<void *> live(2000);
  for (void *&p : live) p = A::get(size());
  for (auto _ : state) {
    void *&p = live[rng() % live.size()];
    A::put(p);
    p = A::get(size());
    benchmark::DoNotOptimize(p);
  }
  for (void *p : live) A::put(p);
}

// One million operations, each an allocation of 1-200 bytes or the release
// of a random live one, at most state.range(0) alive; the run starts from
// that many and the operations are drawn before the clock starts. Every
// allocation is written to, as the program that asked for it would: so both
// allocators take the first touch of their pages while the live set is made,
// outside the clock, and not (the block manager) on the first reuse of a node.
template <class A>
void Mixed1M(benchmark::State &state) {
  const auto cap = static_cast<size_t>(state.range(0));
  constexpr size_t kOps = 1000000;
  struct Op {
    uint32_t size;    // 0: a release
    uint32_t victim;  // which live allocation a release takes
  };
  std::mt19937 rng(11);
  std::vector<Op> ops(kOps);
  for (Op &op : ops) {
    uint32_t size = rng() % 2 ? static_cast<uint32_t>(1 + rng() % 200) : 0;
    op = Op{size, static_cast<uint32_t>(rng())};
  }
  std::vector<void *> live;
  live.reserve(cap);
  for (auto _ : state) {
    state.PauseTiming();
    while (live.size() < cap) live.push_back(use(A::get(1 + rng() % 200)));
    state.ResumeTiming();
    for (const Op &op : ops) {
      if (op.size && live.size() < cap) {
        live.push_back(use(A::get(op.size)));
      } else if (!live.empty()) {
        void *&p = live[op.victim % live.size()];
        A::put(p);
        p = live.back();
        live.pop_back();
      }
    }
    benchmark::DoNotOptimize(live.data());
    state.PauseTiming();
    for (void *p : live) A::put(p);
    live.clear();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kOps));
}

BENCHMARK_TEMPLATE(SmallPairs, BlockManager);
BENCHMARK_TEMPLATE(SmallPairs, Libc);
BENCHMARK_TEMPLATE(SmallBatch, BlockManager);
BENCHMARK_TEMPLATE(SmallBatch, Libc);
BENCHMARK_TEMPLATE(SavedStrings, BlockManager);
BENCHMARK_TEMPLATE(SavedStrings, Libc);
BENCHMARK_TEMPLATE(MixedSizes, BlockManager);
BENCHMARK_TEMPLATE(MixedSizes, Libc);
BENCHMARK_TEMPLATE(Mixed1M, BlockManager)->Arg(10000)->Arg(100000)->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(Mixed1M, Libc)->Arg(10000)->Arg(100000)->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace
