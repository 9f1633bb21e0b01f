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

void throw_if_a_service_failed(const plugin_call& call, const char* name) {
  if (call.failure) {
    throw plugin_error(std::string(name) + " was handed an error: the host service " +
                       name_of(call.failure->service) + " failed (" + what_of(call.failure->error) +
                       ")");
  }
}

int call_entry_point(entry_point entry, const char* name, session_t& session, plugin_call& call) {
  int result = 0;
  try {
    const call_scope scope(call);
    result = entry(&session);
  } catch (...) {
    throw_if_a_service_failed(call, name);  // the cause, where the plug-in met one
    throw plugin_error(std::string(name) + " threw: " + what_of(std::current_exception()));
  }
  throw_if_a_service_failed(call, name);
  return result;
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

int loaded_plugin::check_running_corvane(session_t& session, plugin_call& call) const {
  return call_entry_point(check_, "check_running_corvane", session, call);
}

int loaded_plugin::kill_corvane(session_t& session, plugin_call& call) const {
  return call_entry_point(kill_, "kill_corvane", session, call);
}

}  // namespace corvane_host
