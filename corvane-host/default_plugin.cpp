// SPDX-License-Identifier: MIT
#include "default_plugin.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace corvane_host {

std::string default_plugin() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  if (!error) {
    const fs::path installed = self.parent_path() / CORVANE_INSTALLED_PLUGIN;
    if (fs::exists(installed, error)) {
      return installed.lexically_normal().string();
    }
  }
  if (fs::exists(CORVANE_BUILD_TREE_PLUGIN, error)) {
    return CORVANE_BUILD_TREE_PLUGIN;
  }
  return CORVANE_PLUGIN_SONAME;
}

}  // namespace corvane_host
