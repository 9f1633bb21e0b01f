// SPDX-License-Identifier: MIT
// The built plug-in as an installer host finds it: dlopen() with RTLD_NOW,
// the entry points by their C names.
#ifndef CORVANE_TESTS_PLUGIN_H
#define CORVANE_TESTS_PLUGIN_H

#include "corvane-kill.h"

struct plugin_entry_points {
  int (*check_running_corvane)(session_t*);
  int (*kill_corvane)(session_t*);
};

// Loaded once per test binary; a load failure aborts with dlerror()'s text.
const plugin_entry_points& plugin();

#endif
