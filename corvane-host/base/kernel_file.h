// SPDX-License-Identifier: MIT
// The one reader of files the kernel makes up as they are read (/proc).
// Such a file comes a record or a page per read(): /proc/PID/maps or
// mountinfo of a few hundred lines takes many reads, so only a read of 0
// bytes ends it. Every read is bounded: what a process shows there is its own
// to make large.
#ifndef CORVANE_HOST_BASE_KERNEL_FILE_H
#define CORVANE_HOST_BASE_KERNEL_FILE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corvane_host {

// The text of a file or of a symbolic link, or the errno that stopped the read.
struct file_text {
  std::string text;
  int error = 0;
};

// The most read of any one file unless told otherwise.
constexpr std::size_t most_file_bytes = std::size_t{64} << 20;

// `relative` is taken against the directory `dir_fd` (AT_FDCWD: the current
// one). Reads until end of file or until `most` bytes, whichever comes first.
file_text read_file_at(int dir_fd, const char* relative, std::size_t most = most_file_bytes);
inline file_text read_file_at(int dir_fd, const std::string& relative,
                              std::size_t most = most_file_bytes) {
  return read_file_at(dir_fd, relative.c_str(), most);
}

// A file of one line (/proc/PID/stat): read as read_file_at() does, but
// ended by the read that brings its newline, without the read of 0 bytes.
file_text read_line_file_at(int dir_fd, const char* relative, std::size_t most = most_file_bytes);
inline file_text read_line_file_at(int dir_fd, const std::string& relative,
                                   std::size_t most = most_file_bytes) {
  return read_line_file_at(dir_fd, relative.c_str(), most);
}

// A file the kernel makes whole when it is first read and then hands out
// as asked (/proc/PID/status, cgroup, comm), or one whose every read it fills
// until the end (cmdline and environ, copied out of the process's memory):
// read as read_file_at() does, but ended by a read that brings less than it
// asked for, without the read of 0 bytes (for cmdline, one more look into
// that memory). Not for a file that comes a record or a page per read.
file_text read_whole_file_at(int dir_fd, const char* relative, std::size_t most = most_file_bytes);

// A link's text; ENAMETOOLONG for one longer than any path the kernel hands out.
file_text read_link_at(int dir_fd, const char* relative);
inline file_text read_link_at(int dir_fd, const std::string& relative) {
  return read_link_at(dir_fd, relative.c_str());
}

// The names in the directory `relative` below `dir_fd`, "." and ".." left
// out; at most `most` of them.
std::vector<std::string> read_entries(int dir_fd, const char* relative,
                                      std::size_t most = SIZE_MAX);

}  // namespace corvane_host

#endif
