// SPDX-License-Identifier: MIT
// The three things corvane-host does: check, kill, and both in one run.
#ifndef CORVANE_HOST_COMMANDS_H
#define CORVANE_HOST_COMMANDS_H

#include <optional>
#include <string>

namespace corvane_host {

// Exit status, for scripts.
enum exit_status : int {
  exit_clear = 0,
  exit_error = 1,
  exit_usage = 2,
  exit_detected = 3,
  exit_not_all_ended = 4,
  exit_incomplete = 5,
  exit_signalled_after_failure = 6
};

// What each exit status means, in order: --help prints this table, and
// help2man makes the manual page's from it.
struct exit_status_meaning {
  exit_status status;
  const char* meaning;
};
inline constexpr exit_status_meaning exit_status_meanings[] = {
    {exit_clear,
     "check: nothing is running. kill and run: every recorded process was signalled, or had "
     "ended or is no longer the installation's; with --wait, every one ended and none came "
     "back."},
    {exit_error,
     "an error, with the session left as it was: the plug-in is missing or does not load; "
     "/proc is not this pid namespace's; the session or --log file may not be reached; the "
     "session cannot be read, is malformed, holds more than 16 MiB, or its lock was not had "
     "within --lock-timeout; kill on a session that no check wrote, that names no installation "
     "or another than --root, or that another user could have written (without --root); or, "
     "with the session saved, a report that cannot be written."},
    {exit_usage,
     "a wrong command line (--wait and --lock-timeout take plain decimal seconds; kill needs "
     "--session), or a --root that does not exist, is empty, too long, holds control "
     "characters, or whose directory is the system's (/, /usr, /opt, /usr/bin, ...) or a "
     "user's home."},
    {exit_detected, "check: corvane processes are running; the session records them."},
    {exit_not_all_ended,
     "kill and run: a recorded process could not be signalled (not permitted, or not "
     "verifiable), outlived --wait (and --force), or was started again."},
    {exit_incomplete,
     "not every process could be inspected or proven (usual for an ordinary user, who cannot "
     "inspect root's daemons; or a file system did not answer within --fs-timeout): check found "
     "nothing among those it could; kill and run ended "
     "what they recorded, but the check or the look after --wait left processes it could not "
     "prove, which may be the installation's and still run."},
    {exit_signalled_after_failure,
     "kill and run: signals went out, but a later step failed (the look after --wait, for "
     "instance because the installation was moved away, the save of the session, or the "
     "report); the report of what was signalled is printed first, then the error."},
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
  double fs_timeout_seconds = 10;  // the most a run waits for file systems that do not answer
  bool force = false;
};

// Runs one command and prints its report; errors go to standard error.
exit_status run_command(const options& options);

}  // namespace corvane_host

#endif
