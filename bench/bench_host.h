// A host for the benchmarks: an in-memory session, a log that formats and
// drops each line, and a process list handed over from a prepared snapshot.
// It also counts the heap, for the check's peak memory.
#ifndef CORVANE_BENCH_HOST_H
#define CORVANE_BENCH_HOST_H

#include <cstddef>
#include <map>
#include <string>

#include "host-services.h"
#include "session.h"

namespace bench {

// get_process_list() moves this out, as a host hands over a fresh snapshot.
proc_map_t& prepared_snapshot();

// Live heap bytes, and the most there were since reset_peak(), counted only
// between count_heap(true) and count_heap(false), for allocations made then.
void count_heap(bool on);
std::size_t live_heap();
std::size_t peak_heap();
void reset_peak();

}  // namespace bench

#endif
