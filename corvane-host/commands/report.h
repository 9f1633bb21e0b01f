// SPDX-License-Identifier: MIT
// What corvane-host tells its user: text for people, JSON for scripts.
#ifndef CORVANE_HOST_REPORT_H
#define CORVANE_HOST_REPORT_H

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/reasons.h"
#include "evidence/process_scan.h"
#include "proc/proc_table.h"

namespace corvane_host {

struct process_view {
  pid_t pid = 0;
  std::string user;
  std::string command;
  std::vector<std::string> warnings;  // why SIGTERM may not end it
  std::string unit;                   // the systemd service it belongs to, if any
};

struct check_outcome {
  std::string root;  // the installation's directory, resolved
  std::vector<process_view> processes;
  bool prerequisite_raised = false;
  std::vector<spared_process> spared;
  std::map<std::string, int> uninspected;
  std::string hidden;  // why /proc hides processes from this caller, if it does
  // The installation's index: the mounts inside it that it did not enter,
  // and whether its own file system did not answer in time (files missing).
  std::vector<std::string> not_indexed;
  bool index_timed_out = false;
  bool as_root = false;  // whether root ran the check: no one could see more
  std::optional<std::vector<files_user>> using_files;  // set when asked for

  [[nodiscard]] int uninspected_count() const;
  // Some processes could not be inspected, or /proc hid some.
  [[nodiscard]] bool incomplete() const {
    return uninspected_count() > 0 || !hidden.empty() || index_timed_out;
  }
};

struct process_fate {
  std::optional<pid_t> pid;  // absent where the session recorded no process ID
  std::string recorded;      // the session's token, shown where there is no ID
  std::string command;
  fate what = fate::signalled;
  std::optional<corvane_host::reason> reason;
  // Signalled with no wait: its parent, which may start it again.
  std::optional<parent_process> restarter = std::nullopt;
};

struct kill_outcome {
  int result = -1;  // what kill_corvane returned
  int sent = 0;     // SIGTERMs that went out
  std::vector<process_fate> processes;
  // What failed after the signals went out (the look after --wait): the
  // report still comes first.
  std::optional<std::string> failure;
  // The look after --wait could not inspect every process.
  bool incomplete = false;

  [[nodiscard]] bool has(fate what) const;
};

// One document per invocation; either part may be absent.
std::string render_text(const std::optional<check_outcome>& check,
                        const std::optional<kill_outcome>& kill);
// `plugin` names the file that was loaded.
std::string render_json(const std::string& plugin, const std::optional<check_outcome>& check,
                        const std::optional<kill_outcome>& kill);

}  // namespace corvane_host

#endif
