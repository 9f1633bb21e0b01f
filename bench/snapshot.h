// SPDX-License-Identifier: MIT
// Realistic process snapshots for the benchmarks: commands of 40 to 200
// bytes in mixed case, 1 % of them under the corvane directory (some of
// those installer programs), a few more under a sibling directory.
#ifndef CORVANE_BENCH_SNAPSHOT_H
#define CORVANE_BENCH_SNAPSHOT_H

#include <cstddef>
#include <string>

#include "host-services.h"

namespace bench {

inline const char* const corvane_directory = "/opt/CorVane/";

proc_map_t make_snapshot(std::size_t entries);

}  // namespace bench

#endif
