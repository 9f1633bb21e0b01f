// SPDX-License-Identifier: MIT
// Keeps a recorded process ID from reaching another process. Between the
// check and the kill an installer may wait for minutes, and IDs are reused:
// the check's start times tell whether an ID still names the same process.
#ifndef CORVANE_HOST_PID_GUARD_H
#define CORVANE_HOST_PID_GUARD_H

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "session.h"
#include "unique_fd.h"

namespace corvane_host {

// The host's own session key: "ID:START;..." for each recorded ID.
inline const char* const start_times_key = "corvane_host_START_TIMES";

// The IDs the check recorded, in order; tokens that are not plain decimals
// are left out (the check writes none).
std::vector<pid_t> recorded_ids(const session_t& session);

// Notes the start time of every recorded process.
void record_start_times(session_t& session);

struct tracked_process {
  pid_t pid;
  std::uint64_t start;
  unique_fd pidfd;  // -1 where the kernel has no pidfds
};

struct skipped_id {
  std::string id;
  std::string reason;
};

struct guard_result {
  std::vector<tracked_process> to_signal;
  std::vector<skipped_id> skipped;
};

// Replaces, in RUNNING_PROC_LIST, every ID whose process has gone, was not
// timed by the check, or now has another start time by -1, which the plug-in
// skips. The processes that stay are pinned by a pidfd where possible.
guard_result guard_recorded(session_t& session);

}  // namespace corvane_host

#endif
