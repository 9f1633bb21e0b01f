// SPDX-License-Identifier: MIT
#include "proc/proc_table.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <vector>

#include "base/kernel_file.h"
#include "base/unique_fd.h"

namespace corvane_host {

namespace {

// Reads FILE of a pinned process (one the kernel makes whole: status,
// cgroup) and parses it; a read or parse failure of a process that has not
// gone is an error of its own.
template <typename Value, typename Parse>
proc_result<Value> read_parsed(const process_handle& process, const char* file, Parse parse) {
  const file_text read = read_whole_file_at(process.proc_dir(), file);
  if (read.error == 0) {
    if (std::optional<Value> value = parse(read.text)) {
      return {std::move(value), 0};
    }
  }
  if (!process.verify()) {
    return {};
  }
  return {std::nullopt, read.error != 0 ? read.error : EBADMSG};
}

}  // namespace

std::string own_fd_path(int fd) {
  // This process's own descriptors: opened once, never changed after.
  static const unique_fd own_fds(open("/proc/self/fd", O_PATH | O_DIRECTORY | O_CLOEXEC));
  const std::string number = std::to_string(fd);
  return (own_fds ? read_link_at(own_fds.get(), number)
                  : read_link_at(AT_FDCWD, "/proc/self/fd/" + number))
      .text;
}

namespace {

void keep_facts(const struct statx& facts, reached_file& reached) {
  reached.facts.st_dev = makedev(facts.stx_dev_major, facts.stx_dev_minor);
  reached.facts.st_ino = facts.stx_ino;
  reached.facts.st_mode = facts.stx_mode;
  reached.facts.st_nlink = facts.stx_nlink;
}

}  // namespace

reached_file reach_at(int dir_fd, const std::string& link) {
  reached_file reached;
  const unique_fd file(openat(dir_fd, link.c_str(), O_PATH | O_CLOEXEC));
  struct statx facts {};
  if (!file ||
      statx(file.get(), "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, STATX_BASIC_STATS, &facts) != 0) {
    reached.error = errno;
    return reached;
  }
  keep_facts(facts, reached);
  reached.path = own_fd_path(file.get());
  return reached;
}

reached_file facts_at(int dir_fd, const char* link) {
  reached_file reached;
  struct statx facts {};
  if (statx(dir_fd, link, AT_STATX_DONT_SYNC, STATX_BASIC_STATS, &facts) != 0) {
    reached.error = errno;
    return reached;
  }
  keep_facts(facts, reached);
  return reached;
}

reached_file reach_executable(int dir_fd, const known_executable* known) {
  struct statx facts {};
  if (known != nullptr &&
      statx(dir_fd, "exe", AT_STATX_DONT_SYNC, STATX_BASIC_STATS | unique_mount_id, &facts) == 0 &&
      (facts.stx_mask & unique_mount_id) != 0 && facts.stx_mnt_id == known->mount &&
      file_id{makedev(facts.stx_dev_major, facts.stx_dev_minor),
              static_cast<ino_t>(facts.stx_ino)} == known->file) {
    reached_file reached;
    keep_facts(facts, reached);
    reached.path = known->name;
    return reached;
  }
  return reach_at(dir_fd, "exe");
}

void visit_open_files(const process_handle& process, std::size_t most,
                      const std::function<bool(const std::string&)>& wanted,
                      const std::function<bool(const open_file&)>& visit) {
  for (const std::string& fd : read_entries(process.proc_dir(), "fd", most)) {
    // The name first, which asks no file system; the file only when it is wanted.
    if (!wanted(read_link_at(process.proc_dir(), "fd/" + fd).text)) {
      continue;
    }
    reached_file file = reach_at(process.proc_dir(), "fd/" + fd);
    if (file.error == 0 && S_ISREG(file.facts.st_mode) && wanted(file.path) &&
        !visit({std::move(file.path), file.facts.st_dev, file.facts.st_ino, file.facts.st_nlink})) {
      return;
    }
  }
}

proc_result<process_status> read_status(const process_handle& process) {
  return read_parsed<process_status>(process, "status", parse_status);
}

proc_result<std::string> read_cgroup(const process_handle& process) {
  return read_parsed<std::string>(
      process, "cgroup", [](std::string_view text) { return std::optional(parse_cgroup(text)); });
}

bool sigterm_taken_at_once(const process_handle& process, const process_status& status) {
  if (!status.blocks_sigterm && status.state != 'Z') {
    return true;
  }
  const int dir = process.proc_dir();
  for (const std::string& task : read_entries(dir, "task", most_listed)) {
    const auto status = parse_status(read_file_at(dir, "task/" + task + "/status").text);
    if (!status || status->state == 'Z' || status->state == 'X') {
      continue;  // an exited thread takes no signal
    }
    // A thread waiting in sigwait() has the signals it waits for
    // unblocked while it waits, so it shows here too.
    if (!status->blocks_sigterm) {
      return true;
    }
  }
  const std::vector<std::string> fds = read_entries(dir, "fd", most_listed);
  return std::any_of(fds.begin(), fds.end(), [dir](const std::string& fd) {
    if (read_link_at(dir, "fd/" + fd).text != "anon_inode:[signalfd]") {
      return false;
    }
    const auto mask = parse_signalfd_mask(read_file_at(dir, "fdinfo/" + fd).text);
    return mask && (*mask & sigterm_bit) != 0;
  });
}

std::set<pid_t> this_host_and_its_callers(int proc_fd) {
  std::set<pid_t> family;
  for (pid_t pid = getpid(); pid > 0 && family.insert(pid).second;) {
    const pin_result pinned = process_handle::pin(pid, proc_fd);
    pid = pinned.handle ? pinned.handle->stat().parent : 0;
  }
  return family;
}

std::optional<parent_process> read_parent(const process_handle& child, int proc_fd) {
  const pin_result pinned = process_handle::pin(child.stat().parent, proc_fd);
  // A parent started before its child: a later start is another process under a reused ID.
  if (!pinned.handle || pinned.handle->identity().start_time > child.identity().start_time) {
    return std::nullopt;
  }
  const process_handle& parent = *pinned.handle;
  std::string name = read_whole_file_at(parent.proc_dir(), "comm").text;
  if (!name.empty() && name.back() == '\n') {
    name.pop_back();
  }
  const proc_result<process_status> status = read_status(parent);
  if (!status.value || !parent.verify()) {
    return std::nullopt;
  }
  return parent_process{parent.identity(), std::move(name), status.value->namespace_init};
}

namespace_members members_of_namespace(const process_handle& process, int proc_fd,
                                       std::size_t most) {
  const file_text own = read_link_at(process.proc_dir(), "ns/pid");
  if (own.error != 0) {
    return {0, false};
  }
  const std::vector<std::string> entries = read_entries(proc_fd, ".", most + 1);
  namespace_members members{0, entries.size() <= most};
  const std::string self = std::to_string(process.identity().pid);
  for (std::size_t i = 0; i < std::min(entries.size(), most); ++i) {
    const std::string& entry = entries[i];
    if (entry == self || entry.find_first_not_of("0123456789") != std::string::npos) {
      continue;  // itself, and what is no process ("self", "sys", ...)
    }
    const file_text other = read_link_at(proc_fd, entry + "/ns/pid");
    if (other.error == 0) {
      members.count += other.text == own.text ? 1 : 0;
    } else if (other.error != ENOENT && other.error != ESRCH) {
      members.complete = false;  // not a process that has gone: one this caller may not see
    }
  }
  return members;
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
