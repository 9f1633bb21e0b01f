// SPDX-License-Identifier: MIT
// A recording installer host, shared by the tests, the fuzz targets and the
// benchmarks: an in-memory session, every host call recorded in order, a
// scripted process list and path services, and a kill() that can reach no
// process but the caller's own children. The binary that links it exports
// these services, so the plug-in binds to them when it is loaded, just as it
// binds to a real installer's.
#ifndef CORVANE_TESTING_FAKE_HOST_H
#define CORVANE_TESTING_FAKE_HOST_H

#include <sys/types.h>

#include <deque>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "host-services.h"

struct session_t {
  std::map<std::string, std::string> values;
};

namespace fake {

// Thrown by a service at the call chosen with `throw_at_call`.
struct host_failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct host_state {
  session_t session;
  // Every call, e.g. "env_get_string SHORT_DESC", "log corvane_killer: ...", "kill 10 15".
  std::vector<std::string> calls;
  proc_map_t processes;
  // get_process_list() moves `processes` out, as a host hands over a fresh snapshot.
  bool hand_over_processes = false;
  std::function<std::string(std::string)> path = [](std::string p) { return p; };
  std::function<std::string(const std::string&)> dirname = [](const std::string& p) { return p; };
  // Whether calls are recorded; a benchmark measures the plug-in, not this
  // host's bookkeeping (messages are still formatted, as any host must).
  bool recording = true;
  // The 1-based host service call that throws host_failure; 0: none.
  long throw_at_call = 0;
  long call_count = 0;
  // Results for the next kill() calls. When none is scripted, kill() signals
  // a child of this process for real and answers -1 (EPERM) for any other ID.
  std::deque<int> kill_results;
};

// The state the services work on; reset it with `host() = {}`.
host_state& host();

// The calls of one kind, without their prefix: log_lines() = calls "log ...".
std::vector<std::string> calls_of(const std::string& kind);
inline std::vector<std::string> log_lines() { return calls_of("log"); }

// Whether `pid` names a child of this process: the only processes that the
// fake kill() lets a real signal reach.
bool is_own_child(pid_t pid);

}  // namespace fake

#endif
