// SPDX-License-Identifier: MIT
// The one way the host reaches a file by a name that someone else chose: a
// session or log path from the command line, the installation's root, a
// name a process shows (its script, class path, argv[0], working
// directory), a path inside the installation. Every such name is walked by
// this resolver under an explicit policy:
//   - whose view: this host's root, or a process's own root and working
//     directory (its names mean what they mean to it, and no link may lead
//     out of its root);
//   - which steps are refused and for whom: none, or a step into another
//     user's entry from a directory that is not root's alone, and links
//     others could have placed (judged for the host's caller);
//   - whether a link in the last component is followed, and whether the
//     walk may leave the file system it started on.
// A name is walked once, component by component where steps are judged,
// and what it reached is held by descriptor: nothing looks the name up again.
#ifndef CORVANE_HOST_FILES_RESOLVER_H
#define CORVANE_HOST_FILES_RESOLVER_H

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "base/failure.h"
#include "base/file_id.h"
#include "base/unique_fd.h"
#include "proc/mounts.h"

namespace corvane_host {

struct path_error : failure {
  explicit path_error(const std::string& what) : failure(failure_kind::refused, what) {}
};

// Which steps of a walk are refused.
enum class step_rule {
  any,      // every step: the name is the caller's own (the host's --root), or a process's
  guarded,  // safe_transition and link_may_be_followed, judged for the caller
};

struct walk_policy {
  step_rule steps = step_rule::any;
  uid_t judged_for = 0;     // whose steps are judged, for step_rule::guarded
  bool follow_last = true;  // follow a symbolic link in the last component
  bool same_mount = false;  // never leave the file system the walk started on
  // A process's view: mounts of this device are entered whatever their type
  // (the installation's own file system; the time bound covers it).
  std::optional<dev_t> enter_device;
};

// A directory that only root may change: root's, and writable by no group or other user.
bool root_only(const struct stat& directory);
// Whether the host, running as `caller`, may step from `directory` into
// `entry`: always from a root-only directory; from any other only into an
// entry of the directory's owner, of the caller or of root, so that nobody can
// lead the host into another user's files.
bool safe_transition(const struct stat& directory, const struct stat& entry, uid_t caller);
// Whether a symbolic link may be followed: owned by the caller or by root, in
// a directory that not everybody may write.
bool link_may_be_followed(const struct stat& directory, const struct stat& link, uid_t caller);

// --- This host's view -----------------------------------------------------

struct held_directory {
  unique_fd fd;  // readable where the host may read it, else O_PATH
  struct stat status {};
  std::string path;  // as walked, for messages
};

struct resolved_path {
  held_directory directory;
  std::string name;                   // the last component, a regular file's or a new file's
  std::optional<struct stat> status;  // the file's, when it exists
  [[nodiscard]] std::string shown() const;
};

// A file the host reads or writes for its caller (the session, the log): the
// walk follows links only as link_may_be_followed allows and at most 40 of
// them, and steps only as safe_transition allows. The last component must be
// a regular file or missing (not missing behind a link). `what` ("the
// session") starts each path_error's message.
resolved_path resolve_path(const std::string& named, const std::string& what);

// `name` in `directory`, opened with `flags` plus O_NOFOLLOW, O_NONBLOCK,
// O_NOCTTY and O_CLOEXEC, and `status` filled: it must be a regular file with
// one link whose owner safe_transition allows. Nothing else is opened. An
// empty descriptor when it does not exist; path_error for anything else.
unique_fd open_regular(const held_directory& directory, const std::string& name, int flags,
                       const std::string& what, struct stat& status);

// `named` made absolute (against the current directory), with the symbolic
// links of the part that exists resolved as the kernel resolves them and the
// rest lexically normal ("." and ".." resolved, no doubled or trailing "/").
std::string normal_path(const std::string& named);

// The file `path` (absolute, this host's view) leads to, links followed
// unless `follow` is false, asked without waking an automount or a network
// file system's server.
std::optional<file_id> id_at(const std::string& path, bool follow = true);
// Whether `path` leads to a directory, asked the same way.
bool is_directory_at(const std::string& path);
// 0 when `path` leads to a file, asked the same way; else the errno that stopped it.
int reach_error(const std::string& path);

// A directory by its normal path (normal_path), opened for reading and
// reached through no link at all: a link put in its way since it was
// resolved is refused (ELOOP), not followed.
unique_fd open_normal_directory(const std::string& normal);
std::optional<file_id> id_of(int fd);

// The directory `relative` beneath `root`, opened for reading, reached
// without any link and without leaving root's file system: how the
// installation's own tree is walked.
unique_fd open_beneath(int root, const std::string& relative);

// --- A process's view -----------------------------------------------------

// The root and working directory a process resolves its names against, read
// through its own /proc directory. The working directory counts only when
// its name leads, in that root, to the very directory the process works in:
// a deleted one's " (deleted)" must not lead elsewhere. Names are walked
// component by component, and no step looks into a mount that its
// mountinfo shows may stall (proc/mounts.h): such a name leads nowhere.
class process_names {
 public:
  explicit process_names(int proc_dir);
  // `path` (relative ones against the working directory) walked in the
  // process's root and opened O_PATH; empty when it leads nowhere there.
  [[nodiscard]] unique_fd open(const std::string& path, const walk_policy& policy);

  // The mount whose own root is the root its names are walked from, by the
  // ID that Linux 6.8 and later never give again: what stays the same root
  // for as long as anything may remember it. None for a root below its
  // mount's (a chroot), whose directory may be replaced by another, or
  // where the kernel gives no such ID.
  [[nodiscard]] std::optional<std::uint64_t> root_mount();
  // The same of the process whose /proc directory this is, as it is now,
  // in one call: nothing is held, and no walk may start from it.
  static std::optional<std::uint64_t> root_mount_now(int proc_dir);

 private:
  // Its root's mount ID as its mountinfo gives it, and device.
  struct root_facts {
    std::uint64_t mount;
    dev_t device;
  };
  std::optional<root_facts> root();

  int proc_dir_;
  unique_fd root_;
  process_mounts mounts_;
  std::optional<std::optional<root_facts>> root_facts_;  // once asked
  std::optional<std::string> cwd_;  // read on first need; "" when it does not count
};

// What kind of file `mode` is, for messages: "a pipe", "a device", ...
const char* kind_of(mode_t mode);

}  // namespace corvane_host

#endif
