// SPDX-License-Identifier: MIT
#include "files/paths.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <string_view>

#include "files/resolver.h"

namespace corvane_host {
namespace {

// The top-level directories of the Filesystem Hierarchy Standard.
constexpr std::array<std::string_view, 22> system_directories = {
    "/",       "/bin/",    "/boot/",  "/dev/", "/etc/", "/home/", "/lib/",  "/lib32/",
    "/lib64/", "/libx32/", "/media/", "/mnt/", "/opt/", "/proc/", "/root/", "/run/",
    "/sbin/",  "/srv/",    "/sys/",   "/tmp/", "/usr/", "/var/"};

// Directories whose every first-level directory belongs to the system.
constexpr std::array<std::string_view, 3> system_parents = {"/usr/", "/usr/local/", "/var/"};

bool is_first_level_of(std::string_view directory, std::string_view parent) {
  if (directory.size() <= parent.size() || directory.substr(0, parent.size()) != parent) {
    return false;
  }
  const std::string_view rest = directory.substr(parent.size());
  return rest.find('/') == rest.size() - 1;
}

}  // namespace

std::string directory_of(const std::string& p) {
  std::string directory = is_directory_at(p) ? p : std::filesystem::path(p).parent_path().string();
  if (directory.empty() || directory.back() != '/') {
    directory += '/';
  }
  return directory;
}

std::string broad_root_reason(const std::string& directory, const std::vector<std::string>& homes) {
  if (directory == "/") {
    return "it would select every process on this machine";
  }
  if (std::find(system_directories.begin(), system_directories.end(), directory) !=
      system_directories.end()) {
    return "it is a system directory: its programs are the system's";
  }
  for (const std::string_view parent : system_parents) {
    if (is_first_level_of(directory, parent)) {
      return "it is a system directory: its programs are the system's";
    }
  }
  for (std::string home : homes) {
    if (!home.empty() && home.back() != '/') {
      home += '/';
    }
    if (home.size() > 1 && directory == home) {
      return "it is a user's home directory: its programs are the user's own";
    }
  }
  return {};
}

}  // namespace corvane_host
