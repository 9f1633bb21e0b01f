// SPDX-License-Identifier: MIT
#include "commands/seconds.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>

namespace corvane_host {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string number_text(double value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

}  // namespace

std::string seconds_error(const std::string& text, double most) {
  const std::string plain = "give plain decimal seconds, such as 30 or 0.5";
  if (text.empty()) {
    return "an empty value is not a number of seconds; " + plain;
  }
  const std::string word = lowered(text[0] == '+' || text[0] == '-' ? text.substr(1) : text);
  if (word == "nan") {
    return "NaN is not a number of seconds; " + plain;
  }
  if (word == "inf" || word == "infinity") {
    return "an endless time is not allowed; give at most " + number_text(most) + " seconds";
  }
  if (word.rfind("0x", 0) == 0) {
    return text + " is hexadecimal; " + plain;
  }
  if (text[0] == '-') {
    return "a negative time is not allowed; " + plain;
  }
  const std::size_t digits = std::find_if_not(text.begin(), text.end(), is_digit) - text.begin();
  std::size_t end = digits;
  if (digits > 0 && end < text.size() && text[end] == '.') {
    const std::size_t fraction =
        std::find_if_not(text.begin() + static_cast<std::ptrdiff_t>(end + 1), text.end(),
                         is_digit) -
        text.begin();
    end = fraction > end + 1 ? fraction : end;
  }
  if (digits == 0) {
    return text + " is not a number of seconds; " + plain;
  }
  if (end != text.size()) {
    return text + " has \"" + text.substr(end) + "\" after the number; " + plain;
  }
  if (std::strtod(text.c_str(), nullptr) > most) {
    return text + " is more than " + number_text(most) + " seconds";
  }
  return {};
}

}  // namespace corvane_host
