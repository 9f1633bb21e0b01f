#include "plugin.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace {

void* load_or_die() {
  void* handle = dlopen(CORVANE_PLUGIN_FILE, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    std::fprintf(stderr, "cannot load the plug-in: %s\n", dlerror());
    std::abort();
  }
  return handle;
}

template <typename Function>
void bind(void* handle, const char* symbol, Function*& out) {
  void* address = dlsym(handle, symbol);
  if (address == nullptr) {
    std::fprintf(stderr, "the plug-in lacks %s\n", symbol);
    std::abort();
  }
  out = reinterpret_cast<Function*>(address);
}

plugin_library load() {
  // Stays loaded until the process exits, as in an installer.
  void* handle = load_or_die();
  plugin_library library{};
  bind(handle, "check_running_corvane", library.check_running_corvane);
  bind(handle, "kill_corvane", library.kill_corvane);
  bind(handle,
       "_Z12find_processSt3mapIiNSt7__cxx1112basic_stringIcSt11char_"
       "traitsIcESaIcEEESt4lessIiESaISt4pairIKiS5_EEES5_",
       library.find_process);
  bind(handle, "_Z16proc_str_to_listNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE",
       library.proc_str_to_list);
  bind(handle, "_Z17terminate_processi", library.terminate_process);
  return library;
}

}  // namespace

const plugin_library& plugin() {
  static const plugin_library library = load();
  return library;
}
