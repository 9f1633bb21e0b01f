// SPDX-License-Identifier: MIT
// What corvane-host tells its user: text for people, JSON for scripts.
#ifndef CORVANE_HOST_REPORT_H
#define CORVANE_HOST_REPORT_H

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ending/pid_guard.h"
#include "evidence/process_scan.h"

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
  std::string hidden;    // why /proc hides processes from this caller, if it does
  bool as_root = false;  // whether root ran the check: no one could see more
  std::optional<std::vector<files_user>> using_files;  // set when asked for

  [[nodiscard]] int uninspected_count() const;
  // Some processes could not be inspected, or /proc hid some.
  [[nodiscard]] bool incomplete() const { return uninspected_count() > 0 || !hidden.empty(); }
};

// What became of one recorded process, or of one that came back.
enum class fate {
  signalled,
  ended_on_sigterm,
  ended_on_sigkill,
  still_running,
  started_again,
  left_alone,
  already_gone,
  not_permitted
};

// The words for each fate, in the text and the JSON, and what they mean
// (--help prints them, so the manual page has them).
struct fate_words {
  fate what;
  const char* words;
  const char* meaning;
};
inline constexpr fate_words fate_table[] = {
    {fate::signalled, "sent SIGTERM", "SIGTERM went out; the host did not wait."},
    {fate::ended_on_sigterm, "ended on SIGTERM", "it ended within --wait."},
    {fate::ended_on_sigkill, "ended on SIGKILL",
     "it outlived --wait and ended on --force's SIGKILL."},
    {fate::still_running, "still running",
     "it outlived --wait (and --force; a SIGKILL that could not go out says why)."},
    {fate::started_again, "started again",
     "a program of the installation running as a process the check did not record."},
    {fate::left_alone, "left alone", "not signalled, with the reason"},
    {fate::already_gone, "already gone", "it had ended before the signal."},
    {fate::not_permitted, "not permitted",
     "the signal could not be sent, with the system's error as the reason (\"Permission "
     "denied\" where even its program cannot be read)."},
};

const char* words_of(fate what);

struct process_fate {
  std::optional<pid_t> pid;  // absent where the session recorded no process ID
  std::string recorded;      // the session's token, shown where there is no ID
  std::string command;
  fate what = fate::signalled;
  std::optional<corvane_host::reason> reason;
};

// The fate of an entry that was not signalled, or whose signal failed.
fate fate_of(const reason& because);

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
