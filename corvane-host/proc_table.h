// SPDX-License-Identifier: MIT
// What the reference host reads from /proc. Reading is kept apart from
// understanding (proc_parse.h). A file that cannot be read does not mean the
// process has gone: whether it has is asked of the process itself.
#ifndef CORVANE_HOST_PROC_TABLE_H
#define CORVANE_HOST_PROC_TABLE_H

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

#include "proc_parse.h"

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

// The text of a file or of a symbolic link, or the errno that stopped the read.
struct file_text {
  std::string text;
  int error = 0;
};

// `relative` is taken against the directory `dir_fd` (AT_FDCWD: the current one).
file_text read_file_at(int dir_fd, const std::string& relative);
file_text read_link_at(int dir_fd, const std::string& relative);

// Whether no process has the ID `pid` any more (kill(pid, 0) answers ESRCH).
bool process_gone(pid_t pid);

proc_result<stat_fields> read_stat(pid_t pid);
proc_result<process_status> read_status(pid_t pid);
// The process's path in the unified cgroup hierarchy.
proc_result<std::string> read_cgroup(pid_t pid);

// The user's name, or the number when it has none.
std::string user_name(uid_t uid);

}  // namespace corvane_host

#endif
