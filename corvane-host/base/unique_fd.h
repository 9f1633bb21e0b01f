// SPDX-License-Identifier: MIT
// A file descriptor closed on every path.
#ifndef CORVANE_HOST_UNIQUE_FD_H
#define CORVANE_HOST_UNIQUE_FD_H

#include <dirent.h>
#include <unistd.h>

#include <memory>
#include <utility>

namespace corvane_host {

class unique_fd {
 public:
  explicit unique_fd(int fd = -1) : fd_(fd) {}
  unique_fd(unique_fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  unique_fd& operator=(unique_fd&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  unique_fd(const unique_fd&) = delete;
  unique_fd& operator=(const unique_fd&) = delete;
  ~unique_fd() {
    if (fd_ >= 0) {
      close(fd_);
    }
  }

  [[nodiscard]] int get() const { return fd_; }
  // Hands the descriptor to a new owner (a directory stream).
  [[nodiscard]] int release() { return std::exchange(fd_, -1); }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_;
};

// A directory stream, closed on every path (with the descriptor it owns).
struct dir_closer {
  void operator()(DIR* dir) const { closedir(dir); }
};
using unique_dir = std::unique_ptr<DIR, dir_closer>;

}  // namespace corvane_host

#endif
