// SPDX-License-Identifier: MIT
// Understanding what /proc shows, apart from reading it: each function takes
// the text of one file (or link) and returns values, so it can be tested on
// captured text. What a process shows there is its own to choose: these
// functions only read it.
#ifndef CORVANE_HOST_PROC_PARSE_H
#define CORVANE_HOST_PROC_PARSE_H

#include <sys/types.h>

#include <csignal>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane_host {

// The fields of /proc/PID/stat that the host uses.
struct stat_fields {
  char state = '?';              // R, S, D, T (stopped), t (traced), Z, ...
  pid_t parent = 0;              // field 4
  unsigned flags = 0;            // field 9: PF_* flags
  std::uint64_t start_time = 0;  // field 22: clock ticks after boot

  // A kernel thread runs no program and could run none of the installation.
  [[nodiscard]] bool kernel_thread() const { return (flags & 0x00200000U) != 0; }
  // The kernel has begun to end it (PF_EXITING): once its memory is gone it
  // runs no program, though its exit may still wait (a lingering socket).
  [[nodiscard]] bool exiting() const { return (flags & 0x00000004U) != 0; }
};

// nullopt when `text` is not such a line. The command name in parentheses may
// hold anything, ")" and blanks included: the fields follow its last ")".
std::optional<stat_fields> parse_stat(std::string_view text);

// The lines of /proc/PID/status that tell whether one SIGTERM can end it.
struct process_status {
  char state = '?';
  bool ignores_sigterm = false;
  bool blocks_sigterm = false;
  bool handles_sigterm = false;
  bool namespace_init = false;  // the first process of its pid namespace (NSpid ends in 1)
  uid_t real_uid = 0;
  uid_t effective_uid = 0;
  uid_t saved_uid = 0;
};

// nullopt when the State: or the Uid: line is missing or unreadable.
std::optional<process_status> parse_status(std::string_view text);

// /proc/PID/fdinfo/FD of a signalfd: the signals it watches ("sigmask:").
// SIGTERM's bit in such a mask, as in the masks of /proc/PID/status.
constexpr std::uint64_t sigterm_bit = std::uint64_t{1} << (SIGTERM - 1);
std::optional<std::uint64_t> parse_signalfd_mask(std::string_view text);

// /proc/PID/cmdline: the arguments, each ended by a NUL (the last one may
// lack it). Empty for a kernel thread or a zombie.
std::vector<std::string> parse_cmdline(std::string_view text);

// How the kernel marks the name of a file that has no link left.
constexpr std::string_view deleted_mark = " (deleted)";

// The target of /proc/PID/exe. The kernel marks a file that was deleted, or
// replaced by a rename as upgrades do, with " (deleted)".
struct exe_target {
  std::string path;
  bool deleted = false;
};
exe_target parse_exe_link(std::string_view target);

// A file that /proc/PID/maps names: its path (the kernel's " (deleted)" mark
// removed), device and inode, and whether any of its mappings is executable.
struct mapped_file {
  std::string path;
  unsigned major = 0;
  unsigned minor = 0;
  std::uint64_t inode = 0;
  bool executable = false;
};

// Each file of /proc/PID/maps once; anonymous and special mappings ("[heap]")
// are left out. Linear in the text: a process may map tens of thousands of
// files.
std::vector<mapped_file> parse_maps_files(std::string_view text);

// One line of /proc/PID/mountinfo: the mount's ID, where it is mounted (as
// the kernel escapes it), its file system type and its super block's options.
struct mount_line {
  std::uint64_t id = 0;
  std::string_view mount_point;
  std::string_view type;
  std::string_view options;
};
// Each well-formed line of a mountinfo, in order; a line that does not parse
// is left out.
std::vector<mount_line> parse_mountinfo(std::string_view text);

// /proc/self/mountinfo: how the /proc this host reads (the mount `mount_id`;
// where it is 0, the one on top at /proc) hides other users' processes
// (hidepid= other than 0 or off), and the group that may see them.
struct proc_hiding {
  std::string mode;
  std::optional<gid_t> gid;
};
std::optional<proc_hiding> proc_hides_processes(std::string_view mountinfo, std::uint64_t mount_id);

// /proc/PID/cgroup: the process's path in the unified (v2) hierarchy, from
// its "0::PATH" line; empty when it has none.
std::string parse_cgroup(std::string_view text);

// /proc/locks: the process that holds a lock on the file with this device
// and inode; nullopt when no line names it (waiters, "->", are skipped).
std::optional<pid_t> parse_lock_holder(std::string_view text, unsigned device_major,
                                       unsigned device_minor, std::uint64_t inode);

// The systemd service whose cgroup `path` (from parse_cgroup) is, of the
// system's manager or of a user's ("…/user@1000.service/app.slice/x.service");
// empty for session scopes, containers' scopes, slices and a user manager
// itself, whose processes no unit restarts.
std::string service_of_cgroup(std::string_view path);

}  // namespace corvane_host

#endif
