// SPDX-License-Identifier: MIT
#include "plugin.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace {

using entry_point = int (*)(session_t*);

entry_point bind_or_die(void* handle, const char* symbol) {
  void* address = dlsym(handle, symbol);
  if (address == nullptr) {
    std::fprintf(stderr, "the plug-in lacks %s\n", symbol);
    std::abort();
  }
  return reinterpret_cast<entry_point>(address);
}

plugin_entry_points load() {
  // Stays loaded until the process exits, as in an installer.
  void* handle = dlopen(CORVANE_PLUGIN_FILE, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    std::fprintf(stderr, "cannot load the plug-in: %s\n", dlerror());
    std::abort();
  }
  return {bind_or_die(handle, "check_running_corvane"), bind_or_die(handle, "kill_corvane")};
}

}  // namespace

const plugin_entry_points& plugin() {
  static const plugin_entry_points entry_points = load();
  return entry_points;
}
