// SPDX-License-Identifier: MIT
// proc_str_to_list beside std::from_chars over the same text.
#include <benchmark/benchmark.h>

#include <charconv>
#include <string>
#include <vector>

#include "corvane-kill.h"

namespace {

std::string id_list(std::size_t ids) {
  std::string list;
  for (std::size_t i = 0; i < ids; ++i) {
    if (!list.empty()) {
      list += ';';
    }
    list += std::to_string(1000 + (i * 7919) % 4000000);
  }
  return list;
}

std::vector<int> from_chars_all(const std::string& list) {
  std::vector<int> ids;
  const char* at = list.data();
  const char* const end = list.data() + list.size();
  while (at < end) {
    int value = -1;
    at = std::from_chars(at, end, value).ptr;
    ids.push_back(value);
    at += static_cast<int>(at < end);  // the ";"
  }
  return ids;
}

void parse(benchmark::State& state) {
  const std::string list = id_list(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(proc_str_to_list(list));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void baseline(benchmark::State& state) {
  const std::string list = id_list(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(from_chars_all(list));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void sizes(benchmark::internal::Benchmark* bench) {
  bench->RangeMultiplier(100)->Range(10, 1000000)->Unit(benchmark::kMicrosecond);
}

}  // namespace

BENCHMARK(parse)->Name("proc_str_to_list")->Apply(sizes);
BENCHMARK(baseline)->Name("proc_str_to_list_baseline")->Apply(sizes);
