// SPDX-License-Identifier: MIT
#include "pid_guard.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <charconv>
#include <cstring>
#include <map>
#include <optional>
#include <string_view>

#include "proc_table.h"

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

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
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

std::map<pid_t, std::uint64_t> recorded_start_times(const session_t& session) {
  std::map<pid_t, std::uint64_t> times;
  const std::string text = value_of(session, start_times_key);
  for (const std::string_view entry : split(text, ';')) {
    const std::size_t colon = entry.find(':');
    if (colon == std::string_view::npos) {
      continue;
    }
    const auto pid = plain_decimal<pid_t>(entry.substr(0, colon));
    const auto start = plain_decimal<std::uint64_t>(entry.substr(colon + 1));
    if (pid && start) {
      times[*pid] = *start;
    }
  }
  return times;
}

unique_fd open_pidfd(pid_t pid) {
#ifdef SYS_pidfd_open
  return unique_fd(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
#else
  (void)pid;
  return unique_fd();
#endif
}

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

void record_start_times(session_t& session) {
  std::string times;
  for (const pid_t pid : recorded_ids(session)) {
    const auto stat = pid > 0 ? read_stat(pid).value : std::nullopt;
    if (!stat) {
      continue;
    }
    if (!times.empty()) {
      times += ';';
    }
    times += std::to_string(pid) + ":" + std::to_string(stat->start_time);
  }
  session.values[start_times_key] = times;
}

guard_result guard_recorded(session_t& session) {
  const std::map<pid_t, std::uint64_t> times = recorded_start_times(session);
  guard_result result;
  std::vector<std::string> guarded;
  const std::string recorded = value_of(session, "RUNNING_PROC_LIST");
  for (const std::string_view token : split(recorded, ';')) {
    const auto pid = plain_decimal<pid_t>(token);
    const auto timed = pid ? times.find(*pid) : times.end();
    const auto skip = [&](std::string reason) {
      result.skipped.push_back({std::string(token), std::move(reason)});
      guarded.emplace_back("-1");
    };
    if (token == "-1") {
      guarded.emplace_back("-1");
    } else if (!pid || *pid <= 0) {
      skip("not a process ID");
    } else if (timed == times.end()) {
      skip("the check did not see it running");
    } else {
      // Pin the process first, then make sure the pinned one is the one timed.
      unique_fd pidfd = open_pidfd(*pid);
      const proc_result<stat_fields> stat = read_stat(*pid);
      if (stat.gone()) {
        skip("it has ended");
      } else if (!stat.value) {
        skip("its start time cannot be read: " + std::string(std::strerror(stat.error)));
      } else if (stat.value->start_time != timed->second) {
        skip("the ID now belongs to another process");
      } else {
        guarded.emplace_back(token);
        result.to_signal.push_back({*pid, stat.value->start_time, std::move(pidfd)});
      }
    }
  }
  std::string list;
  for (const std::string& id : guarded) {
    if (!list.empty()) {
      list += ';';
    }
    list += id;
  }
  session.values["RUNNING_PROC_LIST"] = list;
  return result;
}

}  // namespace corvane_host
