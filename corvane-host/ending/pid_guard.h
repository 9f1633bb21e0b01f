// SPDX-License-Identifier: MIT
// Keeps a recorded process ID from reaching another process. Between the
// check and the kill an installer may wait for minutes, and IDs are reused:
// the check records who each process was when the scan decided on it, and
// before the plug-in runs every recorded ID is pinned again and held to
// that identity.
#ifndef CORVANE_HOST_PID_GUARD_H
#define CORVANE_HOST_PID_GUARD_H

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/reasons.h"
#include "ending/session_records.h"
#include "evidence/installation.h"
#include "proc/process_handle.h"

namespace corvane_host {

// For each ID of `ids` (the plug-in's list), who the scan saw under it and
// what it ran; an ID the scan did not hand the plug-in gets no identity.
std::vector<recorded_process> record_identities(const std::vector<pid_t>& ids,
                                                const std::map<pid_t, process_identity>& identities,
                                                const std::map<pid_t, std::string>& commands);

// A recorded process pinned again, through `proc_fd`, and proven again on
// its own handle to run the code of `where`, by the check's rule (it may have
// exec'd another program of the installation since); or why it is not.
struct proof {
  std::optional<process_handle> handle;
  reason because;
  std::string runs;  // the installation's file it runs now
};
proof prove_again(const recorded_process& recorded, const installation& where, int proc_fd);

struct skipped_entry {
  std::optional<pid_t> pid;  // absent where the token is no process ID
  std::string token;         // as recorded
  std::string command;
  reason because;
};

struct guard_result {
  std::vector<recorded_process> to_signal;
  std::vector<skipped_entry> skipped;
  // The list for the plug-in: every entry not to signal replaced by -1, which it skips.
  std::string list;
};

// Holds each entry of the list to its recorded identity: an ID whose
// process has gone, was not seen by the check, is now another process, or
// no longer runs the code of `where` is skipped. The records are a hint:
// each process is proven again on its own handle, and is to be signalled
// under the file it runs now.
// Throws session_error for a list far longer than the identities recorded.
guard_result guard_recorded(const session_records& records, const installation& where, int proc_fd);

}  // namespace corvane_host

#endif
