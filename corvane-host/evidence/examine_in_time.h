// SPDX-License-Identifier: MIT
// A process examined on the run's time bound (base/time_bound.h): a name it
// shows may lead into a file system that never answers.
#ifndef CORVANE_HOST_EXAMINE_IN_TIME_H
#define CORVANE_HOST_EXAMINE_IN_TIME_H

#include <memory>
#include <optional>
#include <vector>

#include "evidence/installation.h"
#include "evidence/process_evidence.h"
#include "proc/process_handle.h"

namespace corvane_host {

// examine() on a helper, with copies of what it reads; nullopt when it did
// not end in time (why::file_system_stalled). Without a time bound in
// `where`, examine() itself.
std::optional<evidence> examine_in_time(const process_handle& process, const installation& where,
                                        bool named_inside = false);

// One process of a scan's batch, and what examining it found, to be read
// only where it was done in time. Shared: a job given up on may still be
// writing it.
struct examination {
  examination(pid_t id, process_handle pinned, bool inside, std::optional<known_executable> running)
      : pid(id), process(std::move(pinned)), named_inside(inside), known(std::move(running)) {}
  pid_t pid;
  process_handle process;
  bool named_inside;
  std::optional<known_executable> known;  // what a glance read of what it runs
  evidence found;
  bool in_time = false;  // written by the caller alone
};

// examine_in_time() for many processes at once, one handing over to the
// helper for all: what a glance decides is decided here, the rest there.
void examine_all_in_time(const std::vector<std::shared_ptr<examination>>& batch,
                         const installation& where);

}  // namespace corvane_host

#endif
