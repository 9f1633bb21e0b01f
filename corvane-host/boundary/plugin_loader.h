// SPDX-License-Identifier: MIT
// Loads the plug-in as an installer does: dlopen() with RTLD_NOW, so every
// host service is bound at once, then the two entry points by their C names.
#ifndef CORVANE_HOST_PLUGIN_LOADER_H
#define CORVANE_HOST_PLUGIN_LOADER_H

#include <memory>
#include <stdexcept>
#include <string>

#include "host-services.h"

namespace corvane_host {

struct plugin_error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class loaded_plugin {
 public:
  // Throws plugin_error with the loader's own words.
  explicit loaded_plugin(const std::string& file);

  int check_running_corvane(session_t* session) const { return check_(session); }
  int kill_corvane(session_t* session) const { return kill_(session); }

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
