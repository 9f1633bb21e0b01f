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
  // Pins `who` again: ESTALE where its ID names another process now.
  static pin_result pin(const process_identity& who, int proc_fd);
  // The process that has `pid` now, looked at through its /proc directory
  // alone, for a scan that reads a great many and decides on few: what is
  // read through it is one process's, or the read fails. read_stat() pins
  // that process; until then verify(), ended(), running() and send() find
  // none, and the identity holds the ID alone.
  static pin_result look_at(pid_t pid, int proc_fd);

  // Reads /proc/PID/stat through the handle, pinning first a process only
  // looked at: a read after its pidfd is opened shows both are of one
  // process. 0, or the errno that kept it from being read (EBADMSG: it did
  // not parse; ESRCH: the process has gone).
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
  // The same process through descriptors of its own: for a job that may
  // outlive this handle (base/time_bound.h).
  [[nodiscard]] process_handle duplicate() const;
  // Lets the /proc directory go; waiting needs the pidfd alone.
  void release_proc_dir() { dir_ = unique_fd(); }

 private:
  process_handle(unique_fd pidfd, unique_fd dir, pid_t pid)
      : pidfd_(std::move(pidfd)), dir_(std::move(dir)) {
    identity_.pid = pid;
  }

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

// This host's /proc, opened once by a command and passed down to every
// reader; throws failure when it cannot be opened.
unique_fd open_proc();

}  // namespace corvane_host

#endif
