// SPDX-License-Identifier: MIT
// A recording installer host for the fuzz targets and benchmarks: an in-memory session,
// every host call recorded in order, a kill() that sends nothing (0 for even IDs, -1 for
// odd ones). The binary that links it exports these services to the plug-in.
#ifndef CORVANE_TESTING_FAKE_HOST_H
#define CORVANE_TESTING_FAKE_HOST_H

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

// Thrown by the host service call chosen with `throw_at_call`.
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
  // Where set, get_process_list() returns a copy of this instead (kept by the caller).
  const proc_map_t* snapshot = nullptr;
  std::function<std::string(std::string)> path = [](std::string p) { return p; };
  std::function<std::string(const std::string&)> dirname = [](const std::string& p) { return p; };
  // A benchmark measures the plug-in, not this bookkeeping (messages are
  // still formatted, as any host must).
  bool recording = true;
  long throw_at_call = 0;  // 1-based; 0: none
  long call_count = 0;
};

// The state the services work on; reset it with `host() = {}`.
host_state& host();

}  // namespace fake

#endif
