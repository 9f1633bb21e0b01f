#include "bench_host.h"

#include <benchmark/benchmark.h>
#include <malloc.h>
#include "text.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace bench {
namespace {

// Counting costs a malloc_usable_size() per call: only while measuring memory.
bool counting = false;
std::size_t live = 0;
std::size_t peak = 0;

}  // namespace

proc_map_t& prepared_snapshot() {
  static proc_map_t snapshot;
  return snapshot;
}

std::size_t live_heap() { return live; }
std::size_t peak_heap() { return peak; }
void reset_peak() { peak = live; }
void count_heap(bool on) { counting = on; }

}  // namespace bench

// Counting operator new and delete; the plug-in binds to these too.
void* operator new(std::size_t size) {
  void* memory = std::malloc(size == 0 ? 1 : size);
  if (memory == nullptr) {
    throw std::bad_alloc();
  }
  if (bench::counting) {
    bench::live += malloc_usable_size(memory);
    if (bench::live > bench::peak) {
      bench::peak = bench::live;
    }
  }
  return memory;
}
void operator delete(void* memory) noexcept {
  if (memory != nullptr && bench::counting) {
    bench::live -= malloc_usable_size(memory);
  }
  std::free(memory);
}
void operator delete(void* memory, std::size_t /*size*/) noexcept { operator delete(memory); }

void print_log(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string message = corvane_host::vformat(format, args);
  va_end(args);
  benchmark::DoNotOptimize(message.size());
}

proc_map_t get_process_list() { return std::move(bench::prepared_snapshot()); }

std::string path(std::string p) { return p; }  // NOLINT(performance-unnecessary-value-param)

std::string get_dirname(const std::string& p) { return p + "/"; }
