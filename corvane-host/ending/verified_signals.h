// SPDX-License-Identifier: MIT
// Signals that reach only the process they were meant for. Each goes through
// a pidfd that pins the recorded identity, and only once the process is
// proven again to run the installation's code, so that no reused ID and no
// process that has exec'd a stranger's program can receive it. The plug-in's
// kill() does its work here, within the scope of one plug-in call; the host's
// own code never calls kill(): it signals and probes through its handles.
#ifndef CORVANE_HOST_VERIFIED_SIGNALS_H
#define CORVANE_HOST_VERIFIED_SIGNALS_H

#include <sys/types.h>

#include <map>
#include <optional>
#include <vector>

#include "ending/pid_guard.h"
#include "proc/proc_table.h"

namespace corvane_host {

// What a verified send did.
struct verified_send {
  std::optional<reason> failed;          // nullopt: the signal went out
  std::optional<parent_process> parent;  // for SIGTERM, its parent at the proof, where known
};

// Sends `signal` to a recorded process, proven again just before on its own
// handle (prove_again). A process that has since exec'd a program that is not
// the installation's is not the installation's any more. SIGTERM is followed
// by SIGCONT through the same handle.
verified_send send_verified(const recorded_process& recorded, const installation& where,
                            int proc_fd, int signal);

// The processes one plug-in call may signal, and what became of each send.
class signal_scope {
 public:
  signal_scope(const std::vector<recorded_process>& processes, installation where, int proc_fd);

  // Sends `signal` to `pid` where it is one of the processes, verified;
  // any other ID is refused (EPERM). Nullopt, or why nothing went out. Once
  // a signal is out nothing here allocates or throws: a send that throws
  // sent nothing.
  std::optional<reason> send(pid_t pid, int signal);
  // Notes that the send to `pid` failed because its work threw.
  void note_failure(pid_t pid, const reason& because) noexcept;

  // Nullopt where the last send to `pid` went out; otherwise why not (the
  // plug-in may have sent it nothing).
  [[nodiscard]] std::optional<reason> failure_of(pid_t pid) const noexcept;
  // The parent `pid` had when the plug-in's SIGTERM reached it, where known.
  [[nodiscard]] std::optional<parent_process> parent_of(pid_t pid) const;

 private:
  struct process {
    recorded_process recorded;
    bool asked = false;            // whether the plug-in sent it anything
    std::optional<reason> failed;  // why the last send did not go out
    std::optional<parent_process> parent;
  };
  installation where_;
  int proc_fd_;
  std::map<pid_t, process> processes_;
};

}  // namespace corvane_host

#endif
