// A recording installer host: an in-memory session, every host call recorded
// in order, a scripted process list, and scriptable path services and kill().
// The test binary exports these services, so the plug-in binds to them when
// it is dlopen()ed, just as it binds to a real installer's.
#ifndef CORVANE_TESTS_FAKE_HOST_H
#define CORVANE_TESTS_FAKE_HOST_H

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
  // Every call, e.g. "env_get_string SHORT_DESC" or "log corvane_killer: ...".
  std::vector<std::string> calls;
  proc_map_t processes;
  std::function<std::string(std::string)> path = [](std::string p) { return p; };
  std::function<std::string(const std::string&)> dirname = [](const std::string& p) { return p; };
  // The 1-based host service call that throws host_failure; 0: none.
  long throw_at_call = 0;
  long call_count = 0;
  // Results for the next kill() calls; when empty, kill() is the real one.
  std::deque<int> kill_results;
};

// The state the services work on; tests reset it with `host() = {}`.
host_state& host();

// The calls of one kind, without their prefix: log_lines() = calls "log ...".
std::vector<std::string> calls_of(const std::string& kind);
inline std::vector<std::string> log_lines() { return calls_of("log"); }

}  // namespace fake

#endif
