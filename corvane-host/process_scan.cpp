// SPDX-License-Identifier: MIT
#include "process_scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>

#include "interpreters.h"
#include "proc_parse.h"
#include "proc_table.h"
#include "unique_fd.h"

namespace corvane_host {
namespace {

struct dir_closer {
  void operator()(DIR* dir) const { closedir(dir); }
};
using directory = std::unique_ptr<DIR, dir_closer>;

std::optional<pid_t> pid_of_name(std::string_view name) {
  pid_t pid = 0;
  const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
  if (error != std::errc{} || end != name.data() + name.size() || pid <= 0) {
    return std::nullopt;
  }
  return pid;
}

std::string proc_path(pid_t pid, const char* entry) {
  return "/proc/" + std::to_string(pid) + "/" + entry;
}

// The exe link of a process, and the link it was read through: a process
// whose main thread has exited still runs in its other threads, and its
// executable is then reached through one of them.
struct executable_link {
  file_text target;
  std::string link = "exe";  // relative to /proc/PID
};

executable_link executable_of(int proc_fd, pid_t pid) {
  executable_link exe{read_link_at(proc_fd, std::to_string(pid) + "/exe")};
  if (exe.target.error != ENOENT) {
    return exe;
  }
  const directory tasks(opendir(proc_path(pid, "task").c_str()));
  while (tasks && exe.target.error != 0) {
    const dirent* task = readdir(tasks.get());
    if (task == nullptr) {
      break;
    }
    const auto tid = pid_of_name(task->d_name);
    const std::string link = std::string("task/") + task->d_name + "/exe";
    file_text thread_exe = tid && *tid != pid
                               ? read_link_at(proc_fd, std::to_string(pid) + "/" + link)
                               : file_text{{}, ENOENT};
    if (thread_exe.error == 0) {
      exe = {std::move(thread_exe), link};
    }
  }
  return exe;
}

// This host and every process above it: never recorded, never signalled.
std::set<pid_t> this_host_and_its_callers() {
  std::set<pid_t> family;
  for (pid_t pid = getpid(); pid > 0 && family.insert(pid).second;) {
    const auto stat = read_stat(pid).value;
    pid = stat ? stat->parent : 0;
  }
  return family;
}

// The executable `target` names is the installation's file when the process
// runs that very file (as root, /proc/PID/exe reaches it across mount
// namespaces). A file deleted or replaced since, as upgrades do, is the
// installation's when the process runs in this host's root and on the
// installation's file system: a container's look-alike is in neither.
bool runs_installation_file(pid_t pid, const std::string& exe_link, const exe_target& target,
                            const installation& where) {
  const auto running = id_of(proc_path(pid, exe_link.c_str()));
  if (!running) {
    return false;
  }
  if (!target.deleted) {
    return id_of(target.path) == running;
  }
  return id_of(proc_path(pid, "root")) == where.host_root &&
         running->device == where.directory_id.device;
}

unique_fd open_in_root(int root_fd, const std::string& path) {
  open_how how{};
  how.flags = O_PATH | O_CLOEXEC;
  how.resolve = RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS;
  return unique_fd(static_cast<int>(syscall(SYS_openat2, root_fd, path.c_str(), &how, sizeof how)));
}

// The file an interpreter runs, resolved inside the process's own root (its
// arguments are its own words: a crafted link must not lead outside it), then
// held to the same-file test as an executable.
std::optional<std::string> script_file(pid_t pid, const std::string& interpreter,
                                       const installation& where) {
  const auto script = script_argument(
      interpreter, parse_cmdline(read_file_at(AT_FDCWD, proc_path(pid, "cmdline")).text));
  if (!script) {
    return std::nullopt;
  }
  std::string path = *script;
  if (path.front() != '/') {
    const file_text cwd = read_link_at(AT_FDCWD, proc_path(pid, "cwd"));
    if (cwd.error != 0) {
      return std::nullopt;
    }
    path = cwd.text + "/" + path;
  }
  const unique_fd root(open(proc_path(pid, "root").c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  const unique_fd file = root ? open_in_root(root.get(), path) : unique_fd();
  if (!file) {
    return std::nullopt;
  }
  const file_text seen_here = read_link_at(AT_FDCWD, "/proc/self/fd/" + std::to_string(file.get()));
  if (seen_here.error != 0 || !lies_inside(seen_here.text, where)) {
    return std::nullopt;
  }
  const auto opened = id_of(file.get());
  return opened && id_of(seen_here.text) == opened ? std::optional(seen_here.text) : std::nullopt;
}

std::string file_name_of(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// The installation's files that `pid` maps or holds open.
std::vector<std::string> files_used(pid_t pid, const installation& where) {
  std::vector<std::string> used;
  for (std::string& file : parse_maps_files(read_file_at(AT_FDCWD, proc_path(pid, "maps")).text)) {
    if (lies_inside(file, where)) {
      used.push_back(std::move(file));
    }
  }
  const directory fds(opendir(proc_path(pid, "fd").c_str()));
  while (fds) {
    const dirent* fd = readdir(fds.get());
    if (fd == nullptr) {
      break;
    }
    if (fd->d_name[0] == '.') {
      continue;
    }
    file_text file = read_link_at(dirfd(fds.get()), fd->d_name);
    std::string path = parse_exe_link(file.text).path;
    if (file.error == 0 && lies_inside(path, where) &&
        std::find(used.begin(), used.end(), path) == used.end()) {
      used.push_back(std::move(path));
    }
  }
  return used;
}

}  // namespace

installation_scan scan_installation(const installation& where, bool files_in_use) {
  const directory proc(opendir("/proc"));
  if (!proc) {
    throw std::runtime_error(std::string("cannot read /proc: ") + std::strerror(errno));
  }
  const int proc_fd = dirfd(proc.get());
  const std::set<pid_t> family = this_host_and_its_callers();
  installation_scan scan;
  while (const dirent* entry = readdir(proc.get())) {
    const std::optional<pid_t> pid = pid_of_name(entry->d_name);
    if (!pid) {
      continue;
    }
    const executable_link executable = executable_of(proc_fd, *pid);
    const file_text& exe = executable.target;
    if (exe.error != 0) {
      const auto stat = read_stat(*pid).value;
      const bool runs_no_program = !stat || stat->kernel_thread() || stat->state == 'Z';
      if (!runs_no_program && !process_gone(*pid) && family.count(*pid) == 0) {
        ++scan.uninspected[std::strerror(exe.error)];
      }
      continue;
    }
    const exe_target target = parse_exe_link(exe.text);
    std::optional<std::string> file;
    if (lies_inside(target.path, where)) {
      if (runs_installation_file(*pid, executable.link, target, where)) {
        file = target.path;
      }
    } else if (is_interpreter(file_name_of(target.path))) {
      file = script_file(*pid, file_name_of(target.path), where);
    }
    if (!file) {
      if (files_in_use && *pid != getpid()) {
        std::vector<std::string> used = files_used(*pid, where);
        if (!used.empty()) {
          scan.using_files.push_back({*pid, target.path, std::move(used)});
        }
      }
    } else if (family.count(*pid) != 0) {
      scan.spared.push_back(
          {*pid, std::move(*file),
           *pid == getpid() ? "it is this corvane-host" : "it called this corvane-host"});
    } else {
      scan.ours.emplace_hint(scan.ours.end(), *pid, std::move(*file));
    }
  }
  return scan;
}

void ensure_own_proc() {
  const file_text self = read_link_at(AT_FDCWD, "/proc/self");
  if (self.error != 0 || self.text != std::to_string(getpid())) {
    throw std::runtime_error(
        "the /proc mounted here is not this pid namespace's: the process IDs read there would "
        "not be the IDs this host signals");
  }
}

}  // namespace corvane_host
