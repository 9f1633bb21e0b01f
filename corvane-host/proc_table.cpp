// SPDX-License-Identifier: MIT
#include "proc_table.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <vector>

#include "unique_fd.h"

namespace corvane_host {

file_text read_link_at(int dir_fd, const std::string& relative) {
  std::array<char, 4096> buffer;
  const ssize_t length = readlinkat(dir_fd, relative.c_str(), buffer.data(), buffer.size());
  if (length < 0) {
    return {{}, errno};
  }
  if (static_cast<std::size_t>(length) == buffer.size()) {
    return {{}, ENAMETOOLONG};  // longer than any path the kernel hands out
  }
  return {std::string(buffer.data(), static_cast<std::size_t>(length)), 0};
}

file_text read_file_at(int dir_fd, const std::string& relative) {
  const unique_fd fd(openat(dir_fd, relative.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) {
    return {{}, errno};
  }
  file_text file;
  std::array<char, 4096> buffer;
  for (;;) {
    const ssize_t n = read(fd.get(), buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      return {{}, errno};
    }
    if (n == 0) {
      return file;
    }
    file.text.append(buffer.data(), static_cast<std::size_t>(n));
  }
}

namespace {

// Reads /proc/PID/FILE and parses it; a read or parse failure of a process
// that has not gone is an error of its own.
template <typename Value, typename Parse>
proc_result<Value> read_parsed(pid_t pid, const char* file, Parse parse) {
  const file_text read = read_file_at(AT_FDCWD, "/proc/" + std::to_string(pid) + "/" + file);
  if (read.error == 0) {
    if (std::optional<Value> value = parse(read.text)) {
      return {std::move(value), 0};
    }
  }
  if (process_gone(pid)) {
    return {};
  }
  return {std::nullopt, read.error != 0 ? read.error : EBADMSG};
}

}  // namespace

bool process_gone(pid_t pid) { return kill(pid, 0) != 0 && errno == ESRCH; }

proc_result<stat_fields> read_stat(pid_t pid) {
  return read_parsed<stat_fields>(pid, "stat", parse_stat);
}

proc_result<process_status> read_status(pid_t pid) {
  return read_parsed<process_status>(pid, "status", parse_status);
}

proc_result<std::string> read_cgroup(pid_t pid) {
  return read_parsed<std::string>(
      pid, "cgroup", [](std::string_view text) { return std::optional(parse_cgroup(text)); });
}

std::string user_name(uid_t uid) {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    return found->pw_name;
  }
  return std::to_string(uid);
}

}  // namespace corvane_host
