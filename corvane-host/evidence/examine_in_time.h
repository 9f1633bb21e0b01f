// SPDX-License-Identifier: MIT
// A process examined on the run's time bound (base/time_bound.h): a name it
// shows may lead into a file system that never answers.
#ifndef CORVANE_HOST_EXAMINE_IN_TIME_H
#define CORVANE_HOST_EXAMINE_IN_TIME_H

#include <optional>

#include "evidence/installation.h"
#include "evidence/process_evidence.h"
#include "proc/process_handle.h"

namespace corvane_host {

// examine() on a helper, with copies of what it reads; nullopt when it did
// not end in time (why::file_system_stalled). Without a time bound in
// `where`, examine() itself.
std::optional<evidence> examine_in_time(const process_handle& process, const installation& where,
                                        bool named_inside = false);

}  // namespace corvane_host

#endif
