// SPDX-License-Identifier: MIT
// What the reference host's services work on: where print_log() writes, and
// the installation get_process_list() reports on.
#ifndef CORVANE_HOST_SERVICES_H
#define CORVANE_HOST_SERVICES_H

#include <cstdio>

#include "evidence/process_scan.h"

namespace corvane_host {

// One line per message, control bytes shown as \xHH so a message stays one
// line; standard error until set. The stream stays the caller's.
void set_log_stream(std::FILE* stream);

// get_process_list() hands the plug-in the processes that run a file of
// `where`, each under the kernel's path of that file; nothing else, so the
// plug-in's case folding cannot reach another directory's programs.
void scan_for(const installation& where, bool files_in_use);
// The whole of the last scan, for the report.
const installation_scan& last_scan();

}  // namespace corvane_host

#endif
