// SPDX-License-Identifier: MIT
#include "proc/process_handle.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include "base/failure.h"
#include "base/kernel_file.h"

namespace corvane_host {
namespace {

constexpr long pidfs_magic = 0x50494446;

// Whether pidfds live on pidfs here (Linux 6.9 and later): the kernel's, asked once.
bool kernel_has_pidfs(int pidfd) {
  static const bool pidfs = [pidfd] {
    struct statfs file_system {};
    return fstatfs(pidfd, &file_system) == 0 && file_system.f_type == pidfs_magic;
  }();
  return pidfs;
}

unique_fd open_pidfd(pid_t pid) {
  return unique_fd(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
}

// The pidfd's inode where it lives on pidfs; 0 elsewhere.
std::uint64_t pidfd_inode(int pidfd) {
  struct stat file {};
  return kernel_has_pidfs(pidfd) && fstat(pidfd, &file) == 0 ? file.st_ino : 0;
}

}  // namespace

unique_fd open_proc() {
  unique_fd proc(open("/proc", O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!proc) {
    throw failure(failure_kind::system, std::string("cannot open /proc: ") + std::strerror(errno));
  }
  return proc;
}

pin_result process_handle::pin(pid_t pid, int proc_fd) {
  if (pid <= 0) {
    return {std::nullopt, EINVAL};
  }
  unique_fd pidfd = open_pidfd(pid);
  if (!pidfd) {
    return {std::nullopt, errno};
  }
  unique_fd dir(openat(proc_fd, std::to_string(pid).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  const int dir_error = errno;
  process_handle handle(std::move(pidfd), std::move(dir), pid);
  if (!handle.dir_) {
    return {std::nullopt, handle.verify() ? dir_error : ESRCH};
  }
  const int error = handle.read_stat();
  // A read that failed may have failed because the process has gone.
  if (!handle.verify()) {
    return {std::nullopt, ESRCH};
  }
  if (error != 0) {
    return {std::nullopt, error};
  }
  return {std::move(handle), 0};
}

pin_result process_handle::look_at(pid_t pid, int proc_fd) {
  if (pid <= 0) {
    return {std::nullopt, EINVAL};
  }
  unique_fd dir(openat(proc_fd, std::to_string(pid).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!dir) {
    return {std::nullopt, errno == ENOENT ? ESRCH : errno};  // a listed ID that went
  }
  return {process_handle(unique_fd(), std::move(dir), pid), 0};
}

process_handle process_handle::duplicate() const {
  const auto copy = [](const unique_fd& fd) {
    return unique_fd(fd ? fcntl(fd.get(), F_DUPFD_CLOEXEC, 0) : -1);
  };
  process_handle twin(copy(pidfd_), copy(dir_), identity_.pid);
  twin.identity_ = identity_;
  twin.inode_known_ = inode_known_;
  twin.stat_ = stat_;
  return twin;
}

int process_handle::read_stat() {
  const bool pinning = !pidfd_;
  if (pinning) {
    pidfd_ = open_pidfd(identity_.pid);
    if (!pidfd_) {
      return errno;
    }
  }
  const file_text stat = read_line_file_at(proc_dir(), "stat");
  const std::optional<stat_fields> fields = parse_stat(stat.text);
  if (!fields && pinning && (stat.error == ENOENT || stat.error == ESRCH)) {
    // The process looked at has gone: the ID may name another by now.
    pidfd_ = unique_fd();
    return ESRCH;
  }
  if (!fields) {
    return stat.error != 0 ? stat.error : EBADMSG;
  }
  stat_ = *fields;
  identity_.start_time = fields->start_time;
  return 0;
}

pin_result process_handle::pin(const process_identity& who, int proc_fd) {
  pin_result pinned = pin(who.pid, proc_fd);
  if (pinned.handle) {
    const process_identity& now = pinned.handle->identity();
    // Where the kernel has pidfs, the inode decides; a recorded 0 matches nothing then.
    if (now.start_time != who.start_time || now.inode != who.inode) {
      return {std::nullopt, ESTALE};
    }
  }
  return pinned;
}

const process_identity& process_handle::identity() const {
  if (!inode_known_ && pidfd_) {
    identity_.inode = pidfd_inode(pidfd());
    inode_known_ = true;
  }
  return identity_;
}

bool process_handle::verify() const {
  // Signal 0 through the pidfd: ESRCH once the process has been reaped, and
  // only then can its ID go to another process. A refusal (EPERM, or a
  // security module's EACCES) still means it is there.
  return pidfd_ && (syscall(SYS_pidfd_send_signal, pidfd(), 0, nullptr, 0) == 0 || errno != ESRCH);
}

bool process_handle::ended() const {
  if (!pidfd_) {
    return true;
  }
  pollfd ready{pidfd(), POLLIN, 0};
  return poll(&ready, 1, 0) > 0 && (ready.revents & (POLLIN | POLLHUP)) != 0;
}

bool process_handle::running() const {
  // A pidfd turns readable when its process ends and stays so once it is
  // reaped: nothing ready shows it has done neither.
  if (!pidfd_) {
    return false;
  }
  pollfd ready{pidfd(), POLLIN, 0};
  const int ready_count = poll(&ready, 1, 0);
  if (ready_count == 0) {
    return true;
  }
  return ready_count < 0 && verify() && !ended();
}

int process_handle::send(int signal) const {
  return static_cast<int>(syscall(SYS_pidfd_send_signal, pidfd(), signal, nullptr, 0));
}

}  // namespace corvane_host
