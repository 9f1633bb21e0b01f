// SPDX-License-Identifier: MIT
#ifndef CORVANE_HOST_DEFAULT_PLUGIN_H
#define CORVANE_HOST_DEFAULT_PLUGIN_H

#include <string>

namespace corvane_host {

// The plug-in this program loads unless told otherwise, found relative to
// the program itself and nowhere else: an installed host (in a bin
// directory) loads the library installed with it, a host in the build tree
// the library built beside it. A library that is not there is an error
// (plugin_error), never a search: a host run as root must not load code from
// wherever a build happened.
std::string default_plugin();

}  // namespace corvane_host

#endif
