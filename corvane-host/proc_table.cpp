// SPDX-License-Identifier: MIT
#include "proc_table.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "unique_fd.h"

namespace corvane_host {
namespace {

std::optional<int> pid_of_name(std::string_view name) {
  int pid = 0;
  const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
  if (error != std::errc{} || end != name.data() + name.size() || pid <= 0) {
    return std::nullopt;
  }
  return pid;
}

// The text of a file, or the errno that stopped the read.
struct file_text {
  std::string text;
  int error = 0;
};

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

// For processes whose executable this user may not see, and kernel threads.
std::optional<std::string> command_without_exe(int proc_fd, const std::string& entry) {
  const std::vector<std::string> arguments =
      parse_cmdline(read_file_at(proc_fd, entry + "/cmdline").text);
  if (!arguments.empty() && !arguments.front().empty()) {
    return arguments.front();
  }
  std::string comm = read_file_at(proc_fd, entry + "/comm").text;
  if (comm.empty()) {
    return std::nullopt;
  }
  if (comm.back() == '\n') {
    comm.pop_back();
  }
  return "[" + comm + "]";
}

struct dir_closer {
  void operator()(DIR* dir) const { closedir(dir); }
};

}  // namespace

bool process_gone(pid_t pid) { return kill(pid, 0) != 0 && errno == ESRCH; }

proc_map_t scan_processes() {
  const std::unique_ptr<DIR, dir_closer> proc(opendir("/proc"));
  if (!proc) {
    throw std::runtime_error("cannot read /proc");
  }
  const int proc_fd = dirfd(proc.get());
  proc_map_t processes;
  while (const dirent* entry = readdir(proc.get())) {
    const std::optional<int> pid = pid_of_name(entry->d_name);
    if (!pid) {
      continue;
    }
    const file_text exe = read_link_at(proc_fd, std::string(entry->d_name) + "/exe");
    std::optional<std::string> command;
    if (exe.error == 0 && !exe.text.empty()) {
      command = parse_exe_link(exe.text).path;
    } else if (!process_gone(*pid)) {
      command = command_without_exe(proc_fd, entry->d_name);
    }
    if (command) {
      processes.emplace_hint(processes.end(), *pid, std::move(*command));
    }
  }
  return processes;
}

proc_result<stat_fields> read_stat(pid_t pid) {
  return read_parsed<stat_fields>(pid, "stat", parse_stat);
}

proc_result<process_status> read_status(pid_t pid) {
  return read_parsed<process_status>(pid, "status", parse_status);
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
