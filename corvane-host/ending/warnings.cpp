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
  if (status.state == 'T' || status.state == 't') {
    warnings.emplace_back("it is stopped: SIGTERM ends it only once it continues");
  }
  if (status.namespace_init && !status.handles_sigterm) {
    warnings.emplace_back(
        "it is the first process of its pid namespace (a container's init), which SIGTERM "
        "ends only if it handles it, and it does not");
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
