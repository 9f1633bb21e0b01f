// SPDX-License-Identifier: MIT
#include "paths.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace corvane_host {

std::string normal_path(const std::string& p) {
  fs::path absolute(p);
  if (absolute.is_relative()) {
    absolute = fs::current_path() / absolute;
  }
  std::string normal = absolute.lexically_normal().string();
  while (normal.size() > 1 && normal.back() == '/') {
    normal.pop_back();
  }
  return normal;
}

std::string directory_of(const std::string& p) {
  std::error_code error;
  std::string directory = fs::is_directory(p, error) ? p : fs::path(p).parent_path().string();
  if (directory.empty() || directory.back() != '/') {
    directory += '/';
  }
  return directory;
}

}  // namespace corvane_host
