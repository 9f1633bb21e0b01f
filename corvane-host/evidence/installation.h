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
#include <vector>

#include "base/file_id.h"
#include "base/time_bound.h"
#include "evidence/names_elsewhere.h"

namespace corvane_host {

// Every regular file of the installation by device and inode, each under a
// path inside it. Built on first use, by one walk that follows no link and
// enters no other mount, under the run's time bound.
class installation_files {
 public:
  installation_files(std::string directory, std::weak_ptr<time_bound> time)
      : directory_(std::move(directory)), time_(std::move(time)) {}
  // Builds it now, on this thread: before jobs that read it run elsewhere.
  void prepare() {
    if (!built_) {
      build();
    }
  }
  // The mounts inside the installation that the walk left out, by path.
  [[nodiscard]] const std::vector<std::string>& left_out() const { return left_out_; }
  // Whether its file system did not answer the walk in time: files are missing.
  [[nodiscard]] bool timed_out() const { return timed_out_; }
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
  std::weak_ptr<time_bound> time_;  // not owned: a job that outlives the run may hold this
  bool built_ = false;
  bool timed_out_ = false;
  std::vector<std::string> left_out_;
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
  // How long the run waits for file systems (none: without bound).
  std::shared_ptr<time_bound> time;
  // A scan's names that led elsewhere (none: each is walked).
  std::shared_ptr<names_elsewhere> elsewhere;
};

// Throws failure when `directory` cannot be looked at.
installation installation_at(const std::string& directory,
                             std::shared_ptr<time_bound> time = nullptr);

// Whether `path` lies inside the directory, byte for byte: on Linux
// /opt/CORVANE is another directory than /opt/corvane.
bool lies_inside(const std::string& path, const installation& where);

}  // namespace corvane_host

#endif
