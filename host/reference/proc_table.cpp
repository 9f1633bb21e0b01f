#include "proc_table.h"

#include "unique_fd.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <fstream>
#include <memory>
#include <sstream>
#include <string_view>
#include <vector>

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

constexpr std::string_view deleted_mark = " (deleted)";

// The executable's path, read with one readlinkat() in the common case.
std::optional<std::string> read_exe(int proc_fd, const std::string& entry) {
  const std::string link = entry + "/exe";
  std::array<char, 4096> buffer;
  const ssize_t length = readlinkat(proc_fd, link.c_str(), buffer.data(), buffer.size());
  if (length <= 0) {
    return std::nullopt;
  }
  std::string_view target(buffer.data(), static_cast<std::size_t>(length));
  if (static_cast<std::size_t>(length) == buffer.size()) {
    return std::nullopt;  // longer than any path the kernel hands out
  }
  if (target.size() > deleted_mark.size() &&
      target.substr(target.size() - deleted_mark.size()) == deleted_mark) {
    target.remove_suffix(deleted_mark.size());
  }
  return std::string(target);
}

std::string read_small_file(int proc_fd, const std::string& relative) {
  const unique_fd fd(openat(proc_fd, relative.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) {
    return {};
  }
  std::string text;
  std::array<char, 4096> buffer;
  for (;;) {
    const ssize_t n = read(fd.get(), buffer.data(), buffer.size());
    if (n <= 0) {
      break;
    }
    text.append(buffer.data(), static_cast<std::size_t>(n));
  }
  return text;
}

// For processes whose executable this user may not see, and kernel threads.
std::optional<std::string> command_without_exe(int proc_fd, const std::string& entry) {
  std::string cmdline = read_small_file(proc_fd, entry + "/cmdline");
  cmdline.resize(std::string_view(cmdline.c_str()).size());  // first element only
  if (!cmdline.empty()) {
    return cmdline;
  }
  std::string comm = read_small_file(proc_fd, entry + "/comm");
  if (comm.empty()) {
    return std::nullopt;  // gone
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
    std::optional<std::string> command = read_exe(proc_fd, entry->d_name);
    if (!command) {
      command = command_without_exe(proc_fd, entry->d_name);
    }
    if (command) {
      processes.emplace_hint(processes.end(), *pid, std::move(*command));
    }
  }
  return processes;
}

std::optional<std::uint64_t> start_time(pid_t pid) {
  const std::string stat = read_small_file(AT_FDCWD, "/proc/" + std::to_string(pid) + "/stat");
  // The command name in parentheses may hold anything; the fields follow its last ")".
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos) {
    return std::nullopt;
  }
  std::istringstream fields(stat.substr(close + 1));
  std::string field;
  for (int index = 3; index <= 22 && fields >> field; ++index) {
    if (index == 22) {
      std::uint64_t ticks = 0;
      const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), ticks);
      if (error == std::errc{}) {
        return ticks;
      }
    }
  }
  return std::nullopt;
}

std::optional<process_status> read_status(pid_t pid) {
  const std::string text = read_small_file(AT_FDCWD, "/proc/" + std::to_string(pid) + "/status");
  if (text.empty()) {
    return std::nullopt;
  }
  const std::uint64_t sigterm_bit = std::uint64_t{1} << (SIGTERM - 1);
  process_status status;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string name;
    words >> name;
    if (name == "State:") {
      words >> status.state;
    } else if (name == "SigIgn:" || name == "SigBlk:") {
      std::uint64_t mask = 0;
      words >> std::hex >> mask;
      (name == "SigIgn:" ? status.ignores_sigterm : status.blocks_sigterm) =
          (mask & sigterm_bit) != 0;
    } else if (name == "Uid:") {
      uid_t effective = 0;
      words >> status.real_uid >> effective >> status.saved_uid;
    }
  }
  return status;
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
