// SPDX-License-Identifier: MIT
#include "base/text.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace corvane_host {
namespace {

// The length of the UTF-8 sequence at `at` and its code point; 0 for a
// stray byte, a cut-short, overlong or surrogate sequence, or one beyond U+10FFFF.
std::size_t utf8_sequence(std::string_view text, std::size_t at, char32_t& code) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const std::size_t length = lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc0 ? 2 : 0;
  if (length == 0 || lead >= 0xf8 || at + length > text.size()) {
    return 0;
  }
  code = lead & (0x7f >> length);
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xc0) != 0x80) {
      return 0;
    }
    code = (code << 6) | (next & 0x3f);
  }
  constexpr char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
  const bool surrogate = code >= 0xd800 && code <= 0xdfff;
  return code < least[length] || surrogate || code > 0x10ffff ? 0 : length;
}

// Unicode's format characters (general category Cf) and its line and
// paragraph separators (Zl, Zp): a terminal that lays out bidirectional text
// lets them reorder, hide or break a line of what it shows.
constexpr std::pair<char32_t, char32_t> invisible[] = {
    {0xad, 0xad},       {0x600, 0x605},     {0x61c, 0x61c},     {0x6dd, 0x6dd},
    {0x70f, 0x70f},     {0x890, 0x891},     {0x8e2, 0x8e2},     {0x180e, 0x180e},
    {0x200b, 0x200f},   {0x2028, 0x202e},   {0x2060, 0x2064},   {0x2066, 0x206f},
    {0xfeff, 0xfeff},   {0xfff9, 0xfffb},   {0x110bd, 0x110bd}, {0x110cd, 0x110cd},
    {0x13430, 0x1343f}, {0x1bca0, 0x1bca3}, {0x1d173, 0x1d17a}, {0xe0001, 0xe0001},
    {0xe0020, 0xe007f}};

bool is_invisible(char32_t code) {
  return std::any_of(std::begin(invisible), std::end(invisible), [code](const auto& range) {
    return code >= range.first && code <= range.second;
  });
}

}  // namespace

std::string printable(std::string_view text) {
  static const char hex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  const auto escape = [&out](char c) {
    const auto byte = static_cast<unsigned char>(c);
    out.append("\\x").append(1, hex[byte >> 4]).append(1, hex[byte & 0xf]);
  };
  for (std::size_t at = 0; at < text.size();) {
    const auto byte = static_cast<unsigned char>(text[at]);
    char32_t code = 0;
    const std::size_t length = byte < 0x80 ? 1 : utf8_sequence(text, at, code);
    if (byte == '\\') {
      out += "\\\\";
    } else if (byte < 0x20 || byte == 0x7f) {
      escape(text[at]);
    } else if (length == 1) {
      out += text[at];
    } else if (length == 0 || code <= 0x9f || is_invisible(code)) {
      for (std::size_t i = 0; i < std::max<std::size_t>(length, 1); ++i) {
        escape(text[at + i]);
      }
    } else {
      out.append(text.substr(at, length));
    }
    at += std::max<std::size_t>(length, 1);
  }
  return out;
}

}  // namespace corvane_host
