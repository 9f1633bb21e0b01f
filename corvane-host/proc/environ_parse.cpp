// SPDX-License-Identifier: MIT
#include "proc/environ_parse.h"

namespace corvane_host {

std::optional<std::string_view> environment_value(std::string_view environ, std::string_view name) {
  while (!environ.empty()) {
    const std::size_t end = environ.find('\0');
    const std::string_view entry = environ.substr(0, end);
    if (entry.size() > name.size() && entry[name.size()] == '=' &&
        entry.substr(0, name.size()) == name) {
      return entry.substr(name.size() + 1);
    }
    environ.remove_prefix(end == std::string_view::npos ? environ.size() : end + 1);
  }
  return std::nullopt;
}

std::vector<std::string_view> search_path_entries(std::string_view value) {
  std::vector<std::string_view> entries;
  for (std::size_t start = 0;;) {
    const std::size_t end = value.find(':', start);
    const std::string_view entry = value.substr(start, end - start);
    entries.push_back(entry.empty() ? std::string_view(".") : entry);
    if (end == std::string_view::npos) {
      return entries;
    }
    start = end + 1;
  }
}

}  // namespace corvane_host
