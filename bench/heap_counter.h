// SPDX-License-Identifier: MIT
// Counts the heap for the check's peak memory: this binary replaces operator
// new and delete, and the plug-in binds to them too.
#ifndef CORVANE_BENCH_HEAP_COUNTER_H
#define CORVANE_BENCH_HEAP_COUNTER_H

#include <cstddef>

namespace bench {

// Live heap bytes, and the most there were since reset_peak(), counted only
// between count_heap(true) and count_heap(false). Memory allocated before
// counting must not be freed while counting.
void count_heap(bool on);
std::size_t live_heap();
std::size_t peak_heap();
void reset_peak();

}  // namespace bench

#endif
