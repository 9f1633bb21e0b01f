// SPDX-License-Identifier: MIT
// How the reference host names directories.
#ifndef CORVANE_HOST_PATHS_H
#define CORVANE_HOST_PATHS_H

#include <string>
#include <vector>

namespace corvane_host {

// The directory whose processes belong to `p`, with a trailing "/": `p`
// itself when it names an existing directory, its parent otherwise. The "/"
// keeps /opt/corvane from selecting /opt/corvane-old.
std::string directory_of(const std::string& p);

// Why `directory` (normal, with its trailing "/") cannot be an installation
// root, because its programs would be the system's or a user's own; empty
// when it can. `homes` are the home directories of the calling users.
std::string broad_root_reason(const std::string& directory, const std::vector<std::string>& homes);

}  // namespace corvane_host

#endif
