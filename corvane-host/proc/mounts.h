// SPDX-License-Identifier: MIT
// Which mounts a walk of a process's names may look into. A lookup in a
// file system that a user serves (FUSE), that a server answers (NFS, SMB,
// 9p, ...) or that a user stacked (an overlay, which consults its layers
// with its mounter's credentials, so root's own permission does not stop
// it) can wait for an answer that never comes, in the kernel, where no
// signal but SIGKILL ends the wait. Such mounts are never looked into:
// judged from the process's own mountinfo, by the mount ID the kernel
// gives a held directory without asking its file system.
#ifndef CORVANE_HOST_PROC_MOUNTS_H
#define CORVANE_HOST_PROC_MOUNTS_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace corvane_host {

// The cautious verdict first: a verdict made by default enters nothing.
enum class mount_verdict {
  unknown,        // not in the process's mountinfo (detached, or mounted since)
  may_stall,      // served by a user or over a network
  users_overlay,  // an overlay in a mount namespace a user namespace owns
  enter           // a local file system, or root's own overlay
};

// The judgement: `type` is the mount's file system type from mountinfo
// (none: not found there); `hosts_namespace` says whether the mount
// namespace is owned by the user namespace this host runs in, where only a
// privileged process can mount an overlay.
mount_verdict judge_mount(std::optional<std::string_view> type, bool hosts_namespace);

// Whether the mount namespace of the process whose /proc directory is
// `proc_dir` is owned by the user namespace this host runs in: only a
// privileged process made it and mounted what is in it.
bool mounts_of_the_hosts_user_namespace(int proc_dir);

// The mounts of one process's view, read from its /proc/PID/mountinfo on
// first need, and judged.
class process_mounts {
 public:
  explicit process_mounts(int proc_dir) : proc_dir_(proc_dir) {}
  // Whether a walk may look into the mount `mount_id`.
  [[nodiscard]] bool may_enter(std::uint64_t mount_id);

 private:
  void read();

  int proc_dir_;
  bool read_ = false;
  bool hosts_namespace_ = false;
  std::unordered_map<std::uint64_t, std::string> types_;
};

}  // namespace corvane_host

#endif
