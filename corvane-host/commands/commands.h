// SPDX-License-Identifier: MIT
// The three things corvane-host does: check, kill, and both in one run.
#ifndef CORVANE_HOST_COMMANDS_H
#define CORVANE_HOST_COMMANDS_H

#include <optional>
#include <string>

namespace corvane_host {

// Exit status, for scripts.
enum exit_status : int {
  exit_clear = 0,                   // nothing running, or every signalled process ended
  exit_error = 1,                   // bad input or a failure; the session is left as it was
  exit_usage = 2,                   // the command line is wrong, or --root cannot be a corvane root
  exit_detected = 3,                // check: corvane processes are running
  exit_not_all_ended = 4,           // kill/run: a termination failed, or a process outlived --wait
  exit_incomplete = 5,              // some processes could not be inspected or proven
  exit_signalled_after_failure = 6  // signals went out, but a later step failed
};

enum class command {
  check,  // record what runs from the root
  kill,   // end what a check recorded in the session
  run     // both, in one invocation
};

struct options {
  corvane_host::command command = command::check;
  std::string plugin;  // empty: default_plugin()
  std::optional<std::string> session_file;
  std::optional<std::string> log_file;
  bool json = false;
  std::string root;
  bool files_in_use = false;
  std::optional<double> wait_seconds;
  double lock_timeout_seconds = 60;
  bool force = false;
};

// Runs one command and prints its report; errors go to standard error.
exit_status run_command(const options& options);

}  // namespace corvane_host

#endif
