// The built plug-in, loaded as an installer host loads it: dlopen() with
// RTLD_NOW, entry points by their C names, helpers by their C++ names.
#ifndef CORVANE_TESTS_PLUGIN_H
#define CORVANE_TESTS_PLUGIN_H

#include <memory>
#include <string>
#include <vector>

#include "host-services.h"

struct plugin_library {
  int (*check_running_corvane)(session_t*);
  int (*kill_corvane)(session_t*);
  proc_map_t (*find_process)(proc_map_t, std::string);
  std::vector<int> (*proc_str_to_list)(std::string);
  int (*terminate_process)(int);
};

// Loaded once per test binary; a load failure aborts with dlerror()'s text.
const plugin_library& plugin();

#endif
