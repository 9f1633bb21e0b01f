// SPDX-License-Identifier: MIT
#include "base/time_bound.h"

#include <condition_variable>
#include <mutex>

namespace corvane_host {

// One helper thread and the slot it takes jobs from. The thread holds its
// own share of this, so it outlives an abandoning host.
struct time_bound::helper {
  std::mutex lock;
  std::condition_variable changed;
  std::function<void()> job;  // the job to run; empty when there is none
  bool busy = false;          // a job was handed over and has not ended
  bool stop = false;          // the host let go of this helper

  static void serve(const std::shared_ptr<helper>& self) {
    std::unique_lock<std::mutex> held(self->lock);
    for (;;) {
      self->changed.wait(held, [&self] { return self->stop || self->busy; });
      if (self->stop) {
        return;
      }
      std::function<void()> job = std::move(self->job);
      held.unlock();
      job();
      job = nullptr;  // what it owns goes here, outside the lock
      held.lock();
      self->busy = false;
      self->changed.notify_all();
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

bool time_bound::run(std::function<void()> job) {
  if (left_.count() <= 0) {
    return false;
  }
  if (!helper_) {
    helper_ = std::make_shared<helper>();
    thread_ = std::thread(helper::serve, helper_);
  }
  const std::shared_ptr<helper> current = helper_;
  std::unique_lock<std::mutex> held(current->lock);
  current->job = std::move(job);
  current->busy = true;
  current->changed.notify_all();
  const auto start = std::chrono::steady_clock::now();
  if (current->changed.wait_for(held, std::min(each_, left_),
                                [&current] { return !current->busy; })) {
    return true;
  }
  // Abandoned: it stops once its job ends, if ever; the next job gets a new helper.
  current->stop = true;
  held.unlock();
  thread_.detach();
  helper_.reset();
  abandoned_ = true;
  left_ -= std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start);
  return false;
}

}  // namespace corvane_host
