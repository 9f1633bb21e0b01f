// SPDX-License-Identifier: MIT
// What corvane-host tells its user: text for people, JSON for scripts.
#ifndef CORVANE_HOST_REPORT_H
#define CORVANE_HOST_REPORT_H

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "pid_guard.h"
#include "process_scan.h"

namespace corvane_host {

struct process_view {
  pid_t pid = 0;
  std::string user;
  std::string command;
  std::vector<std::string> warnings;  // why SIGTERM may not end it
};

struct check_outcome {
  std::string root;  // the installation's directory, resolved
  std::vector<process_view> processes;
  bool prerequisite_raised = false;
  std::vector<spared_process> spared;
  std::map<std::string, int> uninspected;
  std::optional<std::vector<files_user>> using_files;  // set when asked for

  [[nodiscard]] int uninspected_count() const;
};

struct kill_outcome {
  int result = -1;
  std::vector<pid_t> signalled;
  std::vector<skipped_id> skipped;
  std::optional<std::vector<pid_t>> survivors;  // set when the host waited
};

// One document per invocation; either part may be absent.
std::string render_text(const std::optional<check_outcome>& check,
                        const std::optional<kill_outcome>& kill);
// `plugin` names the file that was loaded.
std::string render_json(const std::string& plugin, const std::optional<check_outcome>& check,
                        const std::optional<kill_outcome>& kill);

}  // namespace corvane_host

#endif
