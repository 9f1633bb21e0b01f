// SPDX-License-Identifier: MIT
#include "files/session.h"

#include <cstring>

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

}  // namespace corvane_host
