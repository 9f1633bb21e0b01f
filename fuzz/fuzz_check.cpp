// SPDX-License-Identifier: MIT
// check_running_corvane makes exactly the host calls of a plain reference of
// the whole check (early stops, path()'s result, the selection, the log lines,
// the records, the prerequisites); any host exception passes through it at once.
#include <charconv>
#include <cstdint>
#include <sstream>

#include "corvane-kill.h"
#include "fake_host.h"
#include "fuzz_reference.h"

namespace {

using fuzz_reference::log_call;

// The input, readable so that seeds can be written by hand: CORVANE_PATH's value on the first line
// ("(unset)": no such key), the directory that get_dirname() returns on the second, then one
// process per line, "PID COMMAND" (a line that does not start with a number is skipped; a later
// line replaces an earlier one of the same ID).
struct input {
  std::string root;
  std::string directory;
  proc_map_t processes;
};

input parse_input(const std::string& text) {
  input parsed;
  std::istringstream lines(text);
  std::getline(lines, parsed.root);
  std::getline(lines, parsed.directory);
  for (std::string row; std::getline(lines, row);) {
    int pid = 0;
    const char* const last = row.c_str() + row.size();
    const auto [end, error] = std::from_chars(row.c_str(), last, pid);
    if (error == std::errc() && end != last && *end == ' ') {
      parsed.processes[pid] = std::string(end + 1, last);
    }
  }
  return parsed;
}

bool selected_by_reference(const std::string& folded, const std::string& folded_directory) {
  const auto ends_with = [&folded](const std::string& suffix) {
    return folded.size() >= suffix.size() &&
           folded.compare(folded.size() - suffix.size(), suffix.size(), suffix) == 0;
  };
  return folded.compare(0, folded_directory.size(), folded_directory) == 0 &&
         !ends_with("install.exe") && !ends_with("/install_gui") && !ends_with("/install.sh");
}

// The host calls of the whole check, from its first log line.
std::vector<std::string> reference_calls(const input& in) {
  std::vector<std::string> calls = {log_call("check_running_corvane entered"),
                                    "env_exists CORVANE_PATH"};
  if (in.root == "(unset)") {
    calls.push_back(log_call("corvane root is not defined, skipping check"));
    return calls;
  }
  calls.emplace_back("env_get_string CORVANE_PATH");
  if (in.root.empty()) {
    calls.push_back(log_call("corvane root is empty, skipping check"));
    return calls;
  }
  calls.insert(calls.end(), {"path " + in.root, log_call("corvane root: ", in.root + "/n"),
                             "get_process_list", "get_dirname " + in.root + "/n"});
  std::vector<std::string> id_lines;
  std::string ids;
  std::string names = "\n";
  const std::string folded_directory = fuzz_reference::lowered(in.directory);
  for (const auto& [pid, command] : in.processes) {
    const std::string folded = fuzz_reference::lowered(command);
    if (selected_by_reference(folded, folded_directory)) {
      calls.push_back(log_call("process: ", folded) + " is going to be killed");
      id_lines.push_back(log_call("process ID: ", std::to_string(pid)));
      if (pid != -1) {
        ids += (ids.empty() ? "" : ";") + std::to_string(pid);
        names += folded + "\n";
      }
    }
  }
  calls.insert(calls.end(), id_lines.begin(), id_lines.end());
  calls.push_back("env_set_string RUNNING_PROC_LIST=" + ids);
  calls.push_back("env_set_string corvane_killer_RUNNING_PROC_NAMES=" + names);
  if (!ids.empty()) {
    calls.insert(
        calls.end(),
        {"env_get_string SIGNIFICANCE", "env_get_string prerequisite_critical_significance",
         "env_set_string SIGNIFICANCE=low;critical", "env_get_string SHORT_DESC",
         "env_set_string SHORT_DESC=;corvane_killer_setup_detected_running_apps_short_desc",
         "env_get_string FULL_DESC",
         "env_set_string FULL_DESC=x;corvane_killer_setup_detected_running_apps_full_desc"});
  }
  return calls;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const input in = parse_input(text);
  fake::host_state& host = fake::host();
  const auto prepare = [&] {
    host = {};
    host.path = [](const std::string& root) { return root + "/n"; };
    host.dirname = [&in](const std::string& /*root*/) { return in.directory; };
    host.snapshot = &in.processes;
    host.session.values = {{"SIGNIFICANCE", "low"},
                           {"prerequisite_critical_significance", "critical"},
                           {"FULL_DESC", "x"}};
    if (in.root != "(unset)") {
      host.session.values["CORVANE_PATH"] = in.root;
    }
  };
  prepare();
  fuzz_reference::expect(check_running_corvane(&host.session) == 0, "the check returned non-zero");
  fuzz_reference::expect(host.calls == reference_calls(in), "the check calls the host otherwise");
  fuzz_reference::expect_host_exceptions_to_pass(
      prepare, [&] { check_running_corvane(&host.session); }, text);
  return 0;
}
