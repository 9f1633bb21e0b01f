// SPDX-License-Identifier: MIT
// The installation as this host's mount namespace sees it, and the test of
// whether a file is one of its files: the same file (device and inode), not
// the same spelling.
#ifndef CORVANE_HOST_INSTALLATION_H
#define CORVANE_HOST_INSTALLATION_H

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "base/file_id.h"

namespace corvane_host {

// Every regular file of the installation by device and inode, each under a
// path inside it. Built on first use, by one walk that follows no link.
class installation_files {
 public:
  explicit installation_files(std::string directory) : directory_(std::move(directory)) {}
  // The file's path inside the installation; nullptr for any other file.
  [[nodiscard]] const std::string* find(const file_id& id);
  // Whether one of its files' paths ends with `tail` ("/bin/run.sh").
  [[nodiscard]] bool has_path_ending(const std::string& tail);
  // Whether one of its symbolic links leads to this file (a virtual
  // environment's python leads to the system's).
  [[nodiscard]] bool is_link_target(const file_id& id);
  // Whether `path` ("/opt/corvane/bin", no trailing "/") is one of its
  // directories that only root and its owner may change: what an entry
  // there named, no one else put there.
  [[nodiscard]] bool is_vouched_directory(const std::string& path);

 private:
  void build();

  std::string directory_;
  bool built_ = false;
  std::unordered_map<file_id, std::string, file_id_hash> files_;
  std::unordered_set<file_id, file_id_hash> link_targets_;
  std::unordered_set<std::string> directories_;
  std::unordered_multimap<std::string, const std::string*> by_name_;  // last component to path
};

struct installation {
  std::string directory;  // resolved, with a trailing "/"
  file_id directory_id;
  file_id host_root;  // this host's "/"
  // Shared: copies of one installation share one walk.
  std::shared_ptr<installation_files> files;
};

// Throws failure when `directory` cannot be looked at.
installation installation_at(const std::string& directory);

// Whether `path` lies inside the directory, byte for byte: on Linux
// /opt/CORVANE is another directory than /opt/corvane.
bool lies_inside(const std::string& path, const installation& where);

}  // namespace corvane_host

#endif
