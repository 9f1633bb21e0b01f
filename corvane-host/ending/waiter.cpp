// SPDX-License-Identifier: MIT
#include "ending/waiter.h"

#include <poll.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <thread>

namespace corvane_host {
namespace {

using clock = std::chrono::steady_clock;

// Descriptors a batch may hold: half the limit, the rest left to the host.
std::size_t batch_size() {
  rlimit limit{};
  const rlim_t files = getrlimit(RLIMIT_NOFILE, &limit) == 0 ? limit.rlim_cur : 64;
  return std::max<std::size_t>(1, static_cast<std::size_t>(std::min<rlim_t>(files, 65536)) / 2);
}

struct watched {
  const process_identity* who;
  process_handle handle;
};

// Waits for the batch until all have ended or the deadline; returns those still running.
std::vector<const process_identity*> wait_for_batch(std::vector<watched> batch,
                                                    clock::time_point deadline) {
  // An empty batch (all already gone) has nothing to wait for: poll would sleep to the deadline.
  while (!batch.empty()) {
    std::vector<pollfd> fds;
    fds.reserve(batch.size());
    for (const watched& one : batch) {
      fds.push_back({one.handle.pidfd(), POLLIN, 0});
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
    if (poll(fds.data(), fds.size(), static_cast<int>(std::max<long long>(0, left))) < 0 &&
        errno != EINTR) {
      break;
    }
    std::vector<watched> running;
    for (std::size_t i = 0; i < batch.size(); ++i) {
      if ((fds[i].revents & (POLLIN | POLLHUP)) == 0) {
        running.push_back(std::move(batch[i]));
      }
    }
    batch = std::move(running);
    if (clock::now() >= deadline) {
      break;
    }
  }
  std::vector<const process_identity*> still;
  still.reserve(batch.size());
  for (const watched& one : batch) {
    still.push_back(one.who);
  }
  return still;
}

}  // namespace

std::vector<process_identity> wait_for_exit(const std::vector<process_identity>& processes,
                                            std::chrono::steady_clock::time_point deadline,
                                            int proc_fd) {
  std::vector<process_identity> still_running;
  const std::size_t size = batch_size();
  for (std::size_t start = 0; start < processes.size(); start += size) {
    std::vector<watched> batch;
    for (std::size_t i = start; i < std::min(start + size, processes.size()); ++i) {
      pin_result pinned = process_handle::pin(processes[i], proc_fd);
      if (pinned.handle) {
        pinned.handle->release_proc_dir();
        batch.push_back({&processes[i], std::move(*pinned.handle)});
      } else if (pinned.error != ESRCH && pinned.error != ESTALE) {
        still_running.push_back(processes[i]);  // not known to have ended
      }
    }
    for (const process_identity* who : wait_for_batch(std::move(batch), deadline)) {
      still_running.push_back(*who);
    }
  }
  if (!still_running.empty()) {
    // What could not be watched still gets the whole wait before any escalation.
    std::this_thread::sleep_until(deadline);
  }
  return still_running;
}

}  // namespace corvane_host
