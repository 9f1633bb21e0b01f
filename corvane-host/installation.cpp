// SPDX-License-Identifier: MIT
#include "installation.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace corvane_host {
namespace {

file_id id_from(const struct stat& info) { return {info.st_dev, info.st_ino}; }

}  // namespace

std::optional<file_id> id_of(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    return std::nullopt;
  }
  return id_from(info);
}

std::optional<file_id> id_of(int fd) {
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    return std::nullopt;
  }
  return id_from(info);
}

installation installation_at(const std::string& directory) {
  const auto directory_id = id_of(directory);
  const auto host_root = id_of("/proc/self/root");
  if (!directory_id || !host_root) {
    throw std::runtime_error("cannot look at " + directory + ": " + std::strerror(errno));
  }
  return {directory, *directory_id, *host_root};
}

bool lies_inside(const std::string& path, const installation& where) {
  return path.compare(0, where.directory.size(), where.directory) == 0;
}

}  // namespace corvane_host
