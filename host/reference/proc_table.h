// What the reference host reads from /proc.
#ifndef CORVANE_HOST_PROC_TABLE_H
#define CORVANE_HOST_PROC_TABLE_H

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

#include "host-services.h"

namespace corvane_host {

// Every process, ID to command: the absolute path of its executable (the
// kernel's " (deleted)" mark removed, so programs whose file an upgrade
// replaced are still found); where that cannot be read, the first element of
// its command line; where that is empty, "[comm]". Processes that end during
// the scan are left out.
proc_map_t scan_processes();

// The process's start time in clock ticks after boot; nullopt when it is gone.
std::optional<std::uint64_t> start_time(pid_t pid);

struct process_status {
  char state = '?';  // R, S, D, T (stopped), t (traced), Z, ...
  bool ignores_sigterm = false;
  bool blocks_sigterm = false;
  uid_t real_uid = 0;
  uid_t saved_uid = 0;
};

// nullopt when the process is gone.
std::optional<process_status> read_status(pid_t pid);

// The user's name, or the number when it has none.
std::string user_name(uid_t uid);

}  // namespace corvane_host

#endif
