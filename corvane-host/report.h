// SPDX-License-Identifier: MIT
// What corvane-host tells its user: text for people, JSON for scripts.
#ifndef CORVANE_HOST_REPORT_H
#define CORVANE_HOST_REPORT_H

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "process_scan.h"

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
  std::optional<std::vector<files_user>> using_files;  // set when asked for

  [[nodiscard]] int uninspected_count() const;
};

// What became of one recorded process, or of one that came back.
enum class fate {
  signalled,         // SIGTERM went out; the host did not wait
  ended_on_sigterm,  // it ended after SIGTERM, within the wait
  ended_on_sigkill,  // it outlived the wait and ended after SIGKILL (--force)
  still_running,     // it outlived the wait (and SIGKILL)
  started_again,     // a program of the installation running again under a new ID
  left_alone,        // not signalled, with the reason
  already_gone,      // it had ended before the signal
  not_permitted      // the signal could not be sent, with the reason
};

// The words for each fate, in the text and the JSON.
const char* words_of(fate what);

struct process_fate {
  pid_t pid = 0;
  std::string command;
  fate what = fate::signalled;
  std::string reason;
};

struct kill_outcome {
  int result = -1;  // what kill_corvane returned
  int sent = 0;     // SIGTERMs that went out
  std::vector<process_fate> processes;

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
