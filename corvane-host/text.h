// SPDX-License-Identifier: MIT
// Text helpers the hosts share: printf formatting into a string, and
// control bytes shown so that one message stays one line.
#ifndef CORVANE_HOST_TEXT_H
#define CORVANE_HOST_TEXT_H

#include <cstdarg>
#include <cstdio>
#include <string>
#include <string_view>

namespace corvane_host {

// What printf would print for `format` and `args`.
inline std::string vformat(const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  // clang-analyzer does not follow va_copy.
  // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
  const int length = std::vsnprintf(nullptr, 0, format, again);
  va_end(again);
  std::string text(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, args);
  return text;
}

// Bytes below 0x20 and 0x7f as \xHH; everything else as it is.
inline std::string printable(const std::string& text) {
  static const char hex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      out += "\\x";
      out += hex[byte >> 4];
      out += hex[byte & 0xf];
    } else {
      out += c;
    }
  }
  return out;
}

// Every byte as two lower-case hexadecimal digits.
inline std::string hex_of(std::string_view bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    hex += digits[byte >> 4];
    hex += digits[byte & 0xf];
  }
  return hex;
}

}  // namespace corvane_host

#endif
