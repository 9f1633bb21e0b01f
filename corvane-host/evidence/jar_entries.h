// SPDX-License-Identifier: MIT
// Whether a jar (a zip file) holds a class: read from its central directory
// alone, as the JVM finds it there, and only of the installation's own jars.
// Nothing of a zip is trusted: each part is bounded and checked.
#ifndef CORVANE_HOST_EVIDENCE_JAR_ENTRIES_H
#define CORVANE_HOST_EVIDENCE_JAR_ENTRIES_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvane_host {

// Where the central directory lies: found from the end of central directory
// record in `tail`, the last bytes of a file of `file_size` bytes. nullopt
// where there is none, or a zip64 one this reader does not follow.
struct zip_directory {
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
};
std::optional<zip_directory> zip_directory_of(std::string_view tail, std::uint64_t file_size);

// Whether the central directory `directory` names `entry`; nullopt where it
// does not read as one.
std::optional<bool> zip_names(std::string_view directory, std::string_view entry);

// The entry of a class ("a.b.Main": "a/b/Main.class").
std::string class_entry(std::string_view class_name);

// Whether the jar open as `fd` holds `entry`; nullopt where it cannot be told.
std::optional<bool> jar_holds(int fd, std::string_view entry);

}  // namespace corvane_host

#endif
