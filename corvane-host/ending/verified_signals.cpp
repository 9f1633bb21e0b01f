// SPDX-License-Identifier: MIT
#include "ending/verified_signals.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <optional>

namespace corvane_host {
namespace {

struct signal_scope {
  const installation* where = nullptr;
  std::map<pid_t, recorded_process> allowed;
  std::map<pid_t, std::optional<reason>> sends;
};

std::optional<signal_scope>& current_scope() {
  static std::optional<signal_scope> scope;
  return scope;
}

}  // namespace

std::optional<reason> send_verified(const recorded_process& recorded, const installation& where,
                                    int signal) {
  const proof proven = prove_again(recorded, where);
  if (!proven.handle) {
    return proven.because;
  }
  if (proven.handle->send(signal) != 0) {
    return reason_of_error(errno);
  }
  return std::nullopt;
}

verified_signals::verified_signals(const std::vector<recorded_process>& processes,
                                   const installation& where) {
  signal_scope scope;
  scope.where = &where;
  for (const recorded_process& recorded : processes) {
    scope.allowed.emplace(recorded.who.pid, recorded);
  }
  current_scope() = std::move(scope);
}

verified_signals::~verified_signals() { current_scope().reset(); }

// NOLINTNEXTLINE(readability-convert-member-functions-to-static)
const std::map<pid_t, std::optional<reason>>& verified_signals::sends() const {
  return current_scope()->sends;
}

}  // namespace corvane_host

// The plug-in's kill(), and every other in this program. Its parameters are named as
// ours are, not as the C library's header names them.
// NOLINTBEGIN(readability-inconsistent-declaration-parameter-name)
extern "C" int kill(pid_t pid, int signal) {
  using corvane_host::why;
  std::optional<corvane_host::signal_scope>& scope = corvane_host::current_scope();
  if (!scope) {
    return static_cast<int>(syscall(SYS_kill, pid, signal));
  }
  const auto recorded = scope->allowed.find(pid);
  const std::optional<corvane_host::reason> failed =
      recorded == scope->allowed.end()
          ? corvane_host::reason{why::system_error, EPERM}
          : corvane_host::send_verified(recorded->second, *scope->where, signal);
  scope->sends[pid] = failed;
  if (!failed) {
    return 0;
  }
  errno = failed->why == why::system_error ? failed->error
          : failed->why == why::has_ended  ? ESRCH
                                           : EPERM;
  return -1;
}
// NOLINTEND(readability-inconsistent-declaration-parameter-name)
