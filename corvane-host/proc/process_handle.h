// SPDX-License-Identifier: MIT
// A process pinned by a pidfd. Whatever the host reads about a process in
// /proc it reads through a handle: pin first, read through the pinned
// process's own /proc directory, then verify that the pin still holds. The
// identity recorded by the check is the one read at its decision, and every
// later step (the guard, the signal, the wait) pins that identity again and
// is told whether its ID still names that very process.
#ifndef CORVANE_HOST_PROCESS_HANDLE_H
#define CORVANE_HOST_PROCESS_HANDLE_H

#include <sys/types.h>

#include <cstdint>
#include <optional>

#include "base/unique_fd.h"
#include "proc/proc_parse.h"

namespace corvane_host {

// Who a process is: its ID, its start time and, where the kernel has pidfs
// (Linux 6.9 and later), its pidfd's inode, which no other process of this
// boot shares; 0 where there is none.
struct process_identity {
  pid_t pid = 0;
  std::uint64_t start_time = 0;
  std::uint64_t inode = 0;

  bool operator==(const process_identity& other) const {
    return pid == other.pid && start_time == other.start_time && inode == other.inode;
  }
  bool operator!=(const process_identity& other) const { return !(*this == other); }
};

struct pin_result;

class process_handle {
 public:
  // Pins the process that has `pid` now; `proc_fd` is the /proc to read.
  static pin_result pin(pid_t pid, int proc_fd);
  // Pins as pin() does, but reads nothing yet and leaves the verification to
  // the caller, for a scan that acts on a process only once it has verified
  // it after reading: what is read through the handle is of one process (its
  // /proc directory fails once that process has gone), and a later verify()
  // or running() proves that process is the pinned one. stat() and the start
  // time hold once read_stat() has succeeded.
  static pin_result pin_unverified(pid_t pid, int proc_fd);
  // Pins `who` again, through this host's /proc.
  static pin_result pin(const process_identity& who);

  // Reads /proc/PID/stat through the handle: 0, or the errno that kept it
  // from being read (EBADMSG: it did not parse).
  [[nodiscard]] int read_stat();

  // The pidfd's inode is asked for on first use: most pinned processes are
  // looked at and let go.
  [[nodiscard]] const process_identity& identity() const;
  [[nodiscard]] const stat_fields& stat() const { return stat_; }
  [[nodiscard]] int pidfd() const { return pidfd_.get(); }
  // The process's own /proc directory: a read through it fails once the
  // process has gone, rather than reach a process that reuses its ID.
  [[nodiscard]] int proc_dir() const { return dir_.get(); }

  // The one verification: the pinned process has not been reaped, so its ID
  // was never free, and everything read since the pin was this process's.
  [[nodiscard]] bool verify() const;
  // Whether the process has ended (a zombie has).
  [[nodiscard]] bool ended() const;
  // verify() and not ended(), in one system call where the kernel answers it.
  [[nodiscard]] bool running() const;
  // pidfd_send_signal: 0, or -1 with errno.
  [[nodiscard]] int send(int signal) const;
  // Lets the /proc directory go; waiting needs the pidfd alone.
  void release_proc_dir() { dir_ = unique_fd(); }

 private:
  process_handle(unique_fd pidfd, unique_fd dir) : pidfd_(std::move(pidfd)), dir_(std::move(dir)) {}

  unique_fd pidfd_;
  unique_fd dir_;
  mutable process_identity identity_;
  mutable bool inode_known_ = false;
  stat_fields stat_;
};

// A handle, or why there is none: ESRCH, the process has gone; ESTALE, its ID
// names another process now; otherwise errno's own reason.
struct pin_result {
  std::optional<process_handle> handle;
  int error = 0;
};

// This host's /proc, held open for its whole run.
int host_proc();

}  // namespace corvane_host

#endif
