// SPDX-License-Identifier: MIT
// How long one run of the host waits for file systems. A lookup in a file
// system that does not answer (a FUSE server that never replies, an NFS or
// SMB server that went away) waits in the kernel, where only SIGKILL ends
// it. So every job that may block so runs on a helper thread, and the host
// waits for it a bounded time; a job not done in time is abandoned, never
// waited for again, and what it was about is counted as not inspected. An
// abandoned job owns everything it touches (it is handed copies and shared
// ownership), so it may wake up whenever its file system answers, or never.
#ifndef CORVANE_HOST_BASE_TIME_BOUND_H
#define CORVANE_HOST_BASE_TIME_BOUND_H

#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace corvane_host {

class time_bound {
 public:
  // The most the whole run waits on jobs that do not end; any one job is
  // waited for at most a fifth of it.
  explicit time_bound(std::chrono::milliseconds total);
  time_bound(const time_bound&) = delete;
  time_bound& operator=(const time_bound&) = delete;
  ~time_bound();

  // Runs `job` on the helper and waits for it as long as the bound allows:
  // true when it ended in time. Once the time for jobs that do not end is
  // spent, false at once, and `job` does not run.
  [[nodiscard]] bool run(std::function<void()> job);
  // Runs `jobs` one after another on the helper, handed over at once: one
  // wake-up for all of them, not one each. Each is waited for as run() waits
  // for one; one not done in time is abandoned with its helper, and those
  // after it go on on a new one. Which ended in time, by index.
  [[nodiscard]] std::vector<bool> run_all(std::vector<std::function<void()>> jobs);
  // Whether a job was abandoned: a helper thread may still be waiting in
  // the kernel, and the program must end without running destructors of
  // anything it could touch (std::_Exit after its output is flushed).
  [[nodiscard]] bool abandoned() const { return abandoned_; }

 private:
  struct helper;
  void start_helper();
  void abandon_helper(std::chrono::steady_clock::time_point job_started);

  std::chrono::milliseconds left_;
  std::chrono::milliseconds each_;
  std::shared_ptr<helper> helper_;
  std::thread thread_;  // the helper's, joined unless abandoned
  bool abandoned_ = false;
};

}  // namespace corvane_host

#endif
