// SPDX-License-Identifier: MIT
// What the corvane-kill plug-in exports to an installer host.
//
// The two entry points have plain C symbol names so a host can find them with
// dlsym(); the helpers keep their C++ names, which carry their parameter types.
#ifndef CORVANE_KILL_H
#define CORVANE_KILL_H

#include <string>
#include <vector>

#include "host-services.h"

// Records the corvane processes that run from CORVANE_PATH's directory in the
// session and raises a critical prerequisite when there is at least one.
// Always returns 0.
extern "C" int check_running_corvane(session_t* session);

// Sends one SIGTERM to each process recorded by the check. Returns 0 when the
// last process it signalled was signalled successfully, -1 otherwise.
extern "C" int kill_corvane(session_t* session);

// The processes of `processes` whose lower-cased command starts with the
// lower-cased `directory` and is not one of the installer's own programs.
proc_map_t find_process(proc_map_t processes, std::string directory);

// Parses a ";"-separated process-ID list; a token that is not an int yields -1.
std::vector<int> proc_str_to_list(std::string list);

// Sends SIGTERM to `pid`. Returns 0 when the signal was sent, -1 otherwise.
int terminate_process(int pid);

#endif
