// SPDX-License-Identifier: MIT
#include "verified_signals.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <optional>

namespace corvane_host {
namespace {

struct signal_scope {
  std::map<pid_t, process_identity> allowed;
  std::map<pid_t, int> sends;
};

std::optional<signal_scope>& current_scope() {
  static std::optional<signal_scope> scope;
  return scope;
}

}  // namespace

int send_verified(const process_identity& who, int signal) {
  const pin_result pinned = process_handle::pin(who);
  if (!pinned.handle) {
    errno = pinned.error;
    return -1;
  }
  return pinned.handle->send(signal);
}

verified_signals::verified_signals(const std::vector<process_identity>& processes) {
  signal_scope scope;
  for (const process_identity& who : processes) {
    scope.allowed.emplace(who.pid, who);
  }
  current_scope() = std::move(scope);
}

verified_signals::~verified_signals() { current_scope().reset(); }

// NOLINTNEXTLINE(readability-convert-member-functions-to-static)
const std::map<pid_t, int>& verified_signals::sends() const { return current_scope()->sends; }

}  // namespace corvane_host

// The plug-in's kill(), and every other in this program. Its parameters are named as
// ours are, not as the C library's header names them.
// NOLINTBEGIN(readability-inconsistent-declaration-parameter-name)
extern "C" int kill(pid_t pid, int signal) {
  std::optional<corvane_host::signal_scope>& scope = corvane_host::current_scope();
  if (!scope) {
    return static_cast<int>(syscall(SYS_kill, pid, signal));
  }
  const auto who = scope->allowed.find(pid);
  const int result = who == scope->allowed.end() ? (errno = EPERM, -1)
                                                 : corvane_host::send_verified(who->second, signal);
  const int error = result == 0 ? 0 : errno;
  scope->sends[pid] = error;
  errno = error;
  return result;
}
// NOLINTEND(readability-inconsistent-declaration-parameter-name)
