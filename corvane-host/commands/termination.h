// SPDX-License-Identifier: MIT
// Ending what a check recorded: the plug-in sends one SIGTERM per recorded
// process through the host's verified kill(); the host then waits if asked,
// escalates to SIGKILL if asked, looks again for programs that came back,
// and says what became of each process.
#ifndef CORVANE_HOST_TERMINATION_H
#define CORVANE_HOST_TERMINATION_H

#include <chrono>
#include <optional>
#include <string>

#include "boundary/plugin_loader.h"
#include "commands/report.h"
#include "files/session.h"

namespace corvane_host {

struct ending {
  std::optional<std::chrono::milliseconds> wait;  // how long to wait for the processes to end
  bool force = false;  // SIGKILL, through verified pidfds, for what outlives the wait
};

// Once a signal has gone out nothing throws past this: a later failure is
// kept in the outcome's `failure`, after the fates.
// `root` is the installation, already held to the rules for roots; each
// recorded process must still run the file of it that the check recorded.
kill_outcome end_recorded(const loaded_plugin& plugin, session_t& session, const std::string& root,
                          const ending& how);

}  // namespace corvane_host

#endif
