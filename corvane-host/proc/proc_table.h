// SPDX-License-Identifier: MIT
// What the reference host reads from /proc. Reading is kept apart from
// understanding (proc_parse.h). A file that cannot be read does not mean the
// process has gone: whether it has is asked of the process itself.
#ifndef CORVANE_HOST_PROC_TABLE_H
#define CORVANE_HOST_PROC_TABLE_H

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/file_id.h"
#include "base/kernel_file.h"
#include "proc/proc_parse.h"
#include "proc/process_handle.h"

namespace corvane_host {

// One value read about a live process: the value; or no value and error 0,
// the process has gone; or no value and the errno that kept it from being
// read (EACCES, EMFILE, ...).
template <typename Value>
struct proc_result {
  std::optional<Value> value;
  int error = 0;

  [[nodiscard]] bool gone() const { return !value && error == 0; }
};

// Where this host sees a file it holds open as `fd`: its /proc/self/fd link,
// read through that directory held open (this host never forks).
std::string own_fd_path(int fd);

// The file a /proc link (exe, cwd, fd/N) leads to, opened once (O_PATH, so
// a pipe or device is never opened for reading), so that its facts and its
// name are of one file. Its facts are taken without asking a network file
// system's server.
struct reached_file {
  struct stat facts {};
  std::string path;  // as this host sees it
  int error = 0;
};
reached_file reach_at(int dir_fd, const std::string& link);
// The facts alone of the file such a link leads to, in one call: no name.
reached_file facts_at(int dir_fd, const char* link);

// What a glance read of the executable a process runs, before it was
// pinned: the name, for as long as it runs the same file on the same mount.
constexpr unsigned int unique_mount_id = 0x4000U;  // STATX_MNT_ID_UNIQUE, Linux 6.8: never reused
struct known_executable {
  std::uint64_t mount = 0;  // unique_mount_id's
  file_id file;
  std::string name;
};
// reach_at(dir_fd, "exe"), in one call where it still leads to `known`.
reached_file reach_executable(int dir_fd, const known_executable* known);

// A regular file a process holds open: where this host sees it, and which
// file it is.
struct open_file {
  std::string path;
  dev_t device = 0;
  ino_t inode = 0;
  nlink_t links = 0;  // 0: deleted from every directory
};
// Calls `visit` with each regular file the process holds open whose name
// `wanted` accepts, until `visit` returns false. At most `most` of its
// descriptors are looked at, and nothing is kept: a process may hold a million.
void visit_open_files(const process_handle& process, std::size_t most,
                      const std::function<bool(const std::string&)>& wanted,
                      const std::function<bool(const open_file&)>& visit);

// How many of one process's threads or descriptors are looked at: no program
// of this kind has more, and a crafted one may have a million.
constexpr std::size_t most_listed = 65536;
// The most an exec() takes for arguments and environment together (three
// quarters of the kernel's 8 MiB stack limit): more of a command line or an
// environment was put there later (prctl) and is no program's.
constexpr std::size_t most_exec_bytes = std::size_t{6} << 20;
// The most of one process's /proc/PID/maps that is read.
constexpr std::size_t most_maps_bytes = std::size_t{16} << 20;

// Read through a pinned process's own /proc directory; a read that fails
// after the process has gone says so.
proc_result<process_status> read_status(const process_handle& process);
// The process's path in the unified cgroup hierarchy.
proc_result<std::string> read_cgroup(const process_handle& process);

// Whether a SIGTERM sent to the process is taken at once: a thread that does
// not block it (a thread waiting for it in sigwait() among them) takes it;
// when every thread blocks it, a signalfd that watches it consumes it. What cannot be
// read counts as not taken; past `most_listed` threads or descriptors, what
// was not looked at counts as not taken either.
// `status` is the process's own, read already: when its main thread takes
// SIGTERM, no other thread is looked at.
bool sigterm_taken_at_once(const process_handle& process, const process_status& status);

// This host and every process above it, read through `proc_fd`: never
// recorded, never signalled, whatever a session says.
std::set<pid_t> this_host_and_its_callers(int proc_fd);

// A process's parent as it was when read.
struct parent_process {
  process_identity who;
  std::string name;             // its command name (comm), as it chose it
  bool namespace_init = false;  // the first process of its pid namespace
};
// The parent of a pinned process; nullopt where it has none here (the
// first process of this /proc's namespace), has gone, or cannot be read.
std::optional<parent_process> read_parent(const process_handle& child, int proc_fd);

// The other processes of the pid namespace that `process` lives in, among
// the first `most` entries of the /proc `proc_fd`: how many, and whether
// every one could be read.
struct namespace_members {
  std::size_t count = 0;
  bool complete = true;
};
namespace_members members_of_namespace(const process_handle& process, int proc_fd,
                                       std::size_t most);

// The user's name, or the number when it has none.
std::string user_name(uid_t uid);

}  // namespace corvane_host

#endif
