// SPDX-License-Identifier: MIT
#include "base/kernel_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "base/unique_fd.h"

namespace corvane_host {

file_text read_link_at(int dir_fd, const char* relative) {
  std::array<char, 4096> buffer;
  const ssize_t length = readlinkat(dir_fd, relative, buffer.data(), buffer.size());
  if (length < 0) {
    return {{}, errno};
  }
  if (static_cast<std::size_t>(length) == buffer.size()) {
    return {{}, ENAMETOOLONG};
  }
  return {std::string(buffer.data(), static_cast<std::size_t>(length)), 0};
}

namespace {

// How a read ends a file before the read of 0 bytes.
enum class file_end { at_zero, at_newline, at_short_read };

file_text read_at(int dir_fd, const char* relative, std::size_t most, file_end end) {
  const unique_fd fd(openat(dir_fd, relative, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!fd) {
    return {{}, errno};
  }
  file_text file;
  std::array<char, 4096> buffer;
  while (file.text.size() < most &&
         !(end == file_end::at_newline && !file.text.empty() && file.text.back() == '\n')) {
    const std::size_t wanted = std::min(buffer.size(), most - file.text.size());
    const ssize_t n = read(fd.get(), buffer.data(), wanted);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      return {{}, errno};
    }
    if (n == 0) {
      break;
    }
    file.text.append(buffer.data(), static_cast<std::size_t>(n));
    if (end == file_end::at_short_read && static_cast<std::size_t>(n) < wanted) {
      break;  // the kernel had no more of it
    }
  }
  return file;
}

}  // namespace

file_text read_file_at(int dir_fd, const char* relative, std::size_t most) {
  return read_at(dir_fd, relative, most, file_end::at_zero);
}

file_text read_line_file_at(int dir_fd, const char* relative, std::size_t most) {
  return read_at(dir_fd, relative, most, file_end::at_newline);
}

file_text read_whole_file_at(int dir_fd, const char* relative, std::size_t most) {
  return read_at(dir_fd, relative, most, file_end::at_short_read);
}

std::vector<std::string> read_entries(int dir_fd, const char* relative, std::size_t most) {
  std::vector<std::string> names;
  const int fd = openat(dir_fd, relative, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* const dir = fd < 0 ? nullptr : fdopendir(fd);
  if (dir == nullptr) {
    if (fd >= 0) {
      close(fd);
    }
    return names;
  }
  while (names.size() < most) {
    const dirent* entry = readdir(dir);
    if (entry == nullptr) {
      break;
    }
    if (entry->d_name[0] != '.') {
      names.emplace_back(entry->d_name);
    }
  }
  closedir(dir);
  return names;
}

}  // namespace corvane_host
