// SPDX-License-Identifier: MIT
// The plug-in ends processes with POSIX kill(). The host supplies kill()
// itself, exactly as it supplies the host services: the plug-in's call binds
// to the host's definition when the plug-in is loaded. While a
// verified_signals scope lives, that kill() signals only the processes it
// was given, each through a pidfd that pins the recorded identity, so that
// no reused ID can receive the signal; any other ID is refused. Outside such
// a scope it is the system call. The host's own code never calls kill():
// it signals and probes through its handles.
#ifndef CORVANE_HOST_VERIFIED_SIGNALS_H
#define CORVANE_HOST_VERIFIED_SIGNALS_H

#include <map>
#include <vector>

#include "process_handle.h"

namespace corvane_host {

// Sends `signal` to `who` pinned again: 0, or -1 with errno (ESRCH: it has
// gone; ESTALE: the ID is another process's now).
int send_verified(const process_identity& who, int signal);

class verified_signals {
 public:
  explicit verified_signals(const std::vector<process_identity>& processes);
  verified_signals(const verified_signals&) = delete;
  verified_signals& operator=(const verified_signals&) = delete;
  ~verified_signals();

  // What each send returned: 0, or the errno of its failure.
  [[nodiscard]] const std::map<pid_t, int>& sends() const;
};

}  // namespace corvane_host

#endif
