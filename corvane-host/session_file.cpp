// SPDX-License-Identifier: MIT
#include "session_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <thread>

#include "proc_parse.h"

namespace corvane_host {
namespace {

using clock = std::chrono::steady_clock;

constexpr std::string_view temporary_infix = ".corvane-tmp.";
constexpr int most_links = 40;
// How long the host waits for the lock before it says so.
constexpr std::chrono::milliseconds quiet_wait{500};

[[noreturn]] void fail(const std::string& what, int error = errno) {
  throw session_error(what + ": " + std::strerror(error));
}

std::string directory_of_file(const std::string& file) {
  const auto slash = file.rfind('/');
  if (slash == std::string::npos) {
    return ".";
  }
  return slash == 0 ? "/" : file.substr(0, slash);
}

std::string name_of_file(const std::string& file) {
  const auto slash = file.rfind('/');
  return slash == std::string::npos ? file : file.substr(slash + 1);
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
    default:
      return "not a regular file";
  }
}

// A link that another user could have made, or could replace, must not make
// this host (perhaps root) write elsewhere.
void check_link(const std::string& link, const struct stat& link_stat) {
  if (link_stat.st_uid != geteuid() && link_stat.st_uid != 0) {
    throw session_error("the session " + link +
                        " is a symbolic link owned by another user; name its target instead");
  }
  struct stat directory {};
  if (stat(directory_of_file(link).c_str(), &directory) == 0 &&
      (directory.st_mode & S_IWOTH) != 0) {
    throw session_error("the session " + link +
                        " is a symbolic link in a world-writable directory; name its target "
                        "instead");
  }
}

std::string read_link(const std::string& link) {
  std::string target(4096, '\0');
  const ssize_t length = readlink(link.c_str(), target.data(), target.size());
  if (length < 0 || static_cast<std::size_t>(length) == target.size()) {
    fail("cannot read the link " + link, length < 0 ? errno : ENAMETOOLONG);
  }
  target.resize(static_cast<std::size_t>(length));
  if (target.front() != '/') {
    target = directory_of_file(link) + "/" + target;
  }
  return target;
}

void write_all(int fd, const std::string& data, const std::string& file) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      fail("cannot write " + file);
    }
    done += static_cast<std::size_t>(n);
  }
}

std::string read_all(int fd, const std::string& file) {
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      fail("cannot read the session " + file);
    }
    if (n == 0) {
      return text;
    }
    text.append(buffer, static_cast<std::size_t>(n));
  }
}

// Which process holds the lock on `lock`, where /proc/locks tells.
std::string holder_of(int lock) {
  struct stat lock_stat {};
  const unique_fd locks(open("/proc/locks", O_RDONLY | O_CLOEXEC));
  if (fstat(lock, &lock_stat) != 0 || !locks) {
    return {};
  }
  const auto holder =
      parse_lock_holder(read_all(locks.get(), "/proc/locks"), major(lock_stat.st_dev),
                        minor(lock_stat.st_dev), lock_stat.st_ino);
  return holder ? ", held by process " + std::to_string(*holder) : std::string();
}

