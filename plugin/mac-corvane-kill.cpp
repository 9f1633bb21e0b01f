// SPDX-License-Identifier: MIT
// macOS: the same POSIX call as on Linux. Not part of the Linux build.
#include <signal.h>

#include "corvane-kill.h"

int terminate_process(int pid) { return kill(pid, SIGTERM); }
