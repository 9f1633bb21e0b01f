// SPDX-License-Identifier: MIT
// Keeps a recorded process ID from reaching another process. Between the
// check and the kill an installer may wait for minutes, and IDs are reused:
// the check records who each process is, and every signal goes through a
// pidfd that has just been shown to name that very process.
#ifndef CORVANE_HOST_PID_GUARD_H
#define CORVANE_HOST_PID_GUARD_H

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "host-services.h"
#include "session.h"
#include "unique_fd.h"

namespace corvane_host {

// The host's own session key: "PID:START:INODE:HEXCOMMAND;..." per recorded ID.
inline const char* const identities_key = "corvane_host_IDENTITIES";

// Who a process is: its start time, and where the kernel has pidfs (Linux
// 6.9 and later) its pidfd's inode, which no other process of this boot
// shares; 0 where there is none. The command is the host's own reading.
struct process_identity {
  pid_t pid = 0;
  std::uint64_t start_time = 0;
  std::uint64_t inode = 0;
  std::string command;
};

// The IDs the check recorded, in order; tokens that are not plain decimals
// are left out (the check writes none).
std::vector<pid_t> recorded_ids(const session_t& session);

// Notes who each recorded process is, its command from `commands`.
void record_identities(session_t& session, const proc_map_t& commands);

std::string encode_identities(const std::vector<process_identity>& identities);
// Entries that are not well formed are left out.
std::vector<process_identity> decode_identities(const std::string& text);

// A pidfd for `who`, or why there is none: the process has gone (ESRCH), its
// ID now names another process (ESTALE), or errno's own reason.
struct verified_pidfd {
  unique_fd pidfd;
  int error = 0;
};
verified_pidfd open_verified(const process_identity& who);

// The pidfd's inode where it lives on pidfs; 0 elsewhere.
std::uint64_t pidfd_inode(int pidfd);

struct skipped_id {
  std::string id;
  std::string command;
  std::string reason;
  bool gone = false;  // the process had ended already
};

struct guard_result {
  std::vector<process_identity> to_signal;
  std::vector<skipped_id> skipped;
};

// Replaces, in RUNNING_PROC_LIST, every ID whose process has gone, was not
// seen by the check, or is now another process by -1, which the plug-in
// skips.
guard_result guard_recorded(session_t& session);

}  // namespace corvane_host

#endif
