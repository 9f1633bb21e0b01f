// SPDX-License-Identifier: MIT
#include "files/safe_path.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <filesystem>
#include <vector>

#include "base/text.h"

namespace corvane_host {
namespace {

constexpr int most_links = 40;

struct walked {
  unique_fd fd;
  struct stat status {};
  std::string path;
};

[[noreturn]] void fail(const std::string& what, const std::string& path, int error) {
  throw path_error(what + " " + printable(path) + ": " + std::strerror(error));
}

std::deque<std::string> components_of(const std::string& path) {
  std::deque<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t slash = std::min(path.find('/', start), path.size());
    if (slash > start && path.compare(start, slash - start, ".") != 0) {
      parts.push_back(path.substr(start, slash - start));
    }
    start = slash + 1;
  }
  return parts;
}

std::string joined(const std::string& directory, const std::string& name) {
  return directory == "/" ? "/" + name : directory + "/" + name;
}

walked root_directory() {
  walked root{unique_fd(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC)), {}, "/"};
  if (!root.fd || fstat(root.fd.get(), &root.status) != 0) {
    throw path_error(std::string("cannot open /: ") + std::strerror(errno));
  }
  return root;
}

std::string link_target(int link, const std::string& what, const std::string& shown) {
  std::string target(4096, '\0');
  const ssize_t length = readlinkat(link, "", target.data(), target.size());
  if (length <= 0 || static_cast<std::size_t>(length) == target.size()) {
    fail(what, shown, length < 0 ? errno : ENAMETOOLONG);
  }
  target.resize(static_cast<std::size_t>(length));
  return target;
}

void check_transition(const struct stat& directory, const struct stat& entry,
                      const std::string& what, const std::string& shown) {
  if (!safe_transition(directory, entry, geteuid())) {
    throw path_error(what + " " + printable(shown) + " belongs to uid " +
                     std::to_string(entry.st_uid) +
                     ", in a directory that is not root's alone and not theirs; refused");
  }
}

// The walked directory, readable where it may be, so that its entries can be
// listed and it can be synced.
held_directory hold(walked directory) {
  unique_fd readable(openat(directory.fd.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return {readable ? std::move(readable) : std::move(directory.fd), directory.status,
          std::move(directory.path)};
}

}  // namespace

bool root_only(const struct stat& directory) {
  return directory.st_uid == 0 && (directory.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool safe_transition(const struct stat& directory, const struct stat& entry, uid_t caller) {
  return root_only(directory) || entry.st_uid == directory.st_uid || entry.st_uid == caller ||
         entry.st_uid == 0;
}

bool link_may_be_followed(const struct stat& directory, const struct stat& link, uid_t caller) {
  return (link.st_uid == caller || link.st_uid == 0) && (directory.st_mode & S_IWOTH) == 0;
}

const char* kind_of(mode_t mode) {
  switch (mode & S_IFMT) {
    case S_IFDIR:
      return "a directory";
    case S_IFCHR:
    case S_IFBLK:
      return "a device";
    case S_IFSOCK:
      return "a socket";
    case S_IFIFO:
      return "a pipe";
    case S_IFLNK:
      return "a symbolic link";
    default:
      return "not a regular file";
  }
}

std::string resolved_path::shown() const { return joined(directory.path, name); }

resolved_path resolve_path(const std::string& named, const std::string& what) {
  if (named.empty()) {
    throw path_error(what + " is an empty path");
  }
  std::deque<std::string> todo = components_of(
      named[0] == '/' ? named : std::filesystem::current_path().string() + "/" + named);
  std::vector<walked> directories;
  directories.push_back(root_directory());
  int links = 0;
  bool last_is_a_link_target = false;
  while (!todo.empty()) {
    const std::string name = std::move(todo.front());
    todo.pop_front();
    if (name == "..") {
      if (directories.size() > 1) {
        directories.pop_back();
      }
      continue;
    }
    const bool last = todo.empty();
    walked& directory = directories.back();
    const std::string shown = joined(directory.path, name);
    unique_fd entry(openat(directory.fd.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat status {};
    if (!entry && errno == ENOENT && last) {
      if (last_is_a_link_target) {
        throw path_error(what + " " + printable(named) + " is a symbolic link to " +
                         printable(shown) + ", which does not exist");
      }
      return {hold(std::move(directory)), name, std::nullopt};
    }
    if (!entry || fstat(entry.get(), &status) != 0) {
      fail(what, shown, errno);
    }
    check_transition(directory.status, status, what, shown);
    if (S_ISLNK(status.st_mode)) {
      if (!link_may_be_followed(directory.status, status, geteuid())) {
        throw path_error(what + " " + printable(shown) + " is a symbolic link " +
                         (status.st_uid != geteuid() && status.st_uid != 0
                              ? "owned by another user"
                              : "in a world-writable directory") +
                         "; name its target instead");
      }
      if (++links > most_links) {
        fail(what, named, ELOOP);
      }
      const std::string target = link_target(entry.get(), what, shown);
      last_is_a_link_target = last_is_a_link_target || last;
      const std::deque<std::string> parts = components_of(target);
      todo.insert(todo.begin(), parts.begin(), parts.end());
      if (target[0] == '/') {
        directories.resize(1);
      }
    } else if (S_ISDIR(status.st_mode) && !last) {
      directories.push_back({std::move(entry), status, shown});
    } else if (!last) {
      fail(what, shown, ENOTDIR);
    } else if (!S_ISREG(status.st_mode)) {
      throw path_error(what + " " + printable(shown) + " is " + kind_of(status.st_mode) +
                       ", not a regular file");
    } else {
      return {hold(std::move(directory)), name, status};
    }
  }
  throw path_error(what + " " + printable(named) + " is a directory, not a regular file");
}

unique_fd open_regular(const held_directory& directory, const std::string& name, int flags,
                       const std::string& what, struct stat& status) {
  const std::string shown = joined(directory.path, name);
  // Its kind first: a pipe or a device is never opened.
  if (fstatat(directory.fd.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) {
      return unique_fd();
    }
    fail(what, shown, errno);
  }
  unique_fd file;
  if (S_ISREG(status.st_mode)) {
    file = unique_fd(openat(directory.fd.get(), name.c_str(),
                            flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file || fstat(file.get(), &status) != 0) {
      fail(what, shown, errno);
    }
  }
  if (!S_ISREG(status.st_mode)) {
    throw path_error(what + " " + printable(shown) + " is " + kind_of(status.st_mode) +
                     ", not a regular file");
  }
  check_transition(directory.status, status, what, shown);
  if (status.st_nlink != 1) {
    throw path_error(what + " " + printable(shown) + " has " + std::to_string(status.st_nlink) +
                     " links; only a file with one name is used");
  }
  return file;
}

}  // namespace corvane_host
