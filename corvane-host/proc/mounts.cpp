// SPDX-License-Identifier: MIT
#include "proc/mounts.h"

#include <fcntl.h>
#include <linux/nsfs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <array>

#include "base/kernel_file.h"
#include "base/unique_fd.h"
#include "proc/proc_parse.h"

namespace corvane_host {
namespace {

// File systems whose lookups wait for a process or a server: FUSE (a user's,
// sshfs, ...), network and cluster file systems, and automounts, which wait
// for a daemon.
bool may_stall(std::string_view type) {
  constexpr std::array<std::string_view, 20> served = {
      "fuse",  "fuseblk", "virtiofs", "nfs",      "nfs4",      "cifs",   "smb3",
      "smbfs", "9p",      "ceph",     "afs",      "glusterfs", "lustre", "ncpfs",
      "coda",  "gfs2",    "ocfs2",    "orangefs", "davfs",     "autofs"};
  for (const std::string_view stalls : served) {
    if (type == stalls) {
      return true;
    }
  }
  return type.substr(0, 5) == "fuse." || type.substr(0, 4) == "nfs";
}

// The user namespace that owns the mount namespace `ns` (an open ns/mnt).
std::optional<ino_t> owner_of(int ns) {
  const unique_fd owner(ioctl(ns, NS_GET_USERNS));
  struct stat info {};
  return owner && fstat(owner.get(), &info) == 0 ? std::optional(info.st_ino) : std::nullopt;
}

}  // namespace

mount_verdict judge_mount(std::optional<std::string_view> type, bool hosts_namespace) {
  if (!type) {
    return mount_verdict::unknown;
  }
  if (may_stall(*type)) {
    return mount_verdict::may_stall;
  }
  // Only a user namespace's own overlays can be stacked by a user, on
  // layers of the user's choosing (a FUSE mount among them); root's
  // (a container runtime's) are root's choice.
  if (*type == "overlay" && !hosts_namespace) {
    return mount_verdict::users_overlay;
  }
  return mount_verdict::enter;
}

bool mounts_of_the_hosts_user_namespace(int proc_dir) {
  const unique_fd theirs(openat(proc_dir, "ns/mnt", O_RDONLY | O_CLOEXEC));
  const unique_fd ours(open("/proc/self/ns/mnt", O_RDONLY | O_CLOEXEC));
  const std::optional<ino_t> their_owner = theirs ? owner_of(theirs.get()) : std::nullopt;
  const std::optional<ino_t> our_owner = ours ? owner_of(ours.get()) : std::nullopt;
  return their_owner && their_owner == our_owner;
}

void process_mounts::read() {
  read_ = true;
  hosts_namespace_ = mounts_of_the_hosts_user_namespace(proc_dir_);
  const file_text mountinfo = read_file_at(proc_dir_, "mountinfo");
  for (const mount_line& mount : parse_mountinfo(mountinfo.text)) {
    types_.emplace(mount.id, mount.type);
  }
}

bool process_mounts::may_enter(std::uint64_t mount_id) {
  if (!read_) {
    read();
  }
  const auto found = types_.find(mount_id);
  const std::optional<std::string_view> type =
      found != types_.end() ? std::optional<std::string_view>(found->second) : std::nullopt;
  return judge_mount(type, hosts_namespace_) == mount_verdict::enter;
}

}  // namespace corvane_host
