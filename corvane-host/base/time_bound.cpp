// SPDX-License-Identifier: MIT
#include "base/time_bound.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>

namespace corvane_host {

// One helper thread and the jobs it takes, in order. The thread holds its
// own share of this, so it outlives an abandoning host.
struct time_bound::helper {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<std::function<void()>> jobs;        // handed over; each taken once
  std::size_t next = 0;                           // the first not yet taken
  std::size_t ended = 0;                          // how many taken have ended
  std::chrono::steady_clock::time_point started;  // when the last taken began
  bool stop = false;                              // the host let go of this helper

  static void serve(const std::shared_ptr<helper>& self) {
    std::unique_lock<std::mutex> held(self->lock);
    for (;;) {
      self->changed.wait(held, [&self] { return self->stop || self->next < self->jobs.size(); });
      if (self->stop) {
        return;
      }
      std::function<void()> job = std::move(self->jobs[self->next++]);
      self->started = std::chrono::steady_clock::now();
      held.unlock();
      job();
      job = nullptr;  // what it owns goes here, outside the lock
      held.lock();
      if (++self->ended == self->jobs.size()) {
        self->changed.notify_all();
      }
    }
  }
};

time_bound::time_bound(std::chrono::milliseconds total) : left_(total), each_(total / 5) {}

time_bound::~time_bound() {
  if (helper_) {
    {
      const std::lock_guard<std::mutex> held(helper_->lock);
      helper_->stop = true;
    }
    helper_->changed.notify_all();
    thread_.join();
  }
}

void time_bound::start_helper() {
  helper_ = std::make_shared<helper>();
  thread_ = std::thread(helper::serve, helper_);
}

// Called with the helper's lock held: it stops once its job ends, if ever,
// and the next job gets a new helper.
void time_bound::abandon_helper(std::chrono::steady_clock::time_point job_started) {
  helper_->stop = true;
  thread_.detach();
  helper_.reset();
  abandoned_ = true;
  left_ -= std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 job_started);
}

bool time_bound::run(std::function<void()> job) {
  std::vector<std::function<void()>> one;
  one.push_back(std::move(job));
  return run_all(std::move(one)).front();
}

std::vector<bool> time_bound::run_all(std::vector<std::function<void()>> jobs) {
  std::vector<bool> in_time(jobs.size(), false);
  std::size_t done = 0;  // jobs before this one are decided
  while (done < jobs.size() && left_.count() > 0) {
    if (!helper_) {
      start_helper();
    }
    const std::shared_ptr<helper> current = helper_;
    std::unique_lock<std::mutex> held(current->lock);
    const std::size_t first = done;
    current->jobs.assign(std::make_move_iterator(jobs.begin() + static_cast<std::ptrdiff_t>(first)),
                         std::make_move_iterator(jobs.end()));
    current->next = 0;
    current->ended = 0;
    current->changed.notify_all();
    const std::size_t count = current->jobs.size();
    // Woken when all have ended, or when the one running may have run too
    // long: not once a job, which would cost two switches of thread each.
    while (current->ended < count) {
      const auto now = std::chrono::steady_clock::now();
      const bool running = current->next > current->ended;
      const auto budget = std::min(each_, left_);
      if (!running || now < current->started + budget) {
        const std::size_t watched = current->ended;
        current->changed.wait_until(held, (running ? current->started : now) + budget,
                                    [&current, count, watched] {
                                      return current->ended == count || current->ended > watched;
                                    });
        continue;
      }
      // Abandoned with its helper; those after it go to a new one.
      const std::size_t stalled = current->ended;
      std::vector<std::function<void()>> rest(
          std::make_move_iterator(current->jobs.begin() + static_cast<std::ptrdiff_t>(stalled + 1)),
          std::make_move_iterator(current->jobs.end()));
      current->jobs.resize(stalled + 1);
      std::fill_n(in_time.begin() + static_cast<std::ptrdiff_t>(first), stalled, true);
      abandon_helper(current->started);
      held.unlock();
      done = first + stalled + 1;
      for (std::size_t i = 0; i < rest.size(); ++i) {
        jobs[done + i] = std::move(rest[i]);
      }
      break;
    }
    if (held.owns_lock()) {  // every one ended in time
      std::fill(in_time.begin() + static_cast<std::ptrdiff_t>(first), in_time.end(), true);
      current->jobs.clear();
      current->next = 0;
      current->ended = 0;
      done = jobs.size();
    }
  }
  return in_time;
}

}  // namespace corvane_host
