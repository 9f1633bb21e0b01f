// SPDX-License-Identifier: MIT
// The session kept in a file between invocations, so that check and kill can
// be separate commands. The host may run as root on a path that an ordinary
// user chose: the file's directory is resolved once and held (resolver.h),
// and everything after is done in it: no other file is opened, nothing is
// given away, and the file keeps its owner and mode.
#ifndef CORVANE_HOST_SESSION_FILE_H
#define CORVANE_HOST_SESSION_FILE_H

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "base/unique_fd.h"
#include "files/resolver.h"
#include "files/session.h"
#include "files/session_lock.h"

namespace corvane_host {

// What a session file may hold; a larger one is refused unread.
constexpr std::size_t most_session_bytes = std::size_t{16} << 20;

// The temporary copies a save writes beside FILE are FILE.corvane-tmp.XXXXXX.
bool is_temporary_of(const std::string& file_name, const std::string& entry);

class session_file {
 public:
  // Resolves `named` and opens the file (a missing one is created empty,
  // mode 0600), then holds session_lock for it for the life of this object,
  // so that concurrent hosts lose no update. Waits at most `lock_timeout`.
  // Removes what an interrupted save left. With `must_exist`, a missing file
  // throws before anything is created.
  session_file(const std::string& named, std::chrono::milliseconds lock_timeout,
               bool must_exist = false);

  [[nodiscard]] const std::string& path() const { return file_; }
  // Whether someone other than this user (or root) could have written the
  // file, or put another file in its place: what it says is then a hint at
  // most. A sticky directory keeps others from replacing this user's file.
  [[nodiscard]] bool others_may_write() const {
    const struct stat& dir = directory_.status;
    const bool dir_kept =
        (dir.st_uid == geteuid() || dir.st_uid == 0) &&
        ((dir.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (dir.st_mode & S_ISVTX) != 0);
    return status_.st_uid != geteuid() || (status_.st_mode & (S_IWGRP | S_IWOTH)) != 0 || !dir_kept;
  }
  // A missing or empty file is an empty session; an unreadable or malformed
  // one throws.
  [[nodiscard]] session_t load() const;
  // Replaces the file atomically with the file's owner, group and mode, less
  // setuid, setgid and sticky bits: a reader sees the old or the new session.
  void save(const session_t& session) const;

 private:
  held_directory directory_;
  std::string name_;
  std::string file_;  // for messages
  unique_fd session_;
  struct stat status_ {};
  session_lock lock_;
};

}  // namespace corvane_host

#endif
