// SPDX-License-Identifier: MIT
#ifndef CORVANE_HOST_DEFAULT_PLUGIN_H
#define CORVANE_HOST_DEFAULT_PLUGIN_H

#include <string>

namespace corvane_host {

// The installed plug-in beside this program (bin/../lib/...), else the one in
// the build tree it was built in, else the SONAME for the dynamic linker.
std::string default_plugin();

}  // namespace corvane_host

#endif
