// SPDX-License-Identifier: MIT
// Where the reference host's print_log() writes.
#ifndef CORVANE_HOST_SERVICES_H
#define CORVANE_HOST_SERVICES_H

#include <cstdio>

namespace corvane_host {

// One line per message, control bytes shown as \xHH so a message stays one
// line; standard error until set. The stream stays the caller's.
void set_log_stream(std::FILE* stream);

}  // namespace corvane_host

#endif
