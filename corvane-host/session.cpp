// SPDX-License-Identifier: MIT
#include "session.h"

#include "unique_fd.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace corvane_host {
namespace {

const char* const header = "corvane-host session 1";

bool stands_plain(unsigned char c) { return c >= 0x20 && c < 0x7f && c != '%' && c != '='; }

void append_escaped(std::string& out, const std::string& text) {
  static const char hex[] = "0123456789ABCDEF";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (stands_plain(byte)) {
      out += c;
    } else {
      out += '%';
      out += hex[byte >> 4];
      out += hex[byte & 0xf];
    }
  }
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

std::string unescape(const std::string& text, std::size_t line) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    const int high = i + 2 < text.size() ? hex_value(text[i + 1]) : -1;
    const int low = high < 0 ? -1 : hex_value(text[i + 2]);
    if (low < 0) {
      throw session_error("line " + std::to_string(line) + ": bad escape");
    }
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

std::string system_error_text(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

void write_all(int fd, const std::string& data, const std::string& file) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      throw session_error(system_error_text("cannot write " + file));
    }
    done += static_cast<std::size_t>(n);
  }
}

std::string directory_of_file(const std::string& file) {
  const auto slash = file.rfind('/');
  if (slash == std::string::npos) {
    return ".";
  }
  return slash == 0 ? "/" : file.substr(0, slash);
}

}  // namespace

std::string value_of(const session_t& session, const std::string& key) {
  const auto it = session.values.find(key);
  return it == session.values.end() ? std::string() : it->second;
}

std::string encode_session(const session_t& session) {
  std::string out = header;
  out += '\n';
  for (const auto& [key, value] : session.values) {
    append_escaped(out, key);
    out += '=';
    append_escaped(out, value);
    out += '\n';
  }
  return out;
}

session_t decode_session(const std::string& text) {
  if (text.compare(0, std::strlen(header) + 1, std::string(header) + "\n") != 0) {
    throw session_error("not a corvane-host session (the first line is not \"" +
                        std::string(header) + "\")");
  }
  session_t session;
  std::size_t line = 1;
  std::size_t start = std::strlen(header) + 1;
  while (start < text.size()) {
    ++line;
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      throw session_error("line " + std::to_string(line) + ": no line end (truncated file?)");
    }
    const std::string entry = text.substr(start, end - start);
    const std::size_t equals = entry.find('=');
    if (equals == std::string::npos) {
      throw session_error("line " + std::to_string(line) + ": no \"=\"");
    }
    std::string key = unescape(entry.substr(0, equals), line);
    if (!session.values.emplace(std::move(key), unescape(entry.substr(equals + 1), line)).second) {
      throw session_error("line " + std::to_string(line) + ": the key stands twice");
    }
    start = end + 1;
  }
  return session;
}

session_file::session_file(std::string file) : file_(std::move(file)) {
  const std::string lock = file_ + ".lock";
  lock_ = unique_fd(open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!lock_) {
    throw session_error(system_error_text("cannot open the lock " + lock));
  }
  while (flock(lock_.get(), LOCK_EX) != 0) {
    if (errno != EINTR) {
      throw session_error(system_error_text("cannot lock " + lock));
    }
  }
}

session_t session_file::load() const {
  std::ifstream in(file_, std::ios::binary);
  if (!in) {
    if (errno == ENOENT) {
      return {};
    }
    throw session_error(system_error_text("cannot read the session " + file_));
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) {
    throw session_error("cannot read the session " + file_);
  }
  try {
    return decode_session(text.str());
  } catch (const session_error& error) {
    throw session_error("the session " + file_ + " is malformed: " + error.what());
  }
}

void session_file::save(const session_t& session) const {
  std::string temporary = file_ + ".XXXXXX";
  const unique_fd out(mkstemp(temporary.data()));
  if (!out) {
    throw session_error(system_error_text("cannot create a file beside " + file_));
  }
  try {
    write_all(out.get(), encode_session(session), temporary);
    if (fsync(out.get()) != 0) {
      throw session_error(system_error_text("cannot sync " + temporary));
    }
    if (rename(temporary.c_str(), file_.c_str()) != 0) {
      throw session_error(system_error_text("cannot replace " + file_));
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
