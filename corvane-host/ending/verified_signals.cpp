// SPDX-License-Identifier: MIT
#include "ending/verified_signals.h"

#include <cerrno>
#include <utility>

namespace corvane_host {

std::optional<reason> send_verified(const recorded_process& recorded, const installation& where,
                                    int proc_fd, int signal) {
  const proof proven = prove_again(recorded, where, proc_fd);
  if (!proven.handle) {
    return proven.because;
  }
  if (proven.handle->send(signal) != 0) {
    return reason_of_error(errno);
  }
  return std::nullopt;
}

signal_scope::signal_scope(const std::vector<recorded_process>& processes, installation where,
                           int proc_fd)
    : where_(std::move(where)), proc_fd_(proc_fd) {
  for (const recorded_process& recorded : processes) {
    processes_.emplace(recorded.who.pid, process{recorded, false, std::nullopt});
  }
}

std::optional<reason> signal_scope::send(pid_t pid, int signal) {
  const auto found = processes_.find(pid);
  if (found == processes_.end()) {
    return reason{why::system_error, EPERM};
  }
  process& one = found->second;
  // Its entry exists already: noting the outcome allocates nothing.
  one.failed = send_verified(one.recorded, where_, proc_fd_, signal);
  one.asked = true;
  return one.failed;
}

void signal_scope::note_failure(pid_t pid, const reason& because) noexcept {
  const auto found = processes_.find(pid);
  if (found != processes_.end()) {
    found->second.failed = because;
    found->second.asked = true;
  }
}

std::optional<reason> signal_scope::failure_of(pid_t pid) const noexcept {
  const auto found = processes_.find(pid);
  if (found == processes_.end() || !found->second.asked) {
    return reason{why::not_signalled_by_plugin, 0};
  }
  return found->second.failed;
}

}  // namespace corvane_host
