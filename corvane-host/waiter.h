// SPDX-License-Identifier: MIT
// Waits for signalled processes to end. The plug-in sends one SIGTERM and
// returns; waiting is the host's.
#ifndef CORVANE_HOST_WAITER_H
#define CORVANE_HOST_WAITER_H

#include <chrono>
#include <vector>

#include "pid_guard.h"

namespace corvane_host {

// The processes still running after at most `timeout`: on their pidfds with
// poll() where the kernel has them, otherwise by their start times in /proc.
std::vector<pid_t> wait_for_exit(const std::vector<tracked_process>& processes,
                                 std::chrono::milliseconds timeout);

}  // namespace corvane_host

#endif
