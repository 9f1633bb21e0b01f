// SPDX-License-Identifier: MIT
#include "evidence/examine_in_time.h"

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
  if (!where.time->run([state, named_inside] {
        state->found = examine(state->process, state->where, named_inside);
      })) {
    return std::nullopt;
  }
  return std::move(state->found);
}

}  // namespace corvane_host
