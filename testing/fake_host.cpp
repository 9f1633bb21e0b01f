// SPDX-License-Identifier: MIT
#include "fake_host.h"

#include <cerrno>
#include <cstdarg>
#include <string>

#include "base/text.h"

namespace fake {

host_state& host() {
  static host_state state;
  return state;
}

namespace {

// kill() is the C library's and never throws; only host services are made to.
// `describe` builds the call's text, only when it is needed.
template <typename Describe>
void record(const session_t* session, Describe describe, bool host_service = true) {
  host_state& state = host();
  if (host_service && ++state.call_count == state.throw_at_call) {
    throw host_failure("host service failed at: " + describe());
  }
  if (state.recording) {
    state.calls.push_back(session == &state.session ? describe() : "foreign session");
  }
}

}  // namespace
}  // namespace fake

bool env_exists(session_t* session, const char* key) {
  fake::record(session, [key] { return std::string("env_exists ") + key; });
  return session->values.count(key) != 0;
}

std::string env_get_string(session_t* session, const char* key) {
  fake::record(session, [key] { return std::string("env_get_string ") + key; });
  const auto it = session->values.find(key);
  return it == session->values.end() ? std::string() : it->second;
}

void env_set_string(session_t* session, const std::string& key, const std::string& value) {
  fake::record(session, [&] { return "env_set_string " + key + "=" + value; });
  session->values[key] = value;
}

void print_log(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string message = corvane_host::vformat(format, args);
  va_end(args);
  fake::record(&fake::host().session, [&] { return "log " + message; });
}

proc_map_t get_process_list() {
  fake::host_state& state = fake::host();
  fake::record(&state.session, [] { return std::string("get_process_list"); });
  if (state.snapshot != nullptr) {
    return *state.snapshot;
  }
  return state.hand_over_processes ? std::move(state.processes) : state.processes;
}

std::string path(std::string p) {
  fake::record(&fake::host().session, [&] { return "path " + p; });
  return fake::host().path(std::move(p));
}

std::string get_dirname(const std::string& p) {
  fake::record(&fake::host().session, [&] { return "get_dirname " + p; });
  return fake::host().dirname(p);
}

// Interposes the C library's kill() for the plug-in, which binds to the executable's definition
// first: no signal leaves a test, whatever ID a regression hands to kill().
extern "C" int kill(pid_t pid, int signal) {
  fake::record(
      &fake::host().session,
      [=] { return "kill " + std::to_string(pid) + " " + std::to_string(signal); }, false);
  if (pid % 2 != 0) {
    errno = ESRCH;
    return -1;
  }
  return 0;
}
