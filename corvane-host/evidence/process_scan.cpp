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
#include "base/text.h"
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

// What the executable's name and identity show: passed over is a file
// elsewhere, that no link of the installation leads to, and no interpreter.
// A deleted file's name lies inside when its last path did, so its link
// count adds nothing here; an interpreter an upgrade replaced while it runs
// is still one.
glance judge_executable(const std::string& name, const file_id& id, const installation& where,
                        interpreter_names& interpreter) {
  if (lies_inside(name, where)) {
    return glance::named_inside;
  }
  const std::string program = parse_exe_link(name.substr(name.rfind('/') + 1)).path;
  if (interpreter(program)) {
    return glance::examined;
  }
  // An inode number of the installation on another device may be an
  // overlay's view of its file.
  return where.files->is_link_target(id) ||
                 where.files->find({where.directory_id.device, id.inode}) != nullptr
             ? glance::examined
             : glance::passed_over;
}

struct executable_key {
  std::uint64_t mount;
  file_id file;
  bool operator==(const executable_key& other) const {
    return mount == other.mount && file == other.file;
  }
};
struct executable_key_hash {
  std::size_t operator()(const executable_key& key) const {
    return file_id_hash()(key.file) ^ std::hash<std::uint64_t>()(key.mount);
  }
};

// What glances found, by executable: a table runs a few programs many
// times over. The kernel's name for a file with one link, on one mount, is
// the same whichever process runs it, so one look at the name serves all;
// a file with more links, or one unlinked, may be named otherwise by each.
class executable_glances {
 public:
  explicit executable_glances(const installation& where) : where_(where) {}

  // `known`, where the glance knows it: what the process runs, for its examination.
  glance operator()(int proc_fd, const std::string& pid, std::optional<known_executable>& known) {
    const std::string link = pid + "/exe";
    struct statx file {};
    if (statx(proc_fd, link.c_str(), AT_STATX_DONT_SYNC, STATX_INO | STATX_NLINK | unique_mount_id,
              &file) != 0) {
      // A kernel thread runs no program; a zombie, a process whose main
      // thread has exited or one this host may not look at is examined.
      return kernel_thread(proc_fd, pid) ? glance::passed_over : glance::examined;
    }
    if (const std::optional<executable_key> key = key_of(file)) {
      const auto seen = glances_.find(*key);
      if (seen == glances_.end()) {
        return first_glance(proc_fd, link, known);
      }
      if (seen->second.glanced != glance::passed_over) {
        known = known_executable{key->mount, key->file, seen->second.name};
      }
      return seen->second.glanced;
    }
    // A name read apart from the facts may be another program's: it judges
    // the glance only, and the examination reads both through one handle.
    const file_text name = read_link_at(proc_fd, link);
    if (name.error != 0) {
      return kernel_thread(proc_fd, pid) ? glance::passed_over : glance::examined;
    }
    return judge_executable(name.text, id_of_facts(file), where_, interpreter_);
  }

 private:
  struct seen_executable {
    glance glanced;
    std::string name;
  };

  static file_id id_of_facts(const struct statx& file) {
    return {makedev(file.stx_dev_major, file.stx_dev_minor), static_cast<ino_t>(file.stx_ino)};
  }
  static std::optional<executable_key> key_of(const struct statx& file) {
    if (file.stx_nlink != 1 || (file.stx_mask & unique_mount_id) == 0) {
      return std::nullopt;
    }
    return executable_key{file.stx_mnt_id, id_of_facts(file)};
  }

  // The name and the identity read through one handle, so that an exec
  // between the two cannot pair one program's name with another's file.
  glance first_glance(int proc_fd, const std::string& link,
                      std::optional<known_executable>& known) {
    const unique_fd exe(openat(proc_fd, link.c_str(), O_PATH | O_CLOEXEC));
    struct statx file {};
    if (!exe || statx(exe.get(), "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC,
                      STATX_INO | STATX_NLINK | unique_mount_id, &file) != 0) {
      return glance::examined;  // it changed meanwhile: no glance decides
    }
    std::string name = own_fd_path(exe.get());
    if (name.empty()) {
      return glance::examined;  // a path longer than the kernel's link text
    }
    const glance glanced = judge_executable(name, id_of_facts(file), where_, interpreter_);
    if (const std::optional<executable_key> key = key_of(file);
        key && !ends_with(name, std::string(deleted_mark))) {
      if (glanced != glance::passed_over) {
        known = known_executable{key->mount, key->file, name};
      }
      if (glances_.size() < most_kept) {
        glances_.emplace(*key, seen_executable{glanced, std::move(name)});
      }
    }
    return glanced;
  }

  // Far more programs than a real table runs, each a name no longer than a
  // path: what a user who starts many copies can make it keep.
  static constexpr std::size_t most_kept = 4096;

  const installation& where_;
  interpreter_names interpreter_;
  std::unordered_map<executable_key, seen_executable, executable_key_hash> glances_;
};

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
                                         (mount.stx_mask & STATX_MNT_ID) != 0
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

