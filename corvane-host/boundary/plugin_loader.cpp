// SPDX-License-Identifier: MIT
#include "boundary/plugin_loader.h"

#include <dlfcn.h>

namespace corvane_host {
namespace {

using entry_point = int (*)(session_t*);

entry_point find_entry_point(void* handle, const std::string& file, const char* name) {
  void* address = dlsym(handle, name);
  if (address == nullptr) {
    throw plugin_error(file + " is not a corvane-kill plug-in: it has no entry point " + name);
  }
  return reinterpret_cast<entry_point>(address);
}

}  // namespace

void loaded_plugin::closer::operator()(void* handle) const { dlclose(handle); }

loaded_plugin::loaded_plugin(const std::string& file)
    : handle_(dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL)) {
  if (!handle_) {
    const char* error = dlerror();
    throw plugin_error("cannot load the plug-in: " + std::string(error != nullptr ? error : file));
  }
  check_ = find_entry_point(handle_.get(), file, "check_running_corvane");
  kill_ = find_entry_point(handle_.get(), file, "kill_corvane");
}

}  // namespace corvane_host
