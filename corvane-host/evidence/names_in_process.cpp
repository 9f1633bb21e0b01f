// SPDX-License-Identifier: MIT
#include <fcntl.h>

#include <optional>
#include <string>

#include "base/unique_fd.h"
#include "evidence/evidence_steps.h"
#include "evidence/names_elsewhere.h"
#include "files/resolver.h"
#include "proc/proc_table.h"

namespace corvane_host {

// Where this host sees a file it holds open.
std::string seen_here(int fd) { return own_fd_path(fd); }

// The installation's path of a file, found by its identity: only the index
// knows which files no one but root and the installation's owner could have
// put where they are (a name in a directory others may write proves nothing).
std::optional<std::string> indexed(const file_id& id, const installation& where) {
  const std::string* path =
      id.device == where.directory_id.device ? where.files->find(id) : nullptr;
  return path != nullptr ? std::optional(*path) : std::nullopt;
}

// `path` walked in the process's own view: its words are its own, and a
// crafted link must not lead outside its root. What leads to the
// installation is walked again with each step judged for the process's own
// user: a name that someone else could have pointed there (a link in a
// directory others may write) leads nowhere. What leads elsewhere proves
// nothing either way and costs one call; `elsewhere`, when given, says so.
unique_fd open_in_process_root(const process_handle& process, const std::string& path, bool follow,
                               const installation& where, bool* elsewhere) {
  // A name that led elsewhere from the root the process has now.
  const bool kept = elsewhere != nullptr && where.elsewhere && !path.empty() && path.front() == '/';
  if (kept) {
    if (const std::optional<std::uint64_t> root = process_names::root_mount_now(process.proc_dir());
        root && where.elsewhere->contains({*root, follow, path})) {
      *elsewhere = true;
      return unique_fd();
    }
  }
  process_names names(process.proc_dir());
  walk_policy policy;
  policy.follow_last = follow;
  policy.enter_device = where.directory_id.device;
  unique_fd file = names.open(path, policy);
  if (!file) {
    return file;
  }
  const std::optional<file_id> id = id_of(file.get());
  if (!(id && indexed(*id, where)) && !lies_inside(seen_here(file.get()), where)) {
    if (elsewhere != nullptr) {
      *elsewhere = true;
      // Kept by the very root the walk started from: one it changed to since is another.
      if (const std::optional<std::uint64_t> root = kept ? names.root_mount() : std::nullopt) {
        where.elsewhere->add({*root, follow, path});
      }
    }
    return file;
  }
  const proc_result<process_status> status = read_status(process);
  if (!status.value) {
    return unique_fd();
  }
  policy.steps = step_rule::guarded;
  policy.judged_for = status.value->real_uid;
  return names.open(path, policy);
}

}  // namespace corvane_host
