// SPDX-License-Identifier: MIT
// The installation as this host's mount namespace sees it, and the test of
// whether a file is one of its files: the same file (device and inode), not
// the same spelling.
#ifndef CORVANE_HOST_INSTALLATION_H
#define CORVANE_HOST_INSTALLATION_H

#include <sys/types.h>

#include <optional>
#include <string>

namespace corvane_host {

struct file_id {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const file_id& other) const {
    return device == other.device && inode == other.inode;
  }
  bool operator!=(const file_id& other) const { return !(*this == other); }
};

// stat() of `path`, following links; nullopt when it cannot be done.
std::optional<file_id> id_of(const std::string& path);
std::optional<file_id> id_of(int fd);

struct installation {
  std::string directory;  // resolved, with a trailing "/"
  file_id directory_id;
  file_id host_root;  // this host's "/"
};

// Throws std::runtime_error when `directory` cannot be looked at.
installation installation_at(const std::string& directory);

// Whether `path` lies inside the directory, byte for byte: on Linux
// /opt/CORVANE is another directory than /opt/corvane.
bool lies_inside(const std::string& path, const installation& where);

}  // namespace corvane_host

#endif
