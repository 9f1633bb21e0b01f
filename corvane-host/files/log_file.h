// SPDX-License-Identifier: MIT
// Where --log FILE sends the plug-in's log. The host may run as root on a
// path a user chose, so FILE is reached as a session is (resolver.h): only a
// regular file is appended to, a new one is made with mode 0600, and no pipe
// or device is ever opened. "-", /dev/stderr, /dev/stdout and /dev/null
// name the standard streams and nothing.
#ifndef CORVANE_HOST_LOG_FILE_H
#define CORVANE_HOST_LOG_FILE_H

#include <cstdio>
#include <memory>
#include <string>

namespace corvane_host {

class log_file {
 public:
  // Throws path_error when FILE cannot be a log.
  explicit log_file(const std::string& named);

  [[nodiscard]] std::FILE* stream() const { return stream_; }

 private:
  struct closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::unique_ptr<std::FILE, closer> owned_;
  std::FILE* stream_ = nullptr;
};

}  // namespace corvane_host

#endif
