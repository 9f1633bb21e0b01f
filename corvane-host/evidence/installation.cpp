// SPDX-License-Identifier: MIT
#include "evidence/installation.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "base/failure.h"
#include "base/unique_fd.h"
#include "files/resolver.h"

namespace corvane_host {
namespace {

// What one walk found; the walk owns it until it ends, as it may be abandoned.
struct walked_tree {
  std::unordered_map<file_id, std::string, file_id_hash> files;
  std::unordered_set<file_id, file_id_hash> link_targets;
  std::vector<std::string> left_out;
  std::unordered_set<std::string> directories;  // entered: no one else may change them
};

// The directory `relative` beneath `root`, however deep: a name longer than
// the kernel takes in one call (PATH_MAX; deep build and cache trees are made
// with relative steps) is opened a part at a time, each part beneath the
// directory the one before reached, with the same rules.
unique_fd open_deep(int root, const std::string& relative) {
  constexpr std::size_t most_at_once = PATH_MAX - 1;
  unique_fd at;
  std::size_t start = 0;
  while (relative.size() - start > most_at_once) {
    const std::size_t end = relative.rfind('/', start + most_at_once);
    if (end == std::string::npos || end <= start) {
      return unique_fd();
    }
    at = open_beneath(at ? at.get() : root, relative.substr(start, end - start));
    if (!at) {
      return at;
    }
    start = end + 1;
  }
  return open_beneath(at ? at.get() : root, relative.substr(start));
}

// Walks the tree below `prefix`, adding each regular file under its path.
// Directories wait by name, not by an open descriptor, and are opened
// beneath the root without following any link or entering another mount.
// An entry's facts are taken without asking its file system, so a mount
// point is seen as one (another mount ID) and left out, whatever is mounted
// there: an automount or a dead network mount is never touched. A link's
// target is walked in this host's view with its mounts judged
// (proc/mounts.h). Only what root or the installation's owner made and no
// one else could have put there counts: a directory others may write to is
// not entered, so a hard link to anyone's program placed there is never
// taken for the installation's.
void walk(const std::string& prefix, walked_tree& tree) {
  const unique_fd root = open_normal_directory(prefix);
  struct statx top {};
  // A directory others may write to holds nothing the installation vouches for.
  if (!root ||
      statx(root.get(), "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, STATX_BASIC_STATS | STATX_MNT_ID,
            &top) != 0 ||
      (top.stx_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return;
  }
  const uid_t owner = top.stx_uid;
  const unique_fd self(open("/proc/self", O_PATH | O_DIRECTORY | O_CLOEXEC));
  process_names here(self.get());
  std::vector<std::string> pending{"."};
  while (!pending.empty()) {
    const std::string relative = std::move(pending.back());
    pending.pop_back();
    unique_fd opened = open_deep(root.get(), relative);
    const unique_dir dir(opened ? fdopendir(opened.get()) : nullptr);
    if (!dir) {
      continue;
    }
    static_cast<void>(opened.release());  // the directory stream owns it now
    const std::string base = relative == "." ? "" : relative + "/";
    tree.directories.insert(prefix + (relative == "." ? "" : relative));
    while (const dirent* entry = readdir(dir.get())) {
      const std::string name = entry->d_name;
      struct statx info {};
      if (name == "." || name == ".." ||
          statx(dirfd(dir.get()), name.c_str(),
                AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | AT_STATX_DONT_SYNC,
                STATX_BASIC_STATS | STATX_MNT_ID, &info) != 0 ||
          (info.stx_uid != 0 && info.stx_uid != owner)) {
        continue;
      }
      std::string path = prefix;
      path.append(base).append(name);
      if (info.stx_mnt_id != top.stx_mnt_id) {
        tree.left_out.push_back(std::move(path));
      } else if (S_ISLNK(info.stx_mode)) {
        const unique_fd target = here.open(path, {});
        if (const std::optional<file_id> id = target ? id_of(target.get()) : std::nullopt) {
          tree.link_targets.insert(*id);
        }
      } else if (S_ISREG(info.stx_mode)) {
        tree.files.emplace(id_from(info), std::move(path));
      } else if (S_ISDIR(info.stx_mode) && (info.stx_mode & (S_IWGRP | S_IWOTH)) == 0) {
        pending.push_back(base + name);
      }
    }
  }
}

}  // namespace

void installation_files::build() {
  built_ = true;
  auto tree = std::make_shared<walked_tree>();
  // The job shares what it fills: abandoned, it may still run, and fills nothing of ours.
  const auto job = [tree, directory = directory_] { walk(directory, *tree); };
  const std::shared_ptr<time_bound> time = time_.lock();
  if (time && !time->run(job)) {
    timed_out_ = true;
    return;
  }
  if (!time) {
    job();
  }
  files_ = std::move(tree->files);
  link_targets_ = std::move(tree->link_targets);
  left_out_ = std::move(tree->left_out);
  directories_ = std::move(tree->directories);
  for (const auto& [id, path] : files_) {
    by_name_.emplace(path.substr(path.rfind('/') + 1), &path);
  }
}

const std::string* installation_files::find(const file_id& id) {
  if (!built_) {
    build();
  }
  const auto file = files_.find(id);
  return file == files_.end() ? nullptr : &file->second;
}

bool installation_files::is_vouched_directory(const std::string& path) {
  if (!built_) {
    build();
  }
  return directories_.count(path) != 0 || directories_.count(path + "/") != 0;
}

bool installation_files::is_link_target(const file_id& id) {
  if (!built_) {
    build();
  }
  return link_targets_.count(id) != 0;
}

bool installation_files::has_path_ending(const std::string& tail) {
  if (!built_) {
    build();
  }
  const auto [first, last] = by_name_.equal_range(tail.substr(tail.rfind('/') + 1));
  for (auto file = first; file != last; ++file) {
    const std::string& path = *file->second;
    if (path.size() >= tail.size() &&
        path.compare(path.size() - tail.size(), tail.size(), tail) == 0) {
      return true;
    }
  }
  return false;
}

installation installation_at(const std::string& directory, std::shared_ptr<time_bound> time) {
  const auto directory_id = id_at(directory);
  const auto host_root = id_at("/proc/self/root");
  if (!directory_id || !host_root) {
    throw failure(failure_kind::system,
                  "cannot look at " + directory + ": " + std::strerror(errno));
  }
  return {directory,  *directory_id,
          *host_root, std::make_shared<installation_files>(directory, time),
          time,       nullptr};
}

bool lies_inside(const std::string& path, const installation& where) {
  return path.compare(0, where.directory.size(), where.directory) == 0;
}

}  // namespace corvane_host
