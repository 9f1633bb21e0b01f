// SPDX-License-Identifier: MIT
#include "evidence/process_scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <memory>
#include <set>
#include <stdexcept>
#include <unordered_map>

#include "base/failure.h"
#include "base/reasons.h"
#include "base/unique_fd.h"
#include "evidence/examine_in_time.h"
#include "evidence/interpreters.h"
#include "proc/proc_parse.h"
#include "proc/proc_table.h"

namespace corvane_host {
namespace {

std::optional<pid_t> pid_of_name(std::string_view name) {
  pid_t pid = 0;
  const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
  if (error != std::errc{} || end != name.data() + name.size() || pid <= 0) {
    return std::nullopt;
  }
  return pid;
}

// The installation's files that the process maps or holds open, known by
// device and inode, so a bind mount's or a hard link's name counts too. Only
// those are kept, each once, whatever else the process maps or opens.
// Whether it maps one executable is told in `runs_code`.
std::vector<std::string> files_used(const process_handle& process, const installation& where,
                                    bool& runs_code) {
  const int dir = process.proc_dir();
  std::vector<std::string> used;
  std::set<std::string> seen;
  const auto keep = [&](const std::string& path, const file_id& id) {
    const std::string* file =
        id.device == where.directory_id.device ? where.files->find(id) : nullptr;
    const bool kept = file != nullptr || lies_inside(path, where);
    if (kept && seen.insert(path).second) {
      used.push_back(path);
    }
    return kept;
  };
  for (const mapped_file& file :
       parse_maps_files(read_file_at(dir, "maps", most_maps_bytes).text)) {
    runs_code |=
        keep(file.path, {makedev(file.major, file.minor), static_cast<ino_t>(file.inode)}) &&
        file.executable;
  }
  visit_open_files(
      process, most_listed,
      [](const std::string& path) { return !path.empty() && path.front() == '/'; },
      [&keep](const open_file& file) {
        keep(file.path, {file.device, file.inode});
        return true;
      });
  return used;
}

// Whether the process that has this ID now is a kernel thread, read without
// a pin: it can only lead to passing it over.
bool kernel_thread(int proc_fd, const std::string& pid) {
  const std::optional<stat_fields> fields =
      parse_stat(read_line_file_at(proc_fd, pid + "/stat").text);
  return fields && fields->kernel_thread();
}

// Whether programs of a name are interpreters, asked once a name: a table
// runs a few programs many times over.
class interpreter_names {
 public:
  bool operator()(const std::string& program) {
    const auto [known, added] = interpreters_.try_emplace(program, false);
    if (added) {
      known->second = is_interpreter(program);
    }
    return known->second;
  }

