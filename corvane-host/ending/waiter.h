// SPDX-License-Identifier: MIT
// Waits for signalled processes to end. The plug-in sends one SIGTERM and
// returns; waiting is the host's.
#ifndef CORVANE_HOST_WAITER_H
#define CORVANE_HOST_WAITER_H

#include <chrono>
#include <vector>

#include "proc/process_handle.h"

namespace corvane_host {

// The processes still running when they have all ended or `deadline` has
// come. Each is pinned again through `proc_fd` and watched on its pidfd, in
// batches that fit the descriptor limit. A process has ended when its pidfd
// says so or it has gone (ESRCH); a leader whose main thread exited while
// others run has not.
std::vector<process_identity> wait_for_exit(const std::vector<process_identity>& processes,
                                            std::chrono::steady_clock::time_point deadline,
                                            int proc_fd);

}  // namespace corvane_host

#endif
