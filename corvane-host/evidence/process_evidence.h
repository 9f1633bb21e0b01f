// SPDX-License-Identifier: MIT
// Whether one pinned process runs the installation's code, proven by the
// kernel: the file its executable is (device and inode), its argv[0] when
// that leads to the very file it runs, or the script, class path entry or
// module an interpreter runs, the program the loader maps, or the search path
// it was started with, each held to the same test. What the process says about
// itself (its arguments, its title, its environment) is a hint that a proof
// must confirm, never a proof alone.
#ifndef CORVANE_HOST_PROCESS_EVIDENCE_H
#define CORVANE_HOST_PROCESS_EVIDENCE_H

#include <optional>
#include <string>

#include "base/reasons.h"
#include "evidence/installation.h"
#include "proc/proc_table.h"
#include "proc/process_handle.h"

namespace corvane_host {

struct evidence {
  // The installation's file the process runs, by its path inside the
  // installation; and the name the kernel knows that file by (a bind
  // mount's, a hard link's, a deleted file's).
  std::optional<std::string> file;
  std::string kernel_name;
  // Why it points into the installation but could not be proven; or the
  // errno that kept its executable from being read.
  std::optional<corvane_host::unproven> unproven;
  int unreadable = 0;
};

// `named_inside`: a glance at its executable's name found it inside the
// installation, so the file's identity is looked at first. `glimpsed`: what a
// glance before the pin read of its executable, a file with one link; a
// process whose words then lead elsewhere is passed over on it alone, and
// what is found stands while it still runs that file from that mount.
evidence examine(const process_handle& process, const installation& where,
                 bool named_inside = false, const known_executable* glimpsed = nullptr);

// The common case, in two reads that no file system is asked for: an
// executable of the index, not deleted, that the kernel names by the
// index's own name for it. nullopt where examine() has to decide.
std::optional<evidence> examine_at_a_glance(const process_handle& process,
                                            const installation& where,
                                            const known_executable* known = nullptr);

}  // namespace corvane_host

#endif
