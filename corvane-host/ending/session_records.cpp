// SPDX-License-Identifier: MIT
#include "ending/session_records.h"

#include <charconv>
#include <cstdint>
#include <string_view>

#include "base/text.h"

namespace corvane_host {
namespace {

template <typename Number>
std::optional<Number> plain_decimal(std::string_view text) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

// The parts between separators. A list's trailing separator ends it, as the
// plug-in's own reading has it; a record's fields keep each empty last one.
std::vector<std::string_view> split(std::string_view text, char separator,
                                    bool empty_last_fields = false) {
  std::size_t empty_last = 0;
  while (empty_last_fields && !text.empty() && text.back() == separator) {
    text.remove_suffix(1);
    ++empty_last;
  }
  std::vector<std::string_view> parts;
  while (!text.empty()) {
    const std::size_t end = text.find(separator);
    parts.push_back(text.substr(0, end));
    if (end == std::string_view::npos) {
      break;
    }
    text.remove_prefix(end + 1);
  }
  parts.insert(parts.end(), empty_last, std::string_view());
  return parts;
}

std::optional<std::string> from_hex(std::string_view hex) {
  if (hex.size() % 2 != 0) {
    return std::nullopt;
  }
  std::string bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(hex.data() + i, hex.data() + i + 2, value, 16);
    if (error != std::errc{} || end != hex.data() + i + 2) {
      return std::nullopt;
    }
    bytes += static_cast<char>(value);
  }
  return bytes;
}

}  // namespace

std::vector<pid_t> session_records::ids() const {
  std::vector<pid_t> numbers;
  for (const list_entry& entry : list) {
    if (entry.number) {
      numbers.push_back(*entry.number);
    }
  }
  return numbers;
}

session_records records_of(const session_t& session) {
  return {decode_list(value_of(session, list_key)),
          decode_identities(value_of(session, identities_key))};
}

std::vector<list_entry> decode_list(const std::string& text) {
  std::vector<list_entry> list;
  for (const std::string_view token : split(text, ';')) {
    list.push_back({std::string(token), plain_decimal<pid_t>(token)});
  }
  return list;
}

std::string encode_identities(const std::vector<recorded_process>& recorded) {
  std::string text;
  for (const auto& [who, command] : recorded) {
    if (!text.empty()) {
      text += ';';
    }
    text += std::to_string(who.pid) + ":" + std::to_string(who.start_time) + ":" +
            std::to_string(who.inode) + ":" + hex_of(command);
  }
  return text;
}

std::vector<recorded_process> decode_identities(const std::string& text) {
  std::vector<recorded_process> identities;
  for (const std::string_view entry : split(text, ';')) {
    const std::vector<std::string_view> fields = split(entry, ':', true);
    if (fields.size() != 4) {
      continue;
    }
    const auto pid = plain_decimal<pid_t>(fields[0]);
    const auto start = plain_decimal<std::uint64_t>(fields[1]);
    const auto inode = plain_decimal<std::uint64_t>(fields[2]);
    auto command = from_hex(fields[3]);
    if (pid && *pid > 0 && start && inode && command) {
      identities.push_back({{*pid, *start, *inode}, std::move(*command)});
    }
  }
  return identities;
}

}  // namespace corvane_host
