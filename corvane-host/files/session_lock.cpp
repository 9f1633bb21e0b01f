// SPDX-License-Identifier: MIT
#include "files/session_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <thread>

#include "base/file_id.h"
#include "base/kernel_file.h"
#include "base/text.h"
#include "files/session.h"
#include "proc/proc_parse.h"

namespace corvane_host {
namespace {

using clock = std::chrono::steady_clock;

constexpr char run_directory[] = "corvane-host";
// How long the host waits for the lock before it says so.
constexpr std::chrono::milliseconds quiet_wait{500};

[[noreturn]] void fail(const std::string& what, int error = errno) {
  throw session_error(what + ": " + std::strerror(error));
}

// Which process holds the lock on `lock`, where /proc/locks tells.
std::string holder_of(int lock) {
  struct stat status {};
  if (fstat(lock, &status) != 0) {
    return {};
  }
  const file_text locks = read_file_at(AT_FDCWD, "/proc/locks", std::size_t{16} << 20);
  const auto holder =
      parse_lock_holder(locks.text, major(status.st_dev), minor(status.st_dev), status.st_ino);
  return holder ? ", held by process " + std::to_string(*holder) : std::string();
}

void wait_for(int lock, const std::string& shown, clock::time_point deadline) {
  const clock::time_point start = clock::now();
  bool said = false;
  while (flock(lock, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) {
      fail("cannot lock the session " + printable(shown));
    }
    if (clock::now() >= deadline) {
      const auto waited = std::chrono::duration<double>(clock::now() - start).count();
      throw session_error("gave up waiting for the lock on the session " + printable(shown) +
                          " after " + std::to_string(waited).substr(0, 5) + " s" + holder_of(lock) +
                          "; the session is untouched");
    }
    if (!said && clock::now() - start >= quiet_wait) {
      std::cerr << "corvane-host: waiting for the lock on the session " << printable(shown)
                << holder_of(lock) << "\n";
      said = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace

bool lock_in_run(const struct stat& status, uid_t caller) {
  return caller == 0 && (status.st_mode & 077) != 0;
}

session_lock::session_lock(int file, const struct stat& status, const std::string& shown,
                           clock::time_point deadline) {
  if (!lock_in_run(status, geteuid())) {
    wait_for(file, shown, deadline);  // released when the session file is closed
    return;
  }
  run_ = unique_fd(open("/run", O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat run {};
  if (!run_ || fstat(run_.get(), &run) != 0 || run.st_uid != 0 || (run.st_mode & 022) != 0) {
    throw session_error("cannot lock the session " + printable(shown) +
                        ": /run is missing or not root's alone");
  }
  name_ = std::to_string(major(status.st_dev)) + ":" + std::to_string(minor(status.st_dev)) + ":" +
          std::to_string(status.st_ino) + ".lock";
  // Another host may remove the directory between these steps: make it again.
  for (int attempt = 0; !held_ && attempt < 100; ++attempt) {
    if (mkdirat(run_.get(), run_directory, 0700) != 0 && errno != EEXIST) {
      fail("cannot create /run/corvane-host");
    }
    directory_ =
        unique_fd(openat(run_.get(), run_directory, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat directory {};
    if (!directory_ && errno == ENOENT) {
      continue;
    }
    if (!directory_ || fstat(directory_.get(), &directory) != 0 || directory.st_uid != 0 ||
        (directory.st_mode & 077) != 0) {
      throw session_error("/run/corvane-host is not root's alone; the session " + printable(shown) +
                          " is untouched");
    }
    held_ = unique_fd(
        openat(directory_.get(), name_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!held_ && errno != ENOENT) {
      fail("cannot open the lock /run/corvane-host/" + name_);
    }
  }
  if (!held_) {
    fail("cannot open the lock /run/corvane-host/" + name_);
  }
  wait_for(held_.get(), shown, deadline);
}

session_lock& session_lock::operator=(session_lock&& other) noexcept {
  release();
  run_ = std::move(other.run_);
  directory_ = std::move(other.directory_);
  name_ = std::move(other.name_);
  held_ = std::move(other.held_);
  return *this;
}

bool session_lock::still_named() const {
  struct stat named {};
  struct stat held {};
  return !held_ || (fstatat(directory_.get(), name_.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
                    fstat(held_.get(), &held) == 0 && id_from(named) == id_from(held));
}

// The lock file goes while held, and its directory with the last one; a
// waiter that then gets the unlinked file sees that it is no longer named.
void session_lock::release() {
  if (held_ && still_named()) {
    unlinkat(directory_.get(), name_.c_str(), 0);
  }
  held_ = unique_fd();
  if (run_) {
    unlinkat(run_.get(), run_directory, AT_REMOVEDIR);
  }
  run_ = unique_fd();
  directory_ = unique_fd();
}

}  // namespace corvane_host
