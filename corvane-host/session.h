// SPDX-License-Identifier: MIT
// The reference host's installer session: keys to byte strings, kept in a
// file between invocations so that check and kill can be separate commands.
#ifndef CORVANE_HOST_SESSION_H
#define CORVANE_HOST_SESSION_H

#include <map>
#include <stdexcept>
#include <string>

#include "host-services.h"
#include "unique_fd.h"

struct session_t {
  std::map<std::string, std::string> values;
};

namespace corvane_host {

struct session_error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The value of `key`; "" for a key never set.
std::string value_of(const session_t& session, const std::string& key);

// The file format: a header line, then one KEY=VALUE line per key, in which
// every byte that is not printable ASCII, and "%" and "=", stand as %XX.
std::string encode_session(const session_t& session);
// Throws session_error, naming the line, for text that is not such a file.
session_t decode_session(const std::string& text);

// A session file held under an exclusive lock (on FILE.lock beside it) for
// the whole life of this object, so that concurrent hosts never lose updates.
class session_file {
 public:
  explicit session_file(std::string file);

  // An absent file is an empty session; an unreadable or malformed one throws.
  [[nodiscard]] session_t load() const;
  // Replaces the file atomically: a reader sees the old or the new session.
  void save(const session_t& session) const;

 private:
  std::string file_;
  unique_fd lock_;
};

}  // namespace corvane_host

#endif
