// SPDX-License-Identifier: MIT
// Ending what a check recorded: the plug-in sends one SIGTERM per recorded
// process through the host's verified kill(); the host then waits if asked,
// escalates to SIGKILL if asked, looks again for programs that came back,
// and says what became of each process.
#ifndef CORVANE_HOST_TERMINATION_H
#define CORVANE_HOST_TERMINATION_H

#include <chrono>
#include <exception>
#include <optional>
#include <string>

#include "boundary/plugin_loader.h"
#include "commands/report.h"
#include "ending/session_records.h"
#include "files/session.h"

namespace corvane_host {

struct ending {
  std::optional<std::chrono::milliseconds> wait;  // how long to wait for the processes to end
  bool force = false;  // SIGKILL, through verified pidfds, for what outlives the wait
};

// Adds what `error` says to `failure`, after what it holds already. Never
// throws: with no memory left even for the words, an empty failure counts.
void note_failure(std::optional<std::string>& failure, const std::exception_ptr& error) noexcept;

// Ends what `records` (the session's, decoded) say the check found, with
// the plug-in's kill_corvane on `session`. What fails before the plug-in is
// called throws; from the call on nothing throws past this: a failure, the
// plug-in's own included, is kept in the outcome's `failure`, after the fates.
// `root` is the installation, already held to the rules for roots; each
// recorded process must still run the file of it that the check recorded.
kill_outcome end_recorded(const loaded_plugin& plugin, const call_basics& basics,
                          session_t& session, const session_records& records,
                          const std::string& root, const ending& how);

}  // namespace corvane_host

#endif
