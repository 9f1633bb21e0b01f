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
#include "files/resolver.h"

namespace corvane_host {
namespace {

struct dir_closer {
  void operator()(DIR* dir) const { closedir(dir); }
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

// Walks the tree below `root` (the directory `prefix` names), adding each
// regular file under its path. Directories wait by name, not by an open
// descriptor, and are opened beneath the root without following any link or
// entering another file system (only the root's is looked up; an automount
// or a dead network mount is never touched). Only what root or `owner` (the
// installation's) made and no one else could have put there counts: a
// directory others may write to is not entered, so a hard link to anyone's
// program placed there is never taken for the installation's.
void walk(int root, const std::string& prefix, uid_t owner,
          std::unordered_map<file_id, std::string, file_id_hash>& files,
          std::unordered_set<file_id, file_id_hash>& link_targets,
          std::unordered_set<std::string>& directories) {
  const auto trusted = [owner](const struct stat& info) {
    return info.st_uid == 0 || info.st_uid == owner;
  };
  std::vector<std::string> pending{"."};
  while (!pending.empty()) {
    const std::string relative = std::move(pending.back());
    pending.pop_back();
    unique_fd opened = open_deep(root, relative);
    const std::unique_ptr<DIR, dir_closer> dir(opened ? fdopendir(opened.get()) : nullptr);
    if (!dir) {
      continue;
    }
    static_cast<void>(opened.release());  // the directory stream owns it now
    const std::string base = relative == "." ? "" : relative + "/";
    directories.insert(prefix + (relative == "." ? "" : relative));
    while (const dirent* entry = readdir(dir.get())) {
      const std::string name = entry->d_name;
      struct stat info {};
      if (name == "." || name == ".." ||
          fstatat(dirfd(dir.get()), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
          !trusted(info)) {
        continue;
      }
      if (S_ISLNK(info.st_mode)) {
        // Where it leads, asked without waking an automount or a network server.
        struct statx target {};
        if (statx(dirfd(dir.get()), name.c_str(), AT_NO_AUTOMOUNT | AT_STATX_DONT_SYNC, STATX_INO,
                  &target) == 0) {
          link_targets.insert(id_from(target));
        }
      } else if (S_ISREG(info.st_mode)) {
        std::string path = prefix;
        path.append(base).append(name);
        files.emplace(id_from(info), std::move(path));
      } else if (S_ISDIR(info.st_mode) && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0) {
        pending.push_back(base + name);
      }
    }
  }
}

}  // namespace

void installation_files::build() {
  built_ = true;
  const unique_fd root = open_normal_directory(directory_);
  struct stat info {};
  // A directory others may write to holds nothing the installation vouches for.
  if (root && fstat(root.get(), &info) == 0 && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0) {
    walk(root.get(), directory_, info.st_uid, files_, link_targets_, directories_);
  }
  for (const auto& [id, path] : files_) {
    by_name_.emplace(path.substr(path.rfind('/') + 1), &path);
  }
}

bool installation_files::is_vouched_directory(const std::string& path) {
  if (!built_) {
    build();
  }
  return directories_.count(path) != 0 || directories_.count(path + "/") != 0;
}

const std::string* installation_files::find(const file_id& id) {
  if (!built_) {
    build();
  }
  const auto file = files_.find(id);
  return file == files_.end() ? nullptr : &file->second;
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

installation installation_at(const std::string& directory) {
  const auto directory_id = id_at(directory);
  const auto host_root = id_at("/proc/self/root");
  if (!directory_id || !host_root) {
    throw failure(failure_kind::system,
                  "cannot look at " + directory + ": " + std::strerror(errno));
  }
  return {directory, *directory_id, *host_root, std::make_shared<installation_files>(directory)};
}

bool lies_inside(const std::string& path, const installation& where) {
  return path.compare(0, where.directory.size(), where.directory) == 0;
}

}  // namespace corvane_host
