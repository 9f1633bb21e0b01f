// SPDX-License-Identifier: MIT
#include "heap_counter.h"

#include <malloc.h>

#include <algorithm>
#include <cstdlib>
#include <new>

namespace bench {
namespace {

// Counting costs a malloc_usable_size() per call: only while measuring memory.
bool counting = false;
std::size_t live = 0;
std::size_t peak = 0;

}  // namespace

std::size_t live_heap() { return live; }
std::size_t peak_heap() { return peak; }
void reset_peak() { peak = live; }
void count_heap(bool on) { counting = on; }

void* allocate(std::size_t size) {
  void* memory = std::malloc(size == 0 ? 1 : size);
  if (memory == nullptr) {
    throw std::bad_alloc();
  }
  if (counting) {
    live += malloc_usable_size(memory);
    peak = std::max(peak, live);
  }
  return memory;
}

void release(void* memory) {
  if (memory != nullptr && counting) {
    live -= malloc_usable_size(memory);
  }
  std::free(memory);
}

}  // namespace bench

void* operator new(std::size_t size) { return bench::allocate(size); }
void operator delete(void* memory) noexcept { bench::release(memory); }
void operator delete(void* memory, std::size_t /*size*/) noexcept { bench::release(memory); }
