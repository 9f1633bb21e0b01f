// SPDX-License-Identifier: MIT
// How the reference host names directories.
#ifndef CORVANE_HOST_PATHS_H
#define CORVANE_HOST_PATHS_H

#include <string>
#include <vector>

namespace corvane_host {

// Absolute, with the symbolic links of the part that exists resolved as the
// kernel resolves them, and the rest lexically normal ("." and ".."
// resolved, no doubled or trailing "/"); a relative path is taken against
// the current directory. The kernel reports a process's executable by such
// a path, so /opt/corvane -> corvane-2.3 must become /opt/corvane-2.3.
std::string normal_path(const std::string& p);

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
