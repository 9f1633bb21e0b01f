// SPDX-License-Identifier: MIT
#include "evidence/jar_entries.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace corvane_host {
namespace {

constexpr std::size_t end_record = 22;  // without its comment
constexpr std::size_t most_comment = 65535;
constexpr std::size_t entry_header = 46;
// A directory larger than any jar's (some 100,000 classes) is not read.
constexpr std::uint64_t most_directory = std::uint64_t{16} << 20;

std::uint32_t little(std::string_view text, std::size_t at, std::size_t bytes) {
  std::uint32_t value = 0;
  for (std::size_t i = bytes; i-- > 0;) {
    value = (value << 8) | static_cast<unsigned char>(text[at + i]);
  }
  return value;
}

// Reads `size` bytes at `offset`, or fewer where the file ends.
std::string read_at(int fd, std::uint64_t offset, std::size_t size) {
  std::string text(size, '\0');
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got =
        pread(fd, text.data() + done, size - done, static_cast<off_t>(offset + done));
    if (got <= 0) {
      break;
    }
    done += static_cast<std::size_t>(got);
  }
  text.resize(done);
  return text;
}

}  // namespace

std::optional<zip_directory> zip_directory_of(std::string_view tail, std::uint64_t file_size) {
  if (tail.size() < end_record || tail.size() > file_size) {
    return std::nullopt;
  }
  // The record ends the file; its comment, of the length it gives, follows it.
  for (std::size_t at = tail.size() - end_record + 1; at-- > 0;) {
    if (little(tail, at, 4) != 0x06054b50U ||
        little(tail, at + 20, 2) != tail.size() - at - end_record) {
      continue;
    }
    const std::uint32_t size = little(tail, at + 12, 4);
    const std::uint64_t record = file_size - (tail.size() - at);
    if (size == 0xffffffffU || little(tail, at + 16, 4) == 0xffffffffU || size > record) {
      return std::nullopt;
    }
    // Where the directory lies is told by its size, as the JVM reads it: a
    // jar may follow a launcher script, which moves every offset.
    return zip_directory{record - size, size};
  }
  return std::nullopt;
}

std::optional<bool> zip_names(std::string_view directory, std::string_view entry) {
  std::size_t at = 0;
  while (at < directory.size()) {
    if (directory.size() - at < entry_header || little(directory, at, 4) != 0x02014b50U) {
      return std::nullopt;
    }
    const std::size_t name = little(directory, at + 28, 2);
    const std::size_t rest = name + little(directory, at + 30, 2) + little(directory, at + 32, 2);
    if (directory.size() - at - entry_header < rest) {
      return std::nullopt;
    }
    if (directory.substr(at + entry_header, name) == entry) {
      return true;
    }
    at += entry_header + rest;
  }
  return false;
}

std::string class_entry(std::string_view class_name) {
  std::string entry(class_name);
  std::replace(entry.begin(), entry.end(), '.', '/');
  return entry + ".class";
}

std::optional<bool> jar_holds(int fd, std::string_view entry) {
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    return std::nullopt;
  }
  const auto size = static_cast<std::uint64_t>(info.st_size);
  const std::size_t tail_size =
      static_cast<std::size_t>(std::min<std::uint64_t>(size, end_record + most_comment));
  const std::optional<zip_directory> where =
      zip_directory_of(read_at(fd, size - tail_size, tail_size), size);
  if (!where || where->size > most_directory) {
    return std::nullopt;
  }
  const std::string directory = read_at(fd, where->offset, static_cast<std::size_t>(where->size));
  if (directory.size() != where->size) {
    return std::nullopt;
  }
  return zip_names(directory, entry);
}

}  // namespace corvane_host
