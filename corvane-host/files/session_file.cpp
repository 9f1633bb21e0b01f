// SPDX-License-Identifier: MIT
#include "files/session_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "base/text.h"

namespace corvane_host {
namespace {

using clock = std::chrono::steady_clock;

constexpr std::string_view temporary_infix = ".corvane-tmp.";

[[noreturn]] void fail(const std::string& what, int error = errno) {
  throw session_error(what + ": " + std::strerror(error));
}

std::string too_large(const std::string& file) {
  return "the session " + file + " holds more than the " +
         std::to_string(most_session_bytes >> 20) + " MiB a session may hold";
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

// A name no one has yet: FILE.corvane-tmp. and six random letters or digits.
std::string temporary_name(const std::string& name) {
  static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  unsigned char random[6] = {};
  if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
    fail("cannot make a temporary name");
  }
  std::string temporary = name + std::string(temporary_infix);
  for (const unsigned char byte : random) {
    temporary += letters[byte % (sizeof letters - 1)];
  }
  return temporary;
}

}  // namespace

bool is_temporary_of(const std::string& file_name, const std::string& entry) {
  const std::size_t prefix = file_name.size() + temporary_infix.size();
  return entry.size() == prefix + 6 && entry.compare(0, file_name.size(), file_name) == 0 &&
         entry.compare(file_name.size(), temporary_infix.size(), temporary_infix) == 0;
}

session_file::session_file(const std::string& named, std::chrono::milliseconds lock_timeout,
                           bool must_exist) {
  resolved_path where = resolve_path(named, "the session");
  file_ = printable(where.shown());
  directory_ = std::move(where.directory);
  name_ = std::move(where.name);
  const clock::time_point deadline = clock::now() + lock_timeout;
  // A save by another host replaces the file while this one waits: take the new one.
  for (int attempt = 0; attempt < 1000; ++attempt) {
    session_ = open_regular(directory_, name_, O_RDONLY, "the session", status_);
    if (!session_ && must_exist) {
      throw session_error("there is no session " + file_ +
                          ": kill ends what a check recorded there; run check with it first");
    }
    if (!session_) {
      session_ = unique_fd(openat(directory_.fd.get(), name_.c_str(),
                                  O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
      if (!session_ && errno == EEXIST) {
        continue;
      }
      if (!session_ || fstat(session_.get(), &status_) != 0) {
        fail("cannot create the session " + file_);
      }
    }
    lock_ = session_lock(session_.get(), status_, file_, deadline);
    struct stat named_now {};
    if (fstatat(directory_.fd.get(), name_.c_str(), &named_now, AT_SYMLINK_NOFOLLOW) == 0 &&
        id_from(named_now) == id_from(status_) && lock_.still_named()) {
      break;
    }
    lock_ = session_lock();
    session_ = unique_fd();
  }
  if (!session_) {
    throw session_error("the session " + file_ + " keeps being replaced; it is untouched");
  }
  // What an interrupted save left: the host's temporaries, nothing else.
  const int listing = openat(directory_.fd.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const std::unique_ptr<DIR, int (*)(DIR*)> entries(listing >= 0 ? fdopendir(listing) : nullptr,
                                                    closedir);
  if (!entries && listing >= 0) {
    close(listing);
  }
  while (entries) {
    const dirent* entry = readdir(entries.get());
    if (entry == nullptr) {
      break;
    }
    struct stat temporary {};
    if (is_temporary_of(name_, entry->d_name) &&
        fstatat(directory_.fd.get(), entry->d_name, &temporary, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(temporary.st_mode) &&
        (temporary.st_uid == status_.st_uid || temporary.st_uid == geteuid())) {
      unlinkat(directory_.fd.get(), entry->d_name, 0);
    }
  }
}

session_t session_file::load() const {
  std::string text;
  if (static_cast<std::uint64_t>(status_.st_size) > most_session_bytes) {
    throw session_error(too_large(file_) + "; it is " + std::to_string(status_.st_size) +
                        " bytes and was not read");
  }
  char buffer[65536];
  for (;;) {
    const ssize_t n = pread(session_.get(), buffer, sizeof buffer, static_cast<off_t>(text.size()));
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      fail("cannot read the session " + file_);
    }
    if (n == 0) {
      break;
    }
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > most_session_bytes) {
      throw session_error(too_large(file_));
    }
  }
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
  const std::string text = encode_session(session);
  if (text.size() > most_session_bytes) {
    throw session_error(too_large(file_) + "; it was not saved");
  }
  std::string temporary;
  unique_fd out;
  for (int attempt = 0; !out && attempt < 100; ++attempt) {
    temporary = temporary_name(name_);
    out = unique_fd(openat(directory_.fd.get(), temporary.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!out && errno != EEXIST) {
      break;
    }
  }
  if (!out) {
    fail("cannot create a file beside " + file_);
  }
  const std::string shown = printable(directory_.path) + "/" + printable(temporary);
  try {
    // Only the file just made gets the session's owner and mode; only root may give it away.
    const bool root = geteuid() == 0;
    if (fchown(out.get(), root ? status_.st_uid : static_cast<uid_t>(-1), status_.st_gid) != 0 &&
        root) {
      fail("cannot give " + shown + " the session's owner");
    }
    if (fchmod(out.get(), status_.st_mode & 0777) != 0) {
      fail("cannot give " + shown + " the session's mode");
    }
    write_all(out.get(), text, shown);
    if (fsync(out.get()) != 0) {
      fail("cannot sync " + shown);
    }
    if (renameat(directory_.fd.get(), temporary.c_str(), directory_.fd.get(), name_.c_str()) != 0) {
      fail("cannot replace " + file_);
    }
  } catch (...) {
    unlinkat(directory_.fd.get(), temporary.c_str(), 0);
    throw;
  }
  // The rename itself is durable once the directory is (not where it may only be passed through).
  fsync(directory_.fd.get());
}

}  // namespace corvane_host
