// SPDX-License-Identifier: MIT
// Text helpers the hosts share: printf formatting into a string, and
// text a process or user chose made safe for a terminal.
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

// `text` safe to show on a terminal, one line: each byte of a C0 or C1
// control (also C1 in UTF-8, U+0080 to U+009F), of DEL, of a Unicode format
// character or line or paragraph separator (U+202E, U+200B, U+2028, ...) and
// of what is not UTF-8 as \xHH, a backslash as \\; valid UTF-8 otherwise as
// it is.
std::string printable(std::string_view text);

// Whether `text` ends with `end`.
inline bool ends_with(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
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
