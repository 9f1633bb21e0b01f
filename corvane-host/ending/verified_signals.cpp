// SPDX-License-Identifier: MIT
#include "ending/verified_signals.h"

#include <cerrno>
#include <csignal>
#include <type_traits>
#include <utility>

namespace corvane_host {

// Noting a send's outcome once it is out must not throw.
static_assert(std::is_nothrow_move_assignable_v<std::optional<parent_process>>);

verified_send send_verified(const recorded_process& recorded, const installation& where,
                            int proc_fd, int signal) {
  const proof proven = prove_again(recorded, where, proc_fd);
  if (!proven.handle) {
    return {proven.because, std::nullopt};
  }
  verified_send sent{std::nullopt,
                     signal == SIGTERM ? read_parent(*proven.handle, proc_fd) : std::nullopt};
  if (proven.handle->send(signal) != 0) {
    sent.failed = reason_of_error(errno);
  } else if (signal == SIGTERM) {
    // A stopped process keeps SIGTERM pending until it continues, and it may
    // have been stopped since the check looked: continue it, as service
    // managers do. SIGCONT does nothing to one that runs.
    (void)proven.handle->send(SIGCONT);
  }
  return sent;
}

signal_scope::signal_scope(const std::vector<recorded_process>& processes, installation where,
                           int proc_fd)
    : where_(std::move(where)), proc_fd_(proc_fd) {
  for (const recorded_process& recorded : processes) {
    processes_.emplace(recorded.who.pid, process{recorded, false, std::nullopt, std::nullopt});
  }
}

std::optional<reason> signal_scope::send(pid_t pid, int signal) {
  const auto found = processes_.find(pid);
  if (found == processes_.end()) {
    return reason{why::system_error, EPERM};
  }
  process& one = found->second;
  // Its entry exists already: noting the outcome allocates nothing.
  verified_send sent = send_verified(one.recorded, where_, proc_fd_, signal);
  one.failed = sent.failed;
  one.parent = std::move(sent.parent);
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

std::optional<parent_process> signal_scope::parent_of(pid_t pid) const {
  const auto found = processes_.find(pid);
  return found == processes_.end() ? std::nullopt : found->second.parent;
}

}  // namespace corvane_host
