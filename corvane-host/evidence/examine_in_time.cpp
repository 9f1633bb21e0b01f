// SPDX-License-Identifier: MIT
#include "evidence/examine_in_time.h"

#include <functional>
#include <memory>

namespace corvane_host {

std::optional<evidence> examine_in_time(const process_handle& process, const installation& where,
                                        bool named_inside) {
  if (!where.time) {
    return examine(process, where, named_inside);
  }
  // What needs no name walked cannot stall: no helper, no copies.
  if (named_inside) {
    if (std::optional<evidence> glanced = examine_at_a_glance(process, where)) {
      return glanced;
    }
  }
  // The index is built here, so that the job only reads it.
  where.files->prepare();
  struct job_state {
    process_handle process;
    installation where;
    evidence found;
  };
  // Everything the job reads is its own, or shared: an abandoned job may
  // wake up long after this returned. It holds no share of the time bound.
  const auto state = std::make_shared<job_state>(job_state{process.duplicate(), where, {}});
  state->where.time = nullptr;
  // Its glance was tried above: the job does not try it again.
  if (!where.time->run([state] { state->found = examine(state->process, state->where, false); })) {
    return std::nullopt;
  }
  return std::move(state->found);
}

namespace {

const known_executable* known_of(const examination& one) {
  return one.known ? &*one.known : nullptr;
}

}  // namespace

void examine_all_in_time(const std::vector<std::shared_ptr<examination>>& batch,
                         const installation& where) {
  std::vector<std::function<void()>> jobs;
  std::vector<examination*> handed;
  std::shared_ptr<installation> shared;
  for (const std::shared_ptr<examination>& one : batch) {
    if (!where.time) {
      one->found = examine(one->process, where, one->named_inside, known_of(*one));
      one->in_time = true;
      continue;
    }
    if (one->named_inside) {
      if (std::optional<evidence> glanced =
              examine_at_a_glance(one->process, where, known_of(*one))) {
        one->found = std::move(*glanced);
        one->in_time = true;
        continue;
      }
    }
    if (!shared) {
      where.files->prepare();
      shared = std::make_shared<installation>(where);
      shared->time = nullptr;
    }
    // A job holds shares of what it reads: it may wake up long after this
    // returned. A glance was tried above: the job does not try it again.
    jobs.emplace_back(
        [one, shared] { one->found = examine(one->process, *shared, false, known_of(*one)); });
    handed.push_back(one.get());
  }
  if (jobs.empty()) {
    return;
  }
  const std::vector<bool> in_time = where.time->run_all(std::move(jobs));
  for (std::size_t i = 0; i < handed.size(); ++i) {
    handed[i]->in_time = in_time[i];
  }
}

}  // namespace corvane_host
