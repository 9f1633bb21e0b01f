// SPDX-License-Identifier: MIT
// The platform-independent part of the plug-in: selecting the corvane
// processes, recording them in the installer session, and ending the recorded
// ones through the platform's terminate_process().
//
// Every value lives for one call; the session belongs to the host. Nothing
// here catches an exception: whatever a host service or an allocation throws
// reaches the host after the locals are released.
#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <string>
#include <string_view>
#include <vector>

#include "corvane-kill.h"

namespace {

// The release, readable in the file; the version script keeps it local.
[[maybe_unused]] __attribute__((used)) const char version[] = "corvane-kill " CORVANE_VERSION;

// ---- Case folding and selection ---------------------------------------------

// tolower() of every byte, looked up once per call instead of once per byte:
// the folding follows the host's C locale, which does not change mid-call.
using fold_table = std::array<unsigned char, 256>;

fold_table make_fold_table() {
  fold_table table{};
  for (int byte = 0; byte < 256; ++byte) {
    table[byte] = static_cast<unsigned char>(std::tolower(byte));
  }
  return table;
}

char fold(const fold_table& table, char c) {
  return static_cast<char>(table[static_cast<unsigned char>(c)]);
}

void fold_in_place(const fold_table& table, std::string& text) {
  for (char& c : text) {
    c = fold(table, c);
  }
}

// Whether `text` folded equals `folded`, which is already lower case.
bool equals_folded(const fold_table& table, std::string_view text, std::string_view folded) {
  for (std::size_t i = 0; i < folded.size(); ++i) {
    if (fold(table, text[i]) != folded[i]) {
      return false;
    }
  }
  return true;
}

bool starts_with_folded(const fold_table& table, std::string_view command,
                        std::string_view folded_prefix) {
  return command.size() >= folded_prefix.size() &&
         equals_folded(table, command.substr(0, folded_prefix.size()), folded_prefix);
}

// The installer's own programs; "install.exe" has no slash, so it also ends
// longer names such as setupinstall.exe.
constexpr std::array<std::string_view, 3> installer_suffixes = {"install.exe", "/install_gui",
                                                                "/install.sh"};

bool is_installer(const fold_table& table, std::string_view command) {
  return std::any_of(
      installer_suffixes.begin(), installer_suffixes.end(), [&](std::string_view suffix) {
        return command.size() >= suffix.size() &&
               equals_folded(table, command.substr(command.size() - suffix.size()), suffix);
      });
}

// ---- Process-ID lists ------------------------------------------------------

void append_decimal(std::string& out, int value) {
  std::array<char, 16> digits{};
  auto* const end = std::to_chars(digits.data(), digits.data() + digits.size(), value).ptr;
  out.append(digits.data(), end);
}

// White space as an input stream with its default settings skips it.
bool is_stream_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Reads the token at `at` as `std::istringstream(token) >> int` reads it:
// leading white space, an optional sign, decimal digits; `at` is left where
// the number ends, and the rest of the token is the caller's to skip. A token
// that does not convert, or does not fit an int, yields -1, which the
// termination step skips: 0 or INT_MIN/INT_MAX there would signal whole
// process groups.
int read_pid(const char*& at, const char* end) {
  while (at < end && is_stream_space(*at)) {
    ++at;
  }
  const char* digits = at;
  if (digits < end && (*digits == '+' || *digits == '-')) {
    ++digits;
  }
  if (digits == end || !is_digit(*digits)) {
    return -1;
  }
  int value = 0;
  // from_chars takes a "-" but not a "+".
  const auto [stop, error] = std::from_chars(*at == '+' ? digits : at, end, value);
  at = stop;
  return error == std::errc{} ? value : -1;
}

// ---- Session records ---------------------------------------------------------

void append_to_list(session_t* session, const char* key, std::string_view item) {
  std::string list = env_get_string(session, key);
  list += ';';
  list += item;
  env_set_string(session, key, list);
}

void raise_critical_prerequisite(session_t* session) {
  std::string significance = env_get_string(session, "SIGNIFICANCE");
  significance += ';';
  significance += env_get_string(session, "prerequisite_critical_significance");
  env_set_string(session, "SIGNIFICANCE", significance);
  append_to_list(session, "SHORT_DESC", "corvane_killer_setup_detected_running_apps_short_desc");
  append_to_list(session, "FULL_DESC", "corvane_killer_setup_detected_running_apps_full_desc");
}

// ---- Termination -------------------------------------------------------------

// One SIGTERM for one recorded element. 0 and other negative values would
// address a process group (0: the installer's own), so they are refused.
int terminate_one(int pid) {
  if (pid <= 0) {
    print_log("corvane_killer: termination refused, not a single process: %d", pid);
    return -1;
  }
  const int outcome = terminate_process(pid);
  if (outcome != 0) {
    print_log("corvane_killer: termination failed: %d", outcome);
    return -1;
  }
  print_log("corvane_killer: termination succeeded");
  return 0;
}

}  // namespace