void wait_for_lock(int lock, const std::string& name, std::chrono::milliseconds timeout) {
  const clock::time_point start = clock::now();
  bool said = false;
  while (flock(lock, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) {
      fail("cannot lock " + name);
    }
    const auto waited = clock::now() - start;
    if (waited >= timeout) {
      throw session_error("gave up waiting for the session lock " + name + " after " +
                          std::to_string(static_cast<double>(timeout.count()) / 1000).substr(0, 5) +
                          " s" + holder_of(lock) + "; the session is untouched");
    }
    if (!said && waited >= quiet_wait) {
      std::cerr << "corvane-host: waiting for the session lock " << name << holder_of(lock) << "\n";
      said = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// The lock beside the session gets the session's owner and mode, so that
// the user's next run is not locked out by a run as root.
unique_fd open_lock(const std::string& file) {
  const std::string name = file + ".lock";
  unique_fd lock(open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666));
  if (!lock) {
    fail("cannot open the lock " + name);
  }
  struct stat lock_stat {};
  if (fstat(lock.get(), &lock_stat) != 0 || !S_ISREG(lock_stat.st_mode)) {
    throw session_error("the lock " + name + " is not a regular file");
  }
  struct stat session {};
  if (stat(file.c_str(), &session) == 0) {
    // Only root may give a file away; anyone else keeps what it has.
    (void)fchown(lock.get(), session.st_uid, session.st_gid);
    (void)fchmod(lock.get(), session.st_mode & 0666);
  }
  return lock;
}

void remove_stale_temporaries(const std::string& file) {
  const std::string directory = directory_of_file(file);
  const std::unique_ptr<DIR, int (*)(DIR*)> entries(opendir(directory.c_str()), closedir);
  if (!entries) {
    return;
  }
  const std::string name = name_of_file(file);
  while (const dirent* entry = readdir(entries.get())) {
    if (is_temporary_of(name, entry->d_name)) {
      unlinkat(dirfd(entries.get()), entry->d_name, 0);
    }
  }
}

session_error dangling(const std::string& link, const std::string& target) {
  return session_error{"the session " + link + " is a symbolic link to " + target +
                       ", which does not exist"};
}

mode_t umask_mode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

std::string resolve_session_path(const std::string& named) {
  std::string path = named;
  for (int hop = 0; hop <= most_links; ++hop) {
    struct stat path_stat {};
    if (lstat(path.c_str(), &path_stat) != 0) {
      if (errno != ENOENT) {
        fail("cannot look at the session " + path);
      }
      if (hop > 0) {
        throw dangling(named, path);
      }
      struct stat directory {};
      if (stat(directory_of_file(path).c_str(), &directory) != 0 || !S_ISDIR(directory.st_mode)) {
        throw session_error("the session " + named + " cannot be created: no directory " +
                            directory_of_file(path));
      }
      return path;
    }
    if (S_ISREG(path_stat.st_mode)) {
      return path;
    }
    if (!S_ISLNK(path_stat.st_mode)) {
      throw session_error("the session " + path + " is " + kind_of(path_stat.st_mode) +
                          ", not a session file");
    }
    check_link(path, path_stat);
    path = read_link(path);
  }
  throw session_error("the session " + named + " goes through too many symbolic links");
}

bool is_temporary_of(const std::string& file_name, const std::string& entry) {
  const std::size_t prefix = file_name.size() + temporary_infix.size();
  return entry.size() == prefix + 6 && entry.compare(0, file_name.size(), file_name) == 0 &&
         entry.compare(file_name.size(), temporary_infix.size(), temporary_infix) == 0;
}

session_file::session_file(const std::string& named, std::chrono::milliseconds lock_timeout,
                           bool must_exist)
    : file_(resolve_session_path(named)) {
  if (must_exist && access(file_.c_str(), F_OK) != 0) {
    throw session_error("there is no session " + named +
                        ": kill ends what a check recorded there; run check with it first");
  }
  lock_ = open_lock(file_);
  wait_for_lock(lock_.get(), file_ + ".lock", lock_timeout);
  remove_stale_temporaries(file_);
}

session_t session_file::load() const {
  const unique_fd in(open(file_.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in) {
    if (errno == ENOENT) {
      return {};
    }
    fail("cannot read the session " + file_);
  }
  const std::string text = read_all(in.get(), file_);
  if (text.empty()) {
    return {};  // made by mktemp, say
  }
  try {
    return decode_session(text);
  } catch (const session_error& error) {
    throw session_error("the session " + file_ + " is malformed: " + error.what());
  }
}

void session_file::save(const session_t& session) const {
  std::string temporary = file_;
  temporary.append(temporary_infix).append("XXXXXX");
  const unique_fd out(mkstemp(temporary.data()));
  if (!out) {
    fail("cannot create a file beside " + file_);
  }
  try {
    struct stat existing {};
    if (stat(file_.c_str(), &existing) == 0) {
      if (fchown(out.get(), existing.st_uid, existing.st_gid) != 0 && geteuid() == 0) {
        fail("cannot give " + temporary + " the session's owner");
      }
      fchmod(out.get(), existing.st_mode & 07777);
    } else {
      fchmod(out.get(), umask_mode());
    }
    write_all(out.get(), encode_session(session), temporary);
    if (fsync(out.get()) != 0) {
      fail("cannot sync " + temporary);
    }
    if (rename(temporary.c_str(), file_.c_str()) != 0) {
      fail("cannot replace " + file_);
    }
  } catch (...) {
    unlink(temporary.c_str());
    throw;
  }
  // The rename itself is durable once the directory is.
  const unique_fd directory(open(directory_of_file(file_).c_str(), O_RDONLY | O_DIRECTORY));
  if (directory) {
    fsync(directory.get());
  }
}

}  // namespace corvane_host