 private:
  std::unordered_map<std::string, bool> interpreters_;
};

// What a glance at a process's executable, without a pin, shows.
enum class glance {
  passed_over,   // it cannot run the installation's code, or runs no program
  examined,      // it is pinned and examined
  named_inside,  // examined, its executable's name lying inside the installation
};

// A process is passed over when its executable alone shows that it cannot
// run the installation's code: a file elsewhere, that no link of the
// installation leads to, and no interpreter; or it is a kernel thread.
// Passing over acts on nothing, so it needs no pin; every other process is
// pinned and examined. Two system calls, where an examination takes some
// twenty; one where the name alone shows that it is to be examined (an
// interpreter, a path inside). A deleted file's name lies inside when its
// last path did, so its link count adds nothing here.
glance glance_at(int proc_fd, const std::string& pid, const installation& where,
                 interpreter_names& interpreter) {
  const std::string link = pid + "/exe";
  const file_text name = read_link_at(proc_fd, link);
  if (name.error == 0 && lies_inside(name.text, where)) {
    return glance::named_inside;
  }
  if (name.error == 0 && interpreter(name.text.substr(name.text.rfind('/') + 1))) {
    return glance::examined;
  }
  struct statx file {};
  if (name.error != 0 || statx(proc_fd, link.c_str(), AT_STATX_DONT_SYNC, STATX_INO, &file) != 0) {
    // A kernel thread runs no program; a zombie, a process whose main thread
    // has exited or one this host may not look at is examined.
    return kernel_thread(proc_fd, pid) ? glance::passed_over : glance::examined;
  }
  const file_id id{makedev(file.stx_dev_major, file.stx_dev_minor),
                   static_cast<ino_t>(file.stx_ino)};
  // An inode number of the installation on another device may be an
  // overlay's view of its file.
  return where.files->is_link_target(id) ||
                 where.files->find({where.directory_id.device, id.inode}) != nullptr
             ? glance::examined
             : glance::passed_over;
}

// How many pins a scan keeps (two descriptors each): an eighth of the limit,
// the rest left to what follows it.
std::size_t held_at_most() {
  rlimit limit{};
  const rlim_t files = getrlimit(RLIMIT_NOFILE, &limit) == 0 ? limit.rlim_cur : 0;
  return static_cast<std::size_t>(std::min<rlim_t>(files, 1U << 20) / 8);
}

// Why the /proc in use hides processes from this caller, if it does.
std::string hidden_processes(int proc_fd) {
  // The mount read, by its ID: another /proc may be mounted over the first.
  struct statx mount {};
  const std::uint64_t mount_id = statx(proc_fd, "", AT_EMPTY_PATH, STATX_MNT_ID, &mount) == 0 &&
                                         (mount.stx_mask & STATX_MNT_ID)
                                     ? mount.stx_mnt_id
                                     : 0;
  const auto hidden = proc_hides_processes(read_file_at(proc_fd, "self/mountinfo").text, mount_id);
  if (!hidden || geteuid() == 0 ||
      (hidden->gid && (getegid() == *hidden->gid || group_member(*hidden->gid) != 0))) {
    return {};
  }
  return "this /proc hides other users' processes (hidepid=" + hidden->mode + ")";
}

}  // namespace

installation_scan scan_installation(int proc_fd, const installation& where, bool files_in_use) {
  const int listing = openat(proc_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const unique_dir proc(listing < 0 ? nullptr : fdopendir(listing));
  if (!proc) {
    if (listing >= 0) {
      close(listing);
    }
    throw failure(failure_kind::system, std::string("cannot read /proc: ") + std::strerror(errno));
  }
  const std::set<pid_t> family = this_host_and_its_callers(proc_fd);
  const std::size_t most_held = held_at_most();
  interpreter_names interpreter;
  installation_scan scan;
  scan.hidden = hidden_processes(proc_fd);
  while (const dirent* entry = readdir(proc.get())) {
    const std::optional<pid_t> pid = pid_of_name(entry->d_name);
    if (!pid) {
      continue;
    }
    const glance glanced =
        files_in_use ? glance::examined : glance_at(proc_fd, entry->d_name, where, interpreter);
    if (glanced == glance::passed_over) {
      continue;
    }
    // Look first: what is read below is one process's, or the read fails.
    // The few decided on are pinned by reading their stat, and the pin is
    // verified before anything is decided.
    pin_result looked = process_handle::look_at(*pid, proc_fd);
    if (!looked.handle) {
      if (looked.error != ESRCH) {
        ++scan.uninspected[std::strerror(looked.error)];
      }
      continue;
    }
    process_handle& process = *looked.handle;
    std::optional<evidence> examined =
        examine_in_time(process, where, glanced == glance::named_inside);
    if (!examined) {
      if (family.count(*pid) == 0) {
        ++scan.uninspected[words_of(reason{why::file_system_stalled})];
      }
      continue;
    }
    evidence& found = *examined;
    if (!found.file && found.unreadable == 0 && !found.unproven && !files_in_use) {
      continue;  // nothing to decide on: most processes
    }
    // Its stat holds the start time, and tells a process without a program
    // apart: kernel threads, processes that have ended, and those whose exit
    // has let go of their memory run none; none of them is left to inspect.
    // (A leader whose main thread exited shows "Z" while its others run, and
    // its executable was looked for through them.)
    const int stat_error = process.read_stat();
    if (found.unreadable != 0 && stat_error == 0 &&
        (process.stat().kernel_thread() || (process.stat().state == 'Z' && process.ended()) ||
         (found.unreadable == ENOENT && process.stat().exiting()))) {
      continue;
    }
    // Decided on what was read: it counts only if the pin held throughout,
    // and a process that ended meanwhile runs nothing any more. One of the
    // installation's that ended while it was looked at is counted: a program
    // that forks and ends over and over could slip through otherwise.
    if (stat_error == ESRCH || (process.pidfd() >= 0 && !process.running())) {
      if (found.file && family.count(*pid) == 0) {
        ++scan.uninspected["it ended while it was inspected"];
      }
      continue;
    }
    if (stat_error != 0) {
      ++scan.uninspected[std::strerror(stat_error)];
      continue;
    }
    if (found.unreadable != 0 || found.unproven) {
      if (family.count(*pid) == 0) {
        ++scan.uninspected[found.unreadable != 0
                               ? std::strerror(found.unreadable)
                               : std::string("not proven: ") + words_of(*found.unproven)];
      }
      continue;
    }
    if (!found.file) {
      if (files_in_use && *pid != getpid()) {
        bool runs_code = false;
        std::vector<std::string> used = files_used(process, where, runs_code);
        if (!used.empty()) {
          scan.using_files.push_back({*pid, found.kernel_name, std::move(used), runs_code});
        }
      }
    } else if (family.count(*pid) != 0) {
      scan.spared.push_back(
          {*pid, std::move(*found.file),
           *pid == getpid() ? "it is this corvane-host" : "it called this corvane-host"});
    } else {
      if (!found.kernel_name.empty() && found.kernel_name != *found.file) {
        scan.names.emplace_hint(scan.names.end(), *pid, found.kernel_name);
      }
      scan.identities.emplace_hint(scan.identities.end(), *pid, process.identity());
      scan.ours.emplace_hint(scan.ours.end(), *pid, std::move(*found.file));
      if (scan.held.size() < most_held) {
        scan.held.emplace_hint(scan.held.end(), *pid, std::move(process));
      }
    }
  }
  return scan;
}

void ensure_own_proc(int proc_fd) {
  const file_text self = read_link_at(proc_fd, "self");
  if (self.error != 0 || self.text != std::to_string(getpid())) {
    throw failure(
        failure_kind::system,
        "the /proc mounted here is not this pid namespace's: the process IDs read there would "
        "not be the IDs this host signals");
  }
}

}  // namespace corvane_host
