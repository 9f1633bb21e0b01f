// SPDX-License-Identifier: MIT
// The reference host's installer session: keys to byte strings, and the text
// form in which session_file keeps them between invocations.
#ifndef CORVANE_HOST_SESSION_H
#define CORVANE_HOST_SESSION_H

#include <map>
#include <stdexcept>
#include <string>

#include "base/failure.h"
#include "host-services.h"

struct session_t {
  std::map<std::string, std::string> values;
};

namespace corvane_host {

struct session_error : failure {
  explicit session_error(const std::string& what) : failure(failure_kind::refused, what) {}
};

// The value of `key`; "" for a key never set.
std::string value_of(const session_t& session, const std::string& key);

// The file format: a header line, then one KEY=VALUE line per key, in which
// every byte that is not printable ASCII, and "%" and "=", stand as %XX.
std::string encode_session(const session_t& session);
// Throws session_error, naming the line, for text that is not such a file.
session_t decode_session(const std::string& text);

}  // namespace corvane_host

#endif
