// SPDX-License-Identifier: MIT
#include "ending/warnings.h"

namespace corvane_host {

std::vector<std::string> warnings_of(const sigterm_view& view) {
  const process_status& status = view.status;
  std::vector<std::string> warnings;
  if (status.ignores_sigterm) {
    warnings.emplace_back("it ignores SIGTERM: it will not end");
  } else if (!view.taken_at_once) {
    warnings.emplace_back("it blocks SIGTERM: it ends only once it unblocks it");
  }
  if (status.state == 'T') {
    warnings.emplace_back(
        "it is stopped: it will be continued right after its SIGTERM, so that it takes it");
  } else if (status.state == 't') {
    warnings.emplace_back(
        "it is stopped by a debugger: SIGTERM ends it only once the debugger lets it go on");
  }
  if (status.namespace_init && !status.handles_sigterm) {
    warnings.emplace_back(
        "it is the first process of its pid namespace (a container's init), which SIGTERM "
        "ends only if it handles it, and it does not");
  } else if (status.namespace_init) {
    const namespace_members& others = view.namespace_others;
    const std::string count = std::to_string(others.count) + " running";
    const std::string seen = others.complete    ? " (" + count + ")"
                             : others.count > 0 ? " (at least " + count + ")"
                                                : "";
    warnings.push_back(
        "it is the first process of its pid namespace (a container's init): when it ends, the "
        "kernel kills every other process of that namespace" +
        seen + " without a SIGTERM of their own");
  }
  if (!view.foreign_owner.empty()) {
    warnings.push_back("it belongs to " + view.foreign_owner + ": this user may not signal it");
  }
  if (!view.unit.empty()) {
    warnings.push_back("it belongs to the systemd service " + view.unit +
                       ", whose manager may start it again: stopping the unit is the way to end "
                       "it");
  }
  return warnings;
}

}  // namespace corvane_host