proc_map_t find_process(proc_map_t processes, std::string directory) {
  const fold_table table = make_fold_table();
  fold_in_place(table, directory);

  // The snapshot is ours: selected nodes move into the result as they are,
  // and only their commands are folded.
  proc_map_t selected;
  for (auto it = processes.begin(); it != processes.end();) {
    const auto current = it++;
    const std::string& command = current->second;
    if (!starts_with_folded(table, command, directory) || is_installer(table, command)) {
      continue;
    }
    auto node = processes.extract(current);
    fold_in_place(table, node.mapped());
    print_log("corvane_killer: process: %s is going to be killed", node.mapped().c_str());
    selected.insert(selected.end(), std::move(node));
  }
  return selected;
}

// The by-value parameter is part of the published ABI.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
std::vector<int> proc_str_to_list(std::string list) {
  // Tokens as std::getline(stream, token, ';') splits them: a ";" at the very
  // end opens no further token, and an empty input holds none.
  std::vector<int> ids;
  const char* at = list.data();
  const char* const end = at + list.size();
  while (at < end) {
    ids.push_back(read_pid(at, end));
    at = std::find(at, end, ';');
    if (at == end) {
      break;
    }
    ++at;
  }
  return ids;
}

extern "C" int check_running_corvane(session_t* session) {
  print_log("corvane_killer: check_running_corvane entered");
  if (!env_exists(session, "CORVANE_PATH")) {
    print_log("corvane_killer: corvane root is not defined, skipping check");
    return 0;
  }
  std::string root = env_get_string(session, "CORVANE_PATH");
  if (root.empty()) {
    print_log("corvane_killer: corvane root is empty, skipping check");
    return 0;
  }
  root = path(std::move(root));
  print_log("corvane_killer: corvane root: %s", root.c_str());

  proc_map_t snapshot = get_process_list();
  std::string directory = get_dirname(root);
  const proc_map_t selected = find_process(std::move(snapshot), std::move(directory));

  std::string ids;
  std::string names(1, '\n');
  for (const auto& [pid, command] : selected) {
    print_log("corvane_killer: process ID: %d", pid);
    if (pid == -1) {
      continue;
    }
    if (!ids.empty()) {
      ids += ';';
    }
    append_decimal(ids, pid);
    names += command;
    names += '\n';
  }
  env_set_string(session, "RUNNING_PROC_LIST", ids);
  env_set_string(session, "corvane_killer_RUNNING_PROC_NAMES", names);
  if (!ids.empty()) {
    raise_critical_prerequisite(session);
  }
  return 0;
}

extern "C" int kill_corvane(session_t* session) {
  print_log("corvane_killer: kill-corvane entered");
  const std::string value = env_get_string(session, "RUNNING_PROC_LIST");
  print_log("corvane_killer: running processes IDs: %s", value.c_str());

  // The outcome of the last element acted on; -1 when none was.
  int result = -1;
  for (const int pid : proc_str_to_list(value)) {
    print_log("corvane_killer: process ID: %d", pid);
    if (pid != -1) {
      result = terminate_one(pid);
    }
  }
  return result;
}
