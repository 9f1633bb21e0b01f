// SPDX-License-Identifier: MIT
#include "pid_guard.h"

#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <map>
#include <optional>
#include <string_view>

#include "proc_table.h"
#include "text.h"

namespace corvane_host {
namespace {

constexpr long pidfs_magic = 0x50494446;

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

unique_fd open_pidfd(pid_t pid) {
  return unique_fd(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
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

std::uint64_t pidfd_inode(int pidfd) {
  struct statfs file_system {};
  struct stat file {};
  if (fstatfs(pidfd, &file_system) != 0 || file_system.f_type != pidfs_magic ||
      fstat(pidfd, &file) != 0) {
    return 0;
  }
  return file.st_ino;
}

void record_identities(session_t& session, const proc_map_t& commands) {
  std::vector<process_identity> identities;
  for (const pid_t pid : recorded_ids(session)) {
    const unique_fd pidfd = pid > 0 ? open_pidfd(pid) : unique_fd();
    const auto stat = pidfd ? read_stat(pid).value : std::nullopt;
    const auto command = commands.find(pid);
    if (stat) {
      identities.push_back({pid, stat->start_time, pidfd_inode(pidfd.get()),
                            command != commands.end() ? command->second : std::string()});
    }
  }
  session.values[identities_key] = encode_identities(identities);
}

std::string encode_identities(const std::vector<process_identity>& identities) {
  std::string text;
  for (const process_identity& who : identities) {
    if (!text.empty()) {
      text += ';';
    }
    text += std::to_string(who.pid) + ":" + std::to_string(who.start_time) + ":" +
            std::to_string(who.inode) + ":" + hex_of(who.command);
  }
  return text;
}

std::vector<process_identity> decode_identities(const std::string& text) {
  std::vector<process_identity> identities;
  for (const std::string_view entry : split(text, ';')) {
    const std::vector<std::string_view> fields = split(entry, ':');
    if (fields.size() != 4) {
      continue;
    }
    const auto pid = plain_decimal<pid_t>(fields[0]);
    const auto start = plain_decimal<std::uint64_t>(fields[1]);
    const auto inode = plain_decimal<std::uint64_t>(fields[2]);
    auto command = from_hex(fields[3]);
    if (pid && start && inode && command) {
      identities.push_back({*pid, *start, *inode, std::move(*command)});
    }
  }
  return identities;
}

verified_pidfd open_verified(const process_identity& who) {
  // Pin the process first, then make sure the pinned one is the one recorded.
  verified_pidfd result{open_pidfd(who.pid), 0};
  if (!result.pidfd) {
    result.error = errno;
    return result;
  }
  const proc_result<stat_fields> stat = read_stat(who.pid);
  const bool same = stat.value && stat.value->start_time == who.start_time &&
                    (who.inode == 0 || pidfd_inode(result.pidfd.get()) == who.inode);
  if (!same) {
    result.error = stat.gone() ? ESRCH : stat.value ? ESTALE : stat.error;
    result.pidfd = unique_fd();
  }
  return result;
}

guard_result guard_recorded(session_t& session) {
  std::map<pid_t, process_identity> recorded;
  const std::string identities = value_of(session, identities_key);
  for (process_identity& who : decode_identities(identities)) {
    recorded.emplace(who.pid, std::move(who));
  }
  guard_result result;
  std::string guarded;
  const std::string list = value_of(session, "RUNNING_PROC_LIST");
  for (const std::string_view token : split(list, ';')) {
    const auto pid = plain_decimal<pid_t>(token);
    const auto who = pid ? recorded.find(*pid) : recorded.end();
    std::string kept = "-1";
    if (token == "-1") {
      // the plug-in skips it
    } else if (!pid || *pid <= 0) {
      result.skipped.push_back({std::string(token), "", "not a process ID"});
    } else if (who == recorded.end()) {
      result.skipped.push_back({std::string(token), "", "the check did not see it running"});
    } else {
      const verified_pidfd verified = open_verified(who->second);
      if (verified.error == ESRCH) {
        result.skipped.push_back({std::string(token), who->second.command, "it has ended", true});
      } else if (verified.error == ESTALE) {
        result.skipped.push_back(
            {std::string(token), who->second.command, "the ID now belongs to another process"});
      } else if (verified.error != 0) {
        result.skipped.push_back(
            {std::string(token), who->second.command,
             std::string("it cannot be verified: ") + std::strerror(verified.error)});
      } else {
        kept = std::string(token);
        result.to_signal.push_back(who->second);
      }
    }
    guarded += (guarded.empty() ? "" : ";") + kept;
  }
  session.values["RUNNING_PROC_LIST"] = guarded;
  return result;
}

}  // namespace corvane_host
