// SPDX-License-Identifier: MIT
#include "commands/report.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <sstream>

#include "base/text.h"

namespace corvane_host {
namespace {

using nlohmann::json;

// The version of the JSON document's layout; it changes when a field does.
constexpr int schema_version = 2;

bool is_utf8(const std::string& text) {
  try {
    (void)json(text).dump();
    return true;
  } catch (const json::type_error&) {
    return false;
  }
}

// Text a process or a user chose: as JSON text where it is UTF-8; otherwise
// with U+FFFD in place of the stray bytes, and every byte, in hexadecimal,
// under KEY_hex beside it.
void put_text(json& object, const std::string& key, const std::string& text) {
  object[key] = text;
  if (!is_utf8(text)) {
    object[key + "_hex"] = hex_of(text);
  }
}

void uninspected_text(std::ostream& out, const check_outcome& check) {
  if (check.uninspected_count() > 0) {
    out << "Could not inspect " << check.uninspected_count() << " process(es) (";
    const char* separator = "";
    for (const auto& [reason, count] : check.uninspected) {
      out << separator << printable(reason) << ": " << count;
      separator = ", ";
    }
    out << "): their programs are unknown"
        << (check.as_root ? ".\n" : "; a complete check needs root.\n");
  }
  if (!check.hidden.empty()) {
    out << "Could not see every process: " << printable(check.hidden)
        << (check.as_root ? ".\n" : "; a complete check needs root.\n");
  }
  if (check.index_timed_out) {
    out << "Could not index every file of the installation: "
        << words_of(reason{why::file_system_stalled}) << ".\n";
  }
  for (const std::string& mount : check.not_indexed) {
    out << "Not indexed, another mount: " << printable(mount) << "\n";
  }
}

void using_files_text(std::ostream& out, const std::vector<files_user>& users) {
  if (users.empty()) {
    out << "No other process uses files of the installation.\n";
    return;
  }
  out << users.size() << " other process(es) using files of the installation (not signalled):\n";
  for (const files_user& user : users) {
    out << "  " << user.pid << "  " << printable(user.program)
        << (user.runs_code ? " (runs code of the installation)\n" : "\n");
    for (const std::string& file : user.files) {
      out << "    " << printable(file) << "\n";
    }
  }
}

void check_text(std::ostream& out, const check_outcome& check) {
  if (check.processes.empty()) {
    out << "No corvane process is running from " << printable(check.root) << ".\n";
  } else {
    out << check.processes.size() << " corvane process(es) running from " << printable(check.root)
        << ":\n";
    for (const process_view& process : check.processes) {
      out << "  " << process.pid << "  " << printable(process.user) << "  "
          << printable(process.command) << "\n";
      for (const std::string& warning : process.warnings) {
        out << "    warning: " << printable(warning) << "\n";
      }
    }
  }
  for (const spared_process& spared : check.spared) {
    out << "Left alone: " << spared.pid << "  " << printable(spared.command) << " ("
        << printable(spared.reason) << ")\n";
  }
  uninspected_text(out, check);
  if (check.using_files) {
    using_files_text(out, *check.using_files);
  }
  out << "Critical prerequisite raised: " << (check.prerequisite_raised ? "yes" : "no") << "\n";
}

void kill_text(std::ostream& out, const kill_outcome& kill) {
  if (kill.processes.empty()) {
    out << "No process to end.\n";
  } else {
    out << "Sent SIGTERM to " << kill.sent << " process(es).\n";
  }
  for (const process_fate& process : kill.processes) {
    out << "  ";
    if (process.pid) {
      out << *process.pid;
    } else {
      out << '"' << printable(process.recorded) << '"';
    }
    out << "  " << printable(process.command) << ": " << words_of(process.what);
    if (process.reason) {
      out << " (" << words_of(*process.reason) << ")";
    }
    if (process.restarter) {
      out << "; " << restart_words(process.restarter->who.pid, printable(process.restarter->name));
    }
    out << "\n";
  }
  out << "kill_corvane returned " << kill.result << "\n";
}

json check_json(const check_outcome& check) {
  json processes = json::array();
  for (const process_view& process : check.processes) {
    json entry = {{"pid", process.pid}, {"user", process.user}, {"warnings", process.warnings}};
    put_text(entry, "command", process.command);
    if (!process.unit.empty()) {
      put_text(entry, "unit", process.unit);
    }
    processes.push_back(std::move(entry));
  }
  json spared = json::array();
  for (const spared_process& process : check.spared) {
    json entry = {{"pid", process.pid}, {"reason", process.reason}};
    put_text(entry, "command", process.command);
    spared.push_back(std::move(entry));
  }
  json out = {
      {"processes", processes},
      {"prerequisite_raised", check.prerequisite_raised},
      {"left_alone", spared},
      {"uninspected", {{"count", check.uninspected_count()}, {"reasons", check.uninspected}}}};
  if (!check.hidden.empty()) {
    out["hidden"] = check.hidden;
  }
  if (check.index_timed_out || !check.not_indexed.empty()) {
    json mounts = json::array();
    for (const std::string& mount : check.not_indexed) {
      json one;
      put_text(one, "path", mount);
      mounts.push_back(std::move(one));
    }
    out["index"] = {{"timed_out", check.index_timed_out}, {"mounts_left_out", mounts}};
  }
  put_text(out, "root", check.root);
  if (check.using_files) {
    json users = json::array();
    for (const files_user& user : *check.using_files) {
      json entry = {{"pid", user.pid}};
      put_text(entry, "program", user.program);
      json files = json::array();
      for (const std::string& file : user.files) {
        json one;
        put_text(one, "path", file);
        files.push_back(std::move(one));
      }
      entry["files"] = std::move(files);
      entry["runs_code"] = user.runs_code;
      users.push_back(std::move(entry));
    }
    out["using_files"] = std::move(users);
  }
  return out;
}

json kill_json(const kill_outcome& kill) {
  json processes = json::array();
  for (const process_fate& process : kill.processes) {
    json entry = {{"pid", process.pid ? json(*process.pid) : json(nullptr)},
                  {"outcome", words_of(process.what)}};
    put_text(entry, "command", process.command);
    if (!process.pid) {
      put_text(entry, "recorded", process.recorded);
    }
    if (process.reason) {
      entry["reason"] = words_of(*process.reason);
    }
    if (process.restarter) {
      json parent = {{"pid", process.restarter->who.pid}};
      put_text(parent, "command", process.restarter->name);
      entry["may_be_restarted_by"] = std::move(parent);
    }
    processes.push_back(std::move(entry));
  }
  return {{"result", kill.result}, {"sent", kill.sent}, {"processes", processes}};
}

}  // namespace

bool kill_outcome::has(fate what) const {
  return std::any_of(processes.begin(), processes.end(),
                     [what](const process_fate& process) { return process.what == what; });
}

int check_outcome::uninspected_count() const {
  int count = 0;
  for (const auto& reason : uninspected) {
    count += reason.second;
  }
  return count;
}

std::string render_text(const std::optional<check_outcome>& check,
                        const std::optional<kill_outcome>& kill) {
  std::ostringstream out;
  if (check) {
    check_text(out, *check);
  }
  if (kill) {
    kill_text(out, *kill);
  }
  return out.str();
}

std::string render_json(const std::string& plugin, const std::optional<check_outcome>& check,
                        const std::optional<kill_outcome>& kill) {
  json document = {{"schema_version", schema_version}};
  put_text(document, "plugin", plugin);
  if (check) {
    document["check"] = check_json(*check);
  }
  if (kill) {
    document["kill"] = kill_json(*kill);
  }
  // Bytes that are not UTF-8 become U+FFFD rather than an error; put_text
  // has kept them in hexadecimal. Everything beyond ASCII is written as
  // \uXXXX, and so is DEL, so that no C1 control reaches a terminal raw.
  std::string text = document.dump(2, ' ', true, json::error_handler_t::replace);
  for (std::size_t at = text.find('\x7f'); at != std::string::npos; at = text.find('\x7f', at)) {
    text.replace(at, 1, "\\u007f");
  }
  return text + "\n";
}

}  // namespace corvane_host
