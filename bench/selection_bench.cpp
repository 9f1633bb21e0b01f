// SPDX-License-Identifier: MIT
// find_process and the whole check, each beside the practical limit: one
// walk over the same map comparing each command's folded prefix.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <string_view>

#include "corvane-kill.h"
#include "fake_host.h"
#include "heap_counter.h"
#include "snapshot.h"

namespace {

using clock_type = std::chrono::steady_clock;

const proc_map_t& snapshot_of(std::size_t entries) {
  static std::map<std::size_t, proc_map_t> snapshots;
  auto it = snapshots.find(entries);
  if (it == snapshots.end()) {
    it = snapshots.emplace(entries, bench::make_snapshot(entries)).first;
  }
  return it->second;
}

std::size_t folded_prefix_walk(const proc_map_t& snapshot, std::string_view folded_directory) {
  std::size_t matches = 0;
  for (const auto& entry : snapshot) {
    const std::string& command = entry.second;
    matches += static_cast<std::size_t>(
        command.size() >= folded_directory.size() &&
        std::equal(folded_directory.begin(), folded_directory.end(), command.begin(),
                   [](char folded, char c) {
                     return folded == std::tolower(static_cast<unsigned char>(c));
                   }));
  }
  return matches;
}

double seconds_between(clock_type::time_point start, clock_type::time_point end) {
  return std::chrono::duration<double>(end - start).count();
}

// Both walk a fresh copy of the snapshot, so both meet the same heap layout.
void walk_baseline(benchmark::State& state) {
  const proc_map_t& snapshot = snapshot_of(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    const proc_map_t copy = snapshot;
    const clock_type::time_point start = clock_type::now();
    benchmark::DoNotOptimize(folded_prefix_walk(copy, "/opt/corvane/"));
    state.SetIterationTime(seconds_between(start, clock_type::now()));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// Returns `value`, noting the time: the clock stops when find_process
// returns, before its by-value snapshot is released, which is the caller's.
proc_map_t stop_clock(clock_type::time_point& at, proc_map_t&& value) {
  at = clock_type::now();
  return std::move(value);
}

void find_process_bench(benchmark::State& state) {
  fake::host() = {};
  fake::host().recording = false;
  const proc_map_t& snapshot = snapshot_of(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    proc_map_t copy = snapshot;
    clock_type::time_point end;
    const clock_type::time_point start = clock_type::now();
    const proc_map_t selected =
        stop_clock(end, find_process(std::move(copy), bench::corvane_directory));
    state.SetIterationTime(seconds_between(start, end));
    benchmark::DoNotOptimize(selected.size());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// A host whose get_process_list() hands over `snapshot`, ready for a check.
void prepare_check(const proc_map_t& snapshot) {
  fake::host_state& host = fake::host() = {};
  host.hand_over_processes = true;
  host.recording = false;
  host.dirname = [](const std::string& root) { return root + "/"; };
  host.session.values["CORVANE_PATH"] = "/opt/CorVane";
  host.processes = snapshot;
}

// The whole check, the release of the snapshot it is handed included.
void check_bench(benchmark::State& state) {
  const proc_map_t& snapshot = snapshot_of(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    prepare_check(snapshot);
    state.ResumeTiming();
    check_running_corvane(&fake::host().session);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// The check's limit: the walk, and the release of the snapshot that any
// check is handed and must let go of.
void check_baseline(benchmark::State& state) {
  const proc_map_t& snapshot = snapshot_of(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    proc_map_t handed_over = snapshot;
    state.ResumeTiming();
    benchmark::DoNotOptimize(folded_prefix_walk(handed_over, "/opt/corvane/"));
    proc_map_t().swap(handed_over);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// The most heap the check holds, the snapshot among it, against the
// snapshot's own size.
void check_peak_memory(benchmark::State& state) {
  const proc_map_t& snapshot = snapshot_of(static_cast<std::size_t>(state.range(0)));
  double ratio = 0;
  for (auto _ : state) {
    prepare_check({});
    bench::count_heap(true);
    const std::size_t before = bench::live_heap();
    fake::host().processes = snapshot;
    const std::size_t snapshot_bytes = bench::live_heap() - before;
    bench::reset_peak();
    check_running_corvane(&fake::host().session);
    ratio = static_cast<double>(bench::peak_heap() - before) / static_cast<double>(snapshot_bytes);
    bench::count_heap(false);
  }
  state.counters["peak/snapshot"] = ratio;
}

void sizes(benchmark::internal::Benchmark* bench) {
  bench->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(find_process_bench)->Name("find_process")->Apply(sizes)->UseManualTime();
BENCHMARK(walk_baseline)->Name("find_process_baseline")->Apply(sizes)->UseManualTime();
BENCHMARK(check_bench)->Name("check_running_corvane")->Apply(sizes);
BENCHMARK(check_baseline)->Name("check_running_corvane_baseline")->Apply(sizes);
BENCHMARK(check_peak_memory)
    ->Name("check_running_corvane_peak_memory")
    ->Arg(1000000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
