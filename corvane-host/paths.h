// SPDX-License-Identifier: MIT
// How the reference host names directories.
#ifndef CORVANE_HOST_PATHS_H
#define CORVANE_HOST_PATHS_H

#include <string>

namespace corvane_host {

// Absolute and lexically normal ("." and ".." resolved, no doubled or
// trailing "/"); a relative path is taken against the current directory.
std::string normal_path(const std::string& p);

// The directory whose processes belong to `p`, with a trailing "/": `p`
// itself when it names an existing directory, its parent otherwise. The "/"
// keeps /opt/corvane from selecting /opt/corvane-old.
std::string directory_of(const std::string& p);

}  // namespace corvane_host

#endif
