// SPDX-License-Identifier: MIT
// Reaching a file on a path an ordinary user may have chosen, as root: the
// file's directory is resolved once, component by component from "/", and
// held; the file is opened relative to it, so no later step looks the path
// up by name again.
#ifndef CORVANE_HOST_SAFE_PATH_H
#define CORVANE_HOST_SAFE_PATH_H

#include <sys/stat.h>
#include <sys/types.h>

#include <optional>
#include <stdexcept>
#include <string>

#include "base/unique_fd.h"

namespace corvane_host {

struct path_error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A directory that only root may change: root's, and writable by no group or other user.
bool root_only(const struct stat& directory);
// Whether the host, running as `caller`, may step from `directory` into
// `entry`: always from a root-only directory; from any other only into an
// entry of the directory's owner, of the caller or of root, so that nobody can
// lead the host into another user's files.
bool safe_transition(const struct stat& directory, const struct stat& entry, uid_t caller);
// Whether a symbolic link may be followed: owned by the caller or by root, in
// a directory that not everybody may write.
bool link_may_be_followed(const struct stat& directory, const struct stat& link, uid_t caller);

struct held_directory {
  unique_fd fd;  // readable where the host may read it, else O_PATH
  struct stat status {};
  std::string path;  // as walked, for messages
};

struct resolved_path {
  held_directory directory;
  std::string name;                   // the last component, a regular file's or a new file's
  std::optional<struct stat> status;  // the file's, when it exists
  [[nodiscard]] std::string shown() const;
};

// Resolves `named`, following links only as link_may_be_followed allows and
// at most 40 of them, and stepping only as safe_transition allows. The last
// component must be a regular file or missing (not missing behind a link).
// `what` ("the session") starts each path_error's message.
resolved_path resolve_path(const std::string& named, const std::string& what);

// `name` in `directory`, opened with `flags` plus O_NOFOLLOW, O_NONBLOCK,
// O_NOCTTY and O_CLOEXEC, and `status` filled: it must be a regular file with
// one link whose owner safe_transition allows. Nothing else is opened. An
// empty descriptor when it does not exist; path_error for anything else.
unique_fd open_regular(const held_directory& directory, const std::string& name, int flags,
                       const std::string& what, struct stat& status);

// What kind of file `mode` is, for messages: "a pipe", "a device", ...
const char* kind_of(mode_t mode);

}  // namespace corvane_host

#endif