namespace {

// What a scan keeps between its processes.
struct scan_state {
  const installation& where;
  bool files_in_use;
  std::set<pid_t> family;
  std::size_t most_held;
  installation_scan result;
};

// Decides on one examined process: what was read counts only if the pin held throughout.
void decide(scan_state& state, pid_t pid, examination& examined) {
  installation_scan& scan = state.result;
  process_handle& process = examined.process;
  const bool files_in_use = state.files_in_use;
  const bool family = state.family.count(pid) != 0;
  if (!examined.in_time) {
    if (!family) {
      ++scan.uninspected[words_of(reason{why::file_system_stalled})];
    }
    return;
  }
  evidence& found = examined.found;
  if (!found.file && found.unreadable == 0 && !found.unproven && !files_in_use) {
    return;  // nothing to decide on: most processes
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
    return;
  }
  // Decided on what was read: it counts only if the pin held throughout,
  // and a process that ended meanwhile runs nothing any more. One of the
  // installation's that ended while it was looked at is counted: a program
  // that forks and ends over and over could slip through otherwise.
  if (stat_error == ESRCH || (process.pidfd() >= 0 && !process.running())) {
    if (found.file && !family) {
      ++scan.uninspected["it ended while it was inspected"];
    }
    return;
  }
  if (stat_error != 0) {
    ++scan.uninspected[std::strerror(stat_error)];
    return;
  }
  if (found.unreadable != 0 || found.unproven) {
    if (!family) {
      ++scan.uninspected[found.unreadable != 0
                             ? std::strerror(found.unreadable)
                             : std::string("not proven: ") + words_of(*found.unproven)];
    }
    return;
  }
  if (!found.file) {
    if (files_in_use && pid != getpid()) {
      bool runs_code = false;
      std::vector<std::string> used = files_used(process, state.where, runs_code);
      if (!used.empty()) {
        scan.using_files.push_back({pid, found.kernel_name, std::move(used), runs_code});
      }
    }
  } else if (family) {
    scan.spared.push_back(
        {pid, std::move(*found.file),
         pid == getpid() ? "it is this corvane-host" : "it called this corvane-host"});
  } else {
    if (!found.kernel_name.empty() && found.kernel_name != *found.file) {
      scan.names.emplace_hint(scan.names.end(), pid, found.kernel_name);
    }
    scan.identities.emplace_hint(scan.identities.end(), pid, process.identity());
    scan.ours.emplace_hint(scan.ours.end(), pid, std::move(*found.file));
    if (scan.held.size() < state.most_held) {
      scan.held.emplace_hint(scan.held.end(), pid, std::move(process));
    }
  }
}

// Processes examined together, one handing over to the helper for all:
// as many as a scan keeps pins, each holding a descriptor until decided on.
std::size_t batch_size(std::size_t most_held) { return std::clamp<std::size_t>(most_held, 1, 64); }

void examine_batch(scan_state& state, std::vector<std::shared_ptr<examination>>& batch) {
  examine_all_in_time(batch, state.where);
  for (const std::shared_ptr<examination>& examined : batch) {
    decide(state, examined->pid, *examined);
  }
  batch.clear();
}

}  // namespace

installation_scan scan_installation(int proc_fd, const installation& where, bool files_in_use) {
  // One scan's own: names that led elsewhere are kept for its later processes.
  installation scanned = where;
  scanned.elsewhere = std::make_shared<names_elsewhere>();
  const int listing = openat(proc_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const unique_dir proc(listing < 0 ? nullptr : fdopendir(listing));
  if (!proc) {
    if (listing >= 0) {
      close(listing);
    }
    throw failure(failure_kind::system, std::string("cannot read /proc: ") + std::strerror(errno));
  }
  scan_state state{scanned, files_in_use, this_host_and_its_callers(proc_fd), held_at_most(), {}};
  state.result.hidden = hidden_processes(proc_fd);
  executable_glances glance_at(scanned);
  std::vector<std::shared_ptr<examination>> batch;
  while (const dirent* entry = readdir(proc.get())) {
    const std::optional<pid_t> pid = pid_of_name(entry->d_name);
    if (!pid) {
      continue;
    }
    std::optional<known_executable> known;
    const glance glanced =
        files_in_use ? glance::examined : glance_at(proc_fd, entry->d_name, known);
    if (glanced == glance::passed_over) {
      continue;
    }
    // Look first: what is read below is one process's, or the read fails.
    // The few decided on are pinned by reading their stat, and the pin is
    // verified before anything is decided.
    pin_result looked = process_handle::look_at(*pid, proc_fd);
    if (!looked.handle) {
      if (looked.error != ESRCH) {
        ++state.result.uninspected[std::strerror(looked.error)];
      }
      continue;
    }
    batch.push_back(std::make_shared<examination>(
        *pid, std::move(*looked.handle), glanced == glance::named_inside, std::move(known)));
    if (batch.size() == batch_size(state.most_held)) {
      examine_batch(state, batch);
    }
  }
  examine_batch(state, batch);
  return std::move(state.result);
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
