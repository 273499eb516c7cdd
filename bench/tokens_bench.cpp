// The tokenizer against strtok_r over a 10 MB directory listing split at
// blanks and newlines; strtok_r needs a writable copy, made before the clock
// starts each time.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "utils.h"

namespace {

constexpr size_t kListing = 10 << 20;

const std::string &listing() {
  static const std::string text = [] {
    std::string t;
    char line[128];
    for (unsigned i = 0; t.size() < kListing; i++) {
      snprintf(line, sizeof line, "-rw-r--r--  1 root  sys  %8u Jan %2u 12:%02u pkg_tar.%03u\n",
               i * 7919 % 100000000, i % 28 + 1, i % 60, i % 1000);
      t += line;
    }
    return t;
  }();
  return text;
}

void GetTokenScan(benchmark::State &state) {
  const std::string &text = listing();
  for (auto _ : state) {
    size_t n = 0;
    for (char *t = GetToken(text.c_str(), " \n"); t; t = GetToken(nullptr, " \n")) n++;
    benchmark::DoNotOptimize(n);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

void StrtokScan(benchmark::State &state) {
  const std::string &text = listing();
  std::string copy;
  for (auto _ : state) {
    state.PauseTiming();
    copy = text;
    state.ResumeTiming();
    size_t n = 0;
    char *save = nullptr;
    for (char *t = strtok_r(copy.data(), " \n", &save); t; t = strtok_r(nullptr, " \n", &save)) n++;
    benchmark::DoNotOptimize(n);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

BENCHMARK(GetTokenScan)->Unit(benchmark::kMillisecond);
BENCHMARK(StrtokScan)->Unit(benchmark::kMillisecond);

}  // namespace
