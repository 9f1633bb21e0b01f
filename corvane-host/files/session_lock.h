// SPDX-License-Identifier: MIT
// The lock that serializes hosts on one session, which no other user can
// hold: the session file's own descriptor where only its owner (and root) can
// open the file; for root, when others could open it, a file in /run that
// only root can reach, named after the session's device and inode.
#ifndef CORVANE_HOST_SESSION_LOCK_H
#define CORVANE_HOST_SESSION_LOCK_H

#include <sys/stat.h>

#include <chrono>
#include <string>

#include "base/unique_fd.h"

namespace corvane_host {

// Whether root locks in /run rather than on the session file `status`.
bool lock_in_run(const struct stat& status, uid_t caller);

class session_lock {
 public:
  session_lock() = default;
  // An exclusive lock for the session file `file` (of `status`), waited for
  // until `deadline`, saying on standard error after half a second that it
  // waits and for which process. Throws session_error when the wait ends.
  session_lock(int file, const struct stat& status, const std::string& shown,
               std::chrono::steady_clock::time_point deadline);
  session_lock(session_lock&& other) noexcept = default;
  session_lock& operator=(session_lock&& other) noexcept;
  session_lock(const session_lock&) = delete;
  session_lock& operator=(const session_lock&) = delete;
  ~session_lock() { release(); }

  // False when the lock in /run was removed while this waited: take it again.
  [[nodiscard]] bool still_named() const;

 private:
  void release();

  unique_fd run_;        // /run, when the lock is there
  unique_fd directory_;  // /run/corvane-host
  std::string name_;
  unique_fd held_;
};

}  // namespace corvane_host

#endif
