// SPDX-License-Identifier: MIT
#include "ending/pid_guard.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <map>
#include <optional>
#include <string_view>

#include "evidence/process_evidence.h"
#include "base/text.h"

namespace corvane_host {
namespace {

template <typename Number>
std::optional<Number> plain_decimal(std::string_view text) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

// The parts between separators. A list's trailing separator ends it, as the
// plug-in's own reading has it; a record's fields keep an empty last one.
std::vector<std::string_view> split(std::string_view text, char separator,
                                    bool empty_last_field = false) {
  std::vector<std::string_view> parts;
  if (empty_last_field && !text.empty() && text.back() == separator) {
    parts = split(text.substr(0, text.size() - 1), separator, true);
    parts.emplace_back();
    return parts;
  }
  while (!text.empty()) {
    const std::size_t end = text.find(separator);
    parts.push_back(text.substr(0, end));
    if (end == std::string_view::npos) {
      break;
    }
    text.remove_prefix(end + 1);
  }
  return parts;
}

std::optional<std::string> from_hex(std::string_view hex) {
  if (hex.size() % 2 != 0) {
    return std::nullopt;
  }
  std::string bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(hex.data() + i, hex.data() + i + 2, value, 16);
    if (error != std::errc{} || end != hex.data() + i + 2) {
      return std::nullopt;
    }
    bytes += static_cast<char>(value);
  }
  return bytes;
}

// Entries of RUNNING_PROC_LIST beyond the recorded identities that are
// still read (an installer may add a few of its own).
constexpr std::size_t most_unrecorded_entries = 64;

}  // namespace

std::vector<pid_t> recorded_ids(const session_t& session) {
  std::vector<pid_t> ids;
  const std::string list = value_of(session, "RUNNING_PROC_LIST");
  for (const std::string_view token : split(list, ';')) {
    if (const auto pid = plain_decimal<pid_t>(token)) {
      ids.push_back(*pid);
    }
  }
  return ids;
}

void record_identities(session_t& session, const std::map<pid_t, process_identity>& identities,
                       const std::map<pid_t, std::string>& commands) {
  std::vector<recorded_process> recorded;
  for (const pid_t pid : recorded_ids(session)) {
    const auto who = identities.find(pid);
    const auto command = commands.find(pid);
    if (who != identities.end() && command != commands.end()) {
      recorded.push_back({who->second, command->second});
    }
  }
  session.values[identities_key] = encode_identities(recorded);
}

std::string encode_identities(const std::vector<recorded_process>& recorded) {
  std::string text;
  for (const auto& [who, command] : recorded) {
    if (!text.empty()) {
      text += ';';
    }
    text += std::to_string(who.pid) + ":" + std::to_string(who.start_time) + ":" +
            std::to_string(who.inode) + ":" + hex_of(command);
  }
  return text;
}

std::vector<recorded_process> decode_identities(const std::string& text) {
  std::vector<recorded_process> identities;
  for (const std::string_view entry : split(text, ';')) {
    const std::vector<std::string_view> fields = split(entry, ':', true);
    if (fields.size() != 4) {
      continue;
    }
    const auto pid = plain_decimal<pid_t>(fields[0]);
    const auto start = plain_decimal<std::uint64_t>(fields[1]);
    const auto inode = plain_decimal<std::uint64_t>(fields[2]);
    auto command = from_hex(fields[3]);
    if (pid && *pid > 0 && start && inode && command) {
      identities.push_back({{*pid, *start, *inode}, std::move(*command)});
    }
  }
  return identities;
}

std::string words_of(const reason& because) {
  switch (because.why) {
    case why::not_a_process_id:
      return "not a process ID";
    case why::not_seen_by_check:
      return "the check did not see it running";
    case why::not_signalled_by_plugin:
      return "the plug-in did not signal it";
    case why::now_another_process:
      return "the ID now belongs to another process";
    case why::no_installation_file:
      return "it no longer runs a file of the installation";
    case why::has_ended:
      return "it has ended";
    case why::system_error:
      break;
  }
  return std::strerror(because.error);
}

reason reason_of_error(int error) {
  switch (error) {
    case ESRCH:
      return {why::has_ended, 0};
    case ESTALE:
      return {why::now_another_process, 0};
    default:
      return {why::system_error, error};
  }
}

proof prove_again(const recorded_process& recorded, const installation& where) {
  pin_result pinned = process_handle::pin(recorded.who);
  if (!pinned.handle) {
    return {std::nullopt, reason_of_error(pinned.error)};
  }
  const evidence found = examine(*pinned.handle, where);
  const process_handle& process = *pinned.handle;
  if (process.ended() || !process.verify()) {
    return {std::nullopt, {why::has_ended}};
  }
  if (found.file != recorded.command) {
    return {std::nullopt, found.unreadable != 0 ? reason{why::system_error, found.unreadable}
                                                : reason{why::no_installation_file}};
  }
  return {std::move(pinned.handle), {}};
}

guard_result guard_recorded(session_t& session, const installation& where) {
  std::map<pid_t, recorded_process> recorded;
  for (recorded_process& entry : decode_identities(value_of(session, identities_key))) {
    recorded.emplace(entry.who.pid, std::move(entry));
  }
  const std::string list = value_of(session, "RUNNING_PROC_LIST");
  const std::vector<std::string_view> tokens = split(list, ';');
  // A check writes one entry per identity it records; a list far longer was
  // written by someone else, and each entry would cost a line of the report.
  if (tokens.size() > recorded.size() + most_unrecorded_entries) {
    throw session_error("the session lists " + std::to_string(tokens.size()) +
                        " processes but records who only " + std::to_string(recorded.size()) +
                        " of them are: it was not written by a check");
  }
  guard_result result;
  std::string guarded;
  for (const std::string_view token : tokens) {
    const auto pid = plain_decimal<pid_t>(token);
    const auto entry = pid ? recorded.find(*pid) : recorded.end();
    std::string kept = "-1";
    if (token == "-1") {
      // the plug-in skips it
    } else if (!pid || *pid <= 0) {
      result.skipped.push_back({std::nullopt, std::string(token), "", {why::not_a_process_id}});
    } else if (entry == recorded.end()) {
      result.skipped.push_back({pid, std::string(token), "", {why::not_seen_by_check}});
    } else {
      const proof proven = prove_again(entry->second, where);
      if (proven.handle) {
        kept = std::string(token);
        result.to_signal.push_back(entry->second);
      } else {
        result.skipped.push_back({pid, std::string(token), entry->second.command, proven.because});
      }
    }
    guarded += (guarded.empty() ? "" : ";") + kept;
  }
  session.values["RUNNING_PROC_LIST"] = guarded;
  return result;
}

}  // namespace corvane_host
