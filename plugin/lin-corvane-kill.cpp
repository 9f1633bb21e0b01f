// SPDX-License-Identifier: MIT
#include <csignal>

#include "corvane-kill.h"

int terminate_process(int pid) { return kill(pid, SIGTERM); }
