// SPDX-License-Identifier: MIT
#include "files/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/text.h"
#include "files/resolver.h"

namespace corvane_host {
namespace {

// A stream that keeps nothing, for /dev/null.
std::FILE* discarding_stream() {
  cookie_io_functions_t discard{};
  discard.write = [](void*, const char*, std::size_t size) { return static_cast<ssize_t>(size); };
  return fopencookie(nullptr, "w", discard);
}

unique_fd open_log(const std::string& named) {
  const resolved_path where = resolve_path(named, "the log");
  const std::string shown = printable(where.shown());
  for (int attempt = 0; attempt < 2; ++attempt) {
    struct stat status {};
    unique_fd log =
        open_regular(where.directory, where.name, O_WRONLY | O_APPEND, "the log", status);
    if (log) {
      return log;
    }
    log = unique_fd(openat(where.directory.fd.get(), where.name.c_str(),
                           O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (log || errno != EEXIST) {
      if (!log) {
        throw path_error("cannot create the log " + shown + ": " + std::strerror(errno));
      }
      return log;
    }
  }
  throw path_error("the log " + shown + " keeps appearing and going");
}

}  // namespace

log_file::log_file(const std::string& named) {
  if (named == "-" || named == "/dev/stderr") {
    stream_ = stderr;
  } else if (named == "/dev/stdout") {
    stream_ = stdout;
  } else {
    const unique_fd log = named == "/dev/null" ? unique_fd() : open_log(named);
    const int copy = log ? fcntl(log.get(), F_DUPFD_CLOEXEC, 0) : -1;
    owned_.reset(log ? (copy >= 0 ? fdopen(copy, "a") : nullptr) : discarding_stream());
    if (!owned_ && copy >= 0) {
      close(copy);
    }
    if (!owned_) {
      throw path_error("cannot open the log " + printable(named) + ": " + std::strerror(errno));
    }
    stream_ = owned_.get();
  }
}

}  // namespace corvane_host
