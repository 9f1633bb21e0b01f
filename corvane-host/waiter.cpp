// SPDX-License-Identifier: MIT
#include "waiter.h"

#include <poll.h>

#include <cerrno>
#include <thread>

#include "proc_table.h"

namespace corvane_host {
namespace {

using clock = std::chrono::steady_clock;

bool still_running(const tracked_process& process) {
  if (process.pidfd) {
    pollfd one{process.pidfd.get(), POLLIN, 0};
    return poll(&one, 1, 0) == 0;
  }
  // Where the process cannot be read, it is not known to have ended.
  const proc_result<stat_fields> stat = read_stat(process.pid);
  if (!stat.value) {
    return !stat.gone();
  }
  return stat.value->state != 'Z' && stat.value->start_time == process.start;
}

std::vector<const tracked_process*> running_of(const std::vector<const tracked_process*>& all) {
  std::vector<const tracked_process*> running;
  for (const tracked_process* process : all) {
    if (still_running(*process)) {
      running.push_back(process);
    }
  }
  return running;
}

// Sleeps until one pidfd becomes readable (its process ended) or the deadline.
void wait_a_while(const std::vector<const tracked_process*>& running, clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
  if (left.count() <= 0) {
    return;
  }
  std::vector<pollfd> fds;
  for (const tracked_process* process : running) {
    if (process->pidfd) {
      fds.push_back({process->pidfd.get(), POLLIN, 0});
    }
  }
  if (fds.size() != running.size()) {
    // Some cannot be polled: look again soon.
    std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(20)));
    return;
  }
  poll(fds.data(), fds.size(), static_cast<int>(left.count()));
}

}  // namespace

std::vector<pid_t> wait_for_exit(const std::vector<tracked_process>& processes,
                                 std::chrono::milliseconds timeout) {
  const clock::time_point deadline = clock::now() + timeout;
  std::vector<const tracked_process*> running;
  running.reserve(processes.size());
  for (const tracked_process& process : processes) {
    running.push_back(&process);
  }
  running = running_of(running);
  while (!running.empty() && clock::now() < deadline) {
    wait_a_while(running, deadline);
    running = running_of(running);
  }
  std::vector<pid_t> survivors;
  survivors.reserve(running.size());
  for (const tracked_process* process : running) {
    survivors.push_back(process->pid);
  }
  return survivors;
}

}  // namespace corvane_host
