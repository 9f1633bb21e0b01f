// SPDX-License-Identifier: MIT
// Loads the plug-in as an installer does: dlopen() with RTLD_NOW, so every
// host service is bound at once, then the two entry points by their C names.
// Each call of an entry point is made with its plugin_call bound, and
// either returns with every service it used done or throws plugin_error.
#ifndef CORVANE_HOST_PLUGIN_LOADER_H
#define CORVANE_HOST_PLUGIN_LOADER_H

#include <memory>
#include <stdexcept>
#include <string>

#include "base/failure.h"
#include "boundary/plugin_call.h"
#include "files/session.h"

namespace corvane_host {

struct plugin_error : failure {
  explicit plugin_error(const std::string& what) : failure(failure_kind::refused, what) {}
};

class loaded_plugin {
 public:
  // Throws plugin_error with the loader's own words.
  explicit loaded_plugin(const std::string& file);

  // Throws plugin_error where a service failed (what the plug-in did then
  // rests on an error it was handed) or the plug-in threw.
  int check_running_corvane(session_t& session, plugin_call& call) const;
  int kill_corvane(session_t& session, plugin_call& call) const;

 private:
  struct closer {
    void operator()(void* handle) const;
  };
  std::unique_ptr<void, closer> handle_;
  int (*check_)(session_t*) = nullptr;
  int (*kill_)(session_t*) = nullptr;
};

}  // namespace corvane_host

#endif
