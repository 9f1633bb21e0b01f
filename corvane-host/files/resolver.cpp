// SPDX-License-Identifier: MIT
#include "files/resolver.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <filesystem>
#include <vector>

#include "base/kernel_file.h"
#include "base/text.h"
#include "proc/proc_table.h"

namespace corvane_host {
namespace {

constexpr int most_links = 40;

struct walked {
  unique_fd fd;
  struct stat status {};
  std::string path;
  std::uint64_t mount = 0;
};

// A kernel before 5.8 gives no mount ID: the time bound alone covers the walk there.
constexpr std::uint64_t unknown_mount = ~std::uint64_t{0};

// The facts of a held file, given by the kernel without asking its file
// system (a FUSE server or a network server may never answer), and its mount.
bool facts_of(int fd, struct stat& status, std::uint64_t& mount) {
  struct statx facts {};
  if (statx(fd, "", AT_EMPTY_PATH | AT_NO_AUTOMOUNT | AT_STATX_DONT_SYNC,
            STATX_BASIC_STATS | STATX_MNT_ID, &facts) != 0) {
    return false;
  }
  status = {};
  status.st_dev = makedev(facts.stx_dev_major, facts.stx_dev_minor);
  status.st_ino = facts.stx_ino;
  status.st_mode = facts.stx_mode;
  status.st_nlink = facts.stx_nlink;
  status.st_uid = facts.stx_uid;
  status.st_gid = facts.stx_gid;
  status.st_size = static_cast<off_t>(facts.stx_size);
  mount = (facts.stx_mask & STATX_MNT_ID) != 0 ? facts.stx_mnt_id : unknown_mount;
  return true;
}

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

std::string absolute(const std::string& named) {
  return named[0] == '/' ? named : std::filesystem::current_path().string() + "/" + named;
}

walked start_at(int root, const std::string& what) {
  walked start{unique_fd(openat(root, ".", O_PATH | O_DIRECTORY | O_CLOEXEC)), {}, "/"};
  if (!start.fd || !facts_of(start.fd.get(), start.status, start.mount)) {
    fail(what, "/", errno);
  }
  return start;
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

// Where a walk ended: in `directories.back()`, at `name` when the path went
// on past the last directory.
struct walk_end {
  std::vector<walked> directories;  // the start first
  std::string name;                 // empty when the path named a directory
  unique_fd entry;                  // O_PATH, when `name` exists
  struct stat status {};
  bool behind_link = false;          // the last component came from a link
  std::deque<std::string> unwalked;  // what followed a missing component
};

// Whether the walk may ask the file system of `mount` anything: a
// process's view enters only the mounts `mounts` allows, and the one of
// `policy.enter_device` (where the installation lies).
bool may_enter(process_mounts* mounts, const walk_policy& policy, std::uint64_t mount,
               dev_t device) {
  return mounts == nullptr || mount == unknown_mount ||
         (policy.enter_device && *policy.enter_device == device) || mounts->may_enter(mount);
}

// The walker: one component at a time from `root`, each step and each link
// judged by `policy`, ".." never above the start; each mount judged by
// `mounts` before anything is asked of it. Throws path_error.
walk_end walk(int root, const std::string& named, const walk_policy& policy,
              const std::string& what, process_mounts* mounts = nullptr) {
  walk_end end;
  std::deque<std::string> todo = components_of(named);
  end.directories.push_back(start_at(root, what));
  if (!may_enter(mounts, policy, end.directories.front().mount,
                 end.directories.front().status.st_dev)) {
    fail(what, "/", EREMOTE);
  }
  const dev_t device = end.directories.front().status.st_dev;
  const bool guarded = policy.steps == step_rule::guarded;
  int links = 0;
  while (!todo.empty()) {
    std::string name = std::move(todo.front());
    todo.pop_front();
    if (name == "..") {
      if (end.directories.size() > 1) {
        end.directories.pop_back();
      }
      continue;
    }
    const bool last = todo.empty();
    walked& directory = end.directories.back();
    const std::string shown = joined(directory.path, name);
    unique_fd entry(openat(directory.fd.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat status {};
    std::uint64_t mount = 0;
    if (!entry && errno == ENOENT) {
      end.name = std::move(name);
      end.unwalked = std::move(todo);
      return end;
    }
    if (!entry || !facts_of(entry.get(), status, mount)) {
      fail(what, shown, errno);
    }
    // A mount point: the mount on it is judged before it is asked anything.
    if (mount != directory.mount && !may_enter(mounts, policy, mount, status.st_dev)) {
      fail(what, shown, EREMOTE);
    }
    if (policy.same_mount && status.st_dev != device) {
      fail(what, shown, EXDEV);
    }
    if (guarded && !safe_transition(directory.status, status, policy.judged_for)) {
      throw path_error(what + " " + printable(shown) + " belongs to uid " +
                       std::to_string(status.st_uid) +
                       ", in a directory that is not root's alone and not theirs; refused");
    }
    if (S_ISLNK(status.st_mode) && (!last || policy.follow_last)) {
      if (guarded && !link_may_be_followed(directory.status, status, policy.judged_for)) {
        throw path_error(what + " " + printable(shown) + " is a symbolic link " +
                         (status.st_uid != policy.judged_for && status.st_uid != 0
                              ? "owned by another user"
                              : "in a world-writable directory") +
                         "; name its target instead");
      }
      if (++links > most_links) {
        fail(what, named, ELOOP);
      }
      const std::string target = link_target(entry.get(), what, shown);
      end.behind_link = end.behind_link || last;
      const std::deque<std::string> parts = components_of(target);
      todo.insert(todo.begin(), parts.begin(), parts.end());
      if (target[0] == '/') {
        end.directories.resize(1);
      }
    } else if (S_ISDIR(status.st_mode)) {
      end.directories.push_back({std::move(entry), status, shown, mount});
    } else if (!last) {
      fail(what, shown, ENOTDIR);
    } else {
      end.name = std::move(name);
      end.entry = std::move(entry);
      end.status = status;
      return end;
    }
  }
  return end;  // a directory
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
  const unique_fd root(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
  walk_end end = walk(root.get(), absolute(named),
                      {step_rule::guarded, geteuid(), true, false, std::nullopt}, what);
  const std::string shown = joined(end.directories.back().path, end.name);
  if (end.name.empty()) {
    throw path_error(what + " " + printable(named) + " is a directory, not a regular file");
  }
  if (!end.entry) {
    if (!end.unwalked.empty()) {
      fail(what, shown, ENOENT);
    }
    if (end.behind_link) {
      throw path_error(what + " " + printable(named) + " is a symbolic link to " +
                       printable(shown) + ", which does not exist");
    }
    return {hold(std::move(end.directories.back())), end.name, std::nullopt};
  }
  if (!S_ISREG(end.status.st_mode)) {
    throw path_error(what + " " + printable(shown) + " is " + kind_of(end.status.st_mode) +
                     ", not a regular file");
  }
  return {hold(std::move(end.directories.back())), end.name, end.status};
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
  if (!safe_transition(directory.status, status, geteuid())) {
    throw path_error(what + " " + printable(shown) + " belongs to uid " +
                     std::to_string(status.st_uid) +
                     ", in a directory that is not root's alone and not theirs; refused");
  }
  if (status.st_nlink != 1) {
    throw path_error(what + " " + printable(shown) + " has " + std::to_string(status.st_nlink) +
                     " links; only a file with one name is used");
  }
  return file;
}

std::string normal_path(const std::string& named) {
  const std::string whole = absolute(named.empty() ? "." : named);
  std::string normal;
  try {
    const unique_fd root(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    const walk_end end = walk(root.get(), whole, {}, "the path");
    normal = end.directories.back().path;
    if (!end.name.empty()) {
      normal = joined(normal, end.name);
      for (const std::string& rest : end.unwalked) {
        normal += "/" + rest;
      }
    }
  } catch (const path_error&) {
    normal = whole;  // what cannot be walked is taken as written
  }
  normal = std::filesystem::path(normal).lexically_normal().string();
  while (normal.size() > 1 && normal.back() == '/') {
    normal.pop_back();
  }
  return normal;
}

namespace {

std::optional<struct statx> facts_at(const std::string& path, bool follow) {
  struct statx facts {};
  const int flags = AT_NO_AUTOMOUNT | AT_STATX_DONT_SYNC | (follow ? 0 : AT_SYMLINK_NOFOLLOW);
  if (statx(AT_FDCWD, path.c_str(), flags, STATX_INO | STATX_TYPE, &facts) != 0) {
    return std::nullopt;
  }
  return facts;
}

}  // namespace

std::optional<file_id> id_at(const std::string& path, bool follow) {
  const std::optional<struct statx> facts = facts_at(path, follow);
  if (!facts) {
    return std::nullopt;
  }
  return id_from(*facts);
}

int reach_error(const std::string& path) { return facts_at(path, true) ? 0 : errno; }

bool is_directory_at(const std::string& path) {
  const std::optional<struct statx> facts = facts_at(path, true);
  return facts && S_ISDIR(facts->stx_mode);
}

std::optional<file_id> id_of(int fd) {
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    return std::nullopt;
  }
  return id_from(info);
}

unique_fd open_normal_directory(const std::string& normal) {
  open_how how{};
  how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  return unique_fd(
      static_cast<int>(syscall(SYS_openat2, AT_FDCWD, normal.c_str(), &how, sizeof how)));
}

unique_fd open_beneath(int root, const std::string& relative) {
  open_how how{};
  how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS | RESOLVE_NO_XDEV;
  return unique_fd(
      static_cast<int>(syscall(SYS_openat2, root, relative.c_str(), &how, sizeof how)));
}

process_names::process_names(int proc_dir)
    : proc_dir_(proc_dir),
      root_(openat(proc_dir, "root", O_PATH | O_DIRECTORY | O_CLOEXEC)),
      mounts_(proc_dir) {}

std::optional<process_names::root_facts> process_names::root() {
  if (!root_facts_) {
    struct stat status {};
    std::uint64_t mount = 0;
    root_facts_ = root_ && facts_of(root_.get(), status, mount) && mount != unknown_mount
                      ? std::optional(root_facts{mount, status.st_dev})
                      : std::nullopt;
  }
  return *root_facts_;
}

namespace {

std::optional<std::uint64_t> mount_rooted_at(int dir_fd, const char* name) {
  struct statx facts {};
  if (dir_fd < 0 ||
      statx(dir_fd, name, AT_EMPTY_PATH | AT_NO_AUTOMOUNT | AT_STATX_DONT_SYNC,
            STATX_TYPE | unique_mount_id, &facts) != 0 ||
      (facts.stx_mask & unique_mount_id) == 0 ||
      (facts.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) == 0 ||
      (facts.stx_attributes & STATX_ATTR_MOUNT_ROOT) == 0) {
    return std::nullopt;
  }
  return facts.stx_mnt_id;
}

}  // namespace

std::optional<std::uint64_t> process_names::root_mount() {
  return mount_rooted_at(root_.get(), "");
}

std::optional<std::uint64_t> process_names::root_mount_now(int proc_dir) {
  return mount_rooted_at(proc_dir, "root");
}

// NOLINTNEXTLINE(misc-no-recursion): once, for the working directory's absolute name
unique_fd process_names::open(const std::string& path, const walk_policy& policy) {
  if (!root_ || path.empty()) {
    return unique_fd();
  }
  std::string whole = path;
  if (whole.front() != '/') {
    if (!cwd_) {
      // Its working directory by name, which must be the very directory it works in.
      const file_text cwd = read_link_at(proc_dir_, "cwd");
      // An absolute name: this call goes one level deep, never further.
      const bool absolute = cwd.error == 0 && !cwd.text.empty() && cwd.text.front() == '/';
      const unique_fd named = absolute ? open(cwd.text, {}) : unique_fd();
      const reached_file actual = named ? reach_at(proc_dir_, "cwd") : reached_file{};
      const bool same = named && actual.error == 0 && id_of(named.get()) == id_from(actual.facts);
      cwd_ = same ? cwd.text : "";
    }
    if (cwd_->empty()) {
      return unique_fd();
    }
    whole = *cwd_ + "/" + whole;
  }
  // Unjudged steps that stay on the mount of its root, itself judged: one
  // call. A walk that would cross into another mount walks step by step,
  // each mount judged before it is asked anything.
  if (policy.steps == step_rule::any && !policy.same_mount) {
    const std::optional<root_facts> start = root();
    if (start && may_enter(&mounts_, policy, start->mount, start->device)) {
      open_how how{};
      how.flags = O_PATH | O_CLOEXEC | (policy.follow_last ? 0 : O_NOFOLLOW);
      how.resolve = RESOLVE_IN_ROOT | RESOLVE_NO_XDEV | RESOLVE_NO_MAGICLINKS;
      unique_fd file(
          static_cast<int>(syscall(SYS_openat2, root_.get(), whole.c_str(), &how, sizeof how)));
      if (file || (errno != EXDEV && errno != EAGAIN && errno != ENOSYS)) {
        return file;
      }
    }
  }
  try {
    walk_end end = walk(root_.get(), whole, policy, "the name", &mounts_);
    if (end.name.empty()) {
      return std::move(end.directories.back().fd);
    }
    return std::move(end.entry);
  } catch (const path_error&) {
    return unique_fd();
  }
}

}  // namespace corvane_host
