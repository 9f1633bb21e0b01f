// SPDX-License-Identifier: MIT
#include "boundary/default_plugin.h"

#include <filesystem>
#include <system_error>

#include "boundary/plugin_loader.h"

namespace fs = std::filesystem;

namespace corvane_host {

std::string default_plugin() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  if (error) {
    throw plugin_error("cannot tell where this program is (/proc/self/exe: " + error.message() +
                       "); name the plug-in with --plugin");
  }
  const fs::path directory = self.parent_path();
  const bool installed = directory.filename() == CORVANE_INSTALLED_BINDIR_NAME;
  const fs::path plugin =
      (directory / (installed ? CORVANE_INSTALLED_PLUGIN : CORVANE_BUILD_TREE_PLUGIN))
          .lexically_normal();
  if (!fs::is_regular_file(plugin, error)) {
    throw plugin_error("the plug-in is missing: " + plugin.string() +
                       (installed ? " (this corvane-host loads only the library installed with it)"
                                  : " (this corvane-host loads only the library built beside it)") +
                       "; name another with --plugin");
  }
  return plugin.string();
}

}  // namespace corvane_host
