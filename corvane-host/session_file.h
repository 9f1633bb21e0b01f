// SPDX-License-Identifier: MIT
// The session kept in a file between invocations, so that check and kill can
// be separate commands. The host may run as root on a path that an ordinary
// user chose: it follows a symbolic link only where that is safe, writes
// nothing but a regular file and its lock, and keeps the file's owner and
// mode.
#ifndef CORVANE_HOST_SESSION_FILE_H
#define CORVANE_HOST_SESSION_FILE_H

#include <chrono>
#include <string>

#include "session.h"
#include "unique_fd.h"

namespace corvane_host {

// The regular file that `named` stands for. A symbolic link is followed only
// when it is owned by this user or by root, does not stand in a
// world-writable directory, and leads to an existing regular file; a missing
// `named` is a new file in an existing directory. Anything else throws
// session_error, before anything is created.
std::string resolve_session_path(const std::string& named);

// The temporary copies a save writes beside FILE are FILE.corvane-tmp.XXXXXX.
bool is_temporary_of(const std::string& file_name, const std::string& entry);

class session_file {
 public:
  // Resolves `named`, then holds an exclusive lock on FILE.lock beside the
  // file for the life of this object, so that concurrent hosts lose no
  // update. Waits at most `lock_timeout` for it, saying on standard error
  // after a moment that it waits and for which process. Removes what an
  // interrupted save left. With `must_exist`, a missing file throws before
  // anything is created.
  session_file(const std::string& named, std::chrono::milliseconds lock_timeout,
               bool must_exist = false);

  [[nodiscard]] const std::string& path() const { return file_; }
  // A missing or empty file is an empty session; an unreadable or malformed
  // one throws.
  [[nodiscard]] session_t load() const;
  // Replaces the file atomically with the file's owner, group and mode (a new
  // file: this user's, with the umask's mode): a reader sees the old or the
  // new session.
  void save(const session_t& session) const;

 private:
  std::string file_;
  unique_fd lock_;
};

}  // namespace corvane_host

#endif
