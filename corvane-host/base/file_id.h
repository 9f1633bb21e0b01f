// SPDX-License-Identifier: MIT
// Which file a file is: its device and inode, not its name.
#ifndef CORVANE_HOST_BASE_FILE_ID_H
#define CORVANE_HOST_BASE_FILE_ID_H

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>

namespace corvane_host {

struct file_id {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const file_id& other) const {
    return device == other.device && inode == other.inode;
  }
  bool operator!=(const file_id& other) const { return !(*this == other); }
};

inline file_id id_from(const struct stat& info) { return {info.st_dev, info.st_ino}; }
inline file_id id_from(const struct statx& info) {
  return {makedev(info.stx_dev_major, info.stx_dev_minor), static_cast<ino_t>(info.stx_ino)};
}

struct file_id_hash {
  std::size_t operator()(const file_id& id) const {
    return std::hash<std::uint64_t>()(static_cast<std::uint64_t>(id.inode) * 31 + id.device);
  }
};

}  // namespace corvane_host

#endif
