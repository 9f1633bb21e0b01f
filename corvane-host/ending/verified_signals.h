// SPDX-License-Identifier: MIT
// The plug-in ends processes with POSIX kill(). The host supplies kill()
// itself, exactly as it supplies the host services: the plug-in's call binds
// to the host's definition when the plug-in is loaded. While a
// verified_signals scope lives, that kill() signals only the processes it
// was given, each through a pidfd that pins the recorded identity and only
// once the process is proven again to run the installation's file, so that
// no reused ID and no exec'd stranger can receive the signal; any other ID is
// refused. Outside such
// a scope it is the system call. The host's own code never calls kill():
// it signals and probes through its handles.
#ifndef CORVANE_HOST_VERIFIED_SIGNALS_H
#define CORVANE_HOST_VERIFIED_SIGNALS_H

#include <map>
#include <optional>
#include <vector>

#include "ending/pid_guard.h"

namespace corvane_host {

// Sends `signal` to a recorded process, proven again just before on its own
// handle (prove_again): nullopt, or why nothing was sent. A process that
// has since exec'd another program is not the installation's any more.
std::optional<reason> send_verified(const recorded_process& recorded, const installation& where,
                                    int signal);

class verified_signals {
 public:
  verified_signals(const std::vector<recorded_process>& processes, const installation& where);
  verified_signals(const verified_signals&) = delete;
  verified_signals& operator=(const verified_signals&) = delete;
  ~verified_signals();

  // What became of each send: nullopt, or why it did not go out.
  [[nodiscard]] const std::map<pid_t, std::optional<reason>>& sends() const;
};

}  // namespace corvane_host

#endif
