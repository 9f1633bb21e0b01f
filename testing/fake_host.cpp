// SPDX-License-Identifier: MIT
#include "fake_host.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

namespace fake {

host_state& host() {
  static host_state state;
  return state;
}

std::vector<std::string> calls_of(const std::string& kind) {
  std::vector<std::string> found;
  const std::string prefix = kind + " ";
  for (const std::string& call : host().calls) {
    if (call.compare(0, prefix.size(), prefix) == 0) {
      found.push_back(call.substr(prefix.size()));
    }
  }
  return found;
}

bool is_own_child(pid_t pid) {
  if (pid <= 0) {
    return false;
  }
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  const std::string stat((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  // "PID (COMM) STATE PPID ...": the name may hold anything, so read after its last ")".
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos) {
    return false;
  }
  std::istringstream fields(stat.substr(close + 1));
  char state = 0;
  pid_t parent = 0;
  return static_cast<bool>(fields >> state >> parent) && parent == getpid();
}

namespace {

// kill() is the C library's and never throws; only host services are made to.
// `describe` builds the call's text, only when it is needed.
template <typename Describe>
void record(Describe describe, bool host_service = true) {
  host_state& state = host();
  if (host_service && ++state.call_count == state.throw_at_call) {
    throw host_failure("host service failed at: " + describe());
  }
  if (state.recording) {
    state.calls.push_back(describe());
  }
}

void expect_own_session(const session_t* session) {
  if (session != &host().session) {
    record([] { return std::string("foreign session"); });
  }
}

std::string format_message(const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): clang-analyzer does not follow va_copy.
  const int length = std::vsnprintf(nullptr, 0, format, again);
  va_end(again);
  std::string text(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, args);
  return text;
}

}  // namespace
}  // namespace fake

bool env_exists(session_t* session, const char* key) {
  fake::expect_own_session(session);
  fake::record([key] { return std::string("env_exists ") + key; });
  return session->values.count(key) != 0;
}

std::string env_get_string(session_t* session, const char* key) {
  fake::expect_own_session(session);
  fake::record([key] { return std::string("env_get_string ") + key; });
  const auto it = session->values.find(key);
  return it == session->values.end() ? std::string() : it->second;
}

void env_set_string(session_t* session, const std::string& key, const std::string& value) {
  fake::expect_own_session(session);
  fake::record([&] { return "env_set_string " + key + "=" + value; });
  session->values[key] = value;
}

void print_log(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string message = fake::format_message(format, args);
  va_end(args);
  fake::record([&] { return "log " + message; });
}

proc_map_t get_process_list() {
  fake::record([] { return std::string("get_process_list"); });
  fake::host_state& state = fake::host();
  return state.hand_over_processes ? std::move(state.processes) : state.processes;
}

std::string path(std::string p) {
  fake::record([&] { return "path " + p; });
  return fake::host().path(std::move(p));
}

std::string get_dirname(const std::string& p) {
  fake::record([&] { return "get_dirname " + p; });
  return fake::host().dirname(p);
}

// Interposes the C library's kill() for the plug-in, which binds to the
// executable's definition first. A regression that reaches kill() with 0, a
// negative ID or a stranger's ID is recorded and answered -1, never sent.
extern "C" int kill(pid_t pid, int signal) {
  fake::record([=] { return "kill " + std::to_string(pid) + " " + std::to_string(signal); }, false);
  std::deque<int>& scripted = fake::host().kill_results;
  if (!scripted.empty()) {
    const int result = scripted.front();
    scripted.pop_front();
    return result;
  }
  if (!fake::is_own_child(pid)) {
    errno = EPERM;
    return -1;
  }
  using kill_fn = int (*)(pid_t, int);
  static const auto real_kill = reinterpret_cast<kill_fn>(dlsym(RTLD_NEXT, "kill"));
  return real_kill(pid, signal);
}
