// SPDX-License-Identifier: MIT
#include "ending/pid_guard.h"

#include <cerrno>
#include <cstring>
#include <set>
#include <string_view>

#include "evidence/examine_in_time.h"
#include "proc/proc_table.h"

namespace corvane_host {
namespace {

// Entries of the list beyond the recorded identities that are still read
// (an installer may add a few of its own).
constexpr std::size_t most_unrecorded_entries = 64;

}  // namespace

std::vector<recorded_process> record_identities(const std::vector<pid_t>& ids,
                                                const std::map<pid_t, process_identity>& identities,
                                                const std::map<pid_t, std::string>& commands) {
  std::vector<recorded_process> recorded;
  for (const pid_t pid : ids) {
    const auto who = identities.find(pid);
    const auto command = commands.find(pid);
    if (who != identities.end() && command != commands.end()) {
      recorded.push_back({who->second, command->second});
    }
  }
  return recorded;
}

proof prove_again(const recorded_process& recorded, const installation& where, int proc_fd) {
  pin_result pinned = process_handle::pin(recorded.who, proc_fd);
  if (!pinned.handle) {
    return {std::nullopt, reason_of_error(pinned.error), {}};
  }
  const std::optional<evidence> examined = examine_in_time(*pinned.handle, where);
  if (!examined) {
    return {std::nullopt, {why::file_system_stalled}, {}};
  }
  const evidence& found = *examined;
  const process_handle& process = *pinned.handle;
  if (process.ended() || !process.verify()) {
    return {std::nullopt, {why::has_ended}, {}};
  }
  // What it runs now decides, not the file recorded: a launcher that has
  // handed over to another program of the installation is still its own.
  // Partway through its exit, its memory let go: it runs nothing any more.
  if (!found.file && found.unreadable == ENOENT && pinned.handle->read_stat() == 0 &&
      pinned.handle->stat().exiting()) {
    return {std::nullopt, {why::is_ending}, {}};
  }
  if (!found.file) {
    return {std::nullopt,
            found.unreadable != 0 ? reason{why::system_error, found.unreadable}
                                  : reason{why::no_installation_file},
            {}};
  }
  return {std::move(pinned.handle), {}, std::move(*found.file)};
}

guard_result guard_recorded(const session_records& records, const installation& where,
                            int proc_fd) {
  std::map<pid_t, const recorded_process*> recorded;
  for (const recorded_process& entry : records.identities) {
    recorded.emplace(entry.who.pid, &entry);  // the first of one ID stands
  }
  // A check writes one entry per identity it records; a list far longer was
  // written by someone else, and each entry would cost a line of the report.
  if (records.list.size() > recorded.size() + most_unrecorded_entries) {
    throw session_error("the session lists " + std::to_string(records.list.size()) +
                        " processes but records who only " + std::to_string(recorded.size()) +
                        " of them are: it was not written by a check");
  }
  guard_result result;
  const std::set<pid_t> family = this_host_and_its_callers(proc_fd);
  std::set<pid_t> seen;  // a process listed again is looked at, and signalled, once
  for (const auto& [token, pid] : records.list) {
    const auto entry = pid ? recorded.find(*pid) : recorded.end();
    std::string_view kept = "-1";
    if (token == "-1" || (pid && !seen.insert(*pid).second)) {
      // the plug-in skips it
    } else if (!pid || *pid <= 0) {
      result.skipped.push_back({std::nullopt, token, "", {why::not_a_process_id}});
    } else if (family.count(*pid) != 0) {
      const std::string command = entry != recorded.end() ? entry->second->command : "";
      result.skipped.push_back({pid, token, command, {why::this_host_or_a_caller}});
    } else if (entry == recorded.end()) {
      result.skipped.push_back({pid, token, "", {why::not_seen_by_check}});
    } else {
      proof proven = prove_again(*entry->second, where, proc_fd);
      if (proven.handle) {
        kept = token;
        result.to_signal.push_back({entry->second->who, std::move(proven.runs)});
      } else {
        result.skipped.push_back({pid, token, entry->second->command, proven.because});
      }
    }
    if (!result.list.empty()) {
      result.list += ';';
    }
    result.list += kept;
  }
  return result;
}

}  // namespace corvane_host
