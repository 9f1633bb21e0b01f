// SPDX-License-Identifier: MIT
// Why one SIGTERM may not end a recorded process, said as the kernel will
// act: a process-directed SIGTERM is taken by any thread that does not block
// it, and then the process-wide disposition decides.
#ifndef CORVANE_HOST_WARNINGS_H
#define CORVANE_HOST_WARNINGS_H

#include <string>
#include <vector>

#include "proc/proc_parse.h"
#include "proc/proc_table.h"

namespace corvane_host {

struct sigterm_view {
  process_status status;
  // Some thread leaves SIGTERM unblocked, or, every thread blocking it, a
  // signalfd or a thread in sigwait() consumes it.
  bool taken_at_once = true;
  std::string foreign_owner;  // the owner's name where this host may not signal it
  std::string unit;           // the systemd service it belongs to, if any
  // For the first process of a pid namespace that handles SIGTERM: the other
  // processes of its namespace, which its end takes down.
  namespace_members namespace_others;
};

std::vector<std::string> warnings_of(const sigterm_view& view);

}  // namespace corvane_host

#endif
