// SPDX-License-Identifier: MIT
#include "proc/proc_parse.h"

#include <algorithm>
#include <charconv>
#include <csignal>
#include <unordered_map>
#include <unordered_set>

namespace corvane_host {
namespace {

// The next blank-separated word of `text`, which loses it and the blanks
// before it.
std::string_view next_word(std::string_view& text) {
  const std::size_t start = text.find_first_not_of(" \t");
  if (start == std::string_view::npos) {
    text = {};
    return {};
  }
  text.remove_prefix(start);
  const std::size_t end = std::min(text.find_first_of(" \t\n"), text.size());
  const std::string_view word = text.substr(0, end);
  text.remove_prefix(end);
  return word;
}

template <typename Number>
bool parse_number(std::string_view word, Number& value, int base = 10) {
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value, base);
  return !word.empty() && error == std::errc{} && end == word.data() + word.size();
}

// The parts of `text` that each end at `separator`, the last one perhaps
// without it, as views into `text`: `for (std::string_view line : parts(text, '\n'))`.
// One pass over the text; nothing is copied.
class parts {
 public:
  class iterator {
   public:
    iterator(std::string_view rest, char separator) : rest_(rest), separator_(separator) {
      measure();
    }
    std::string_view operator*() const { return rest_.substr(0, length_); }
    iterator& operator++() {
      rest_.remove_prefix(std::min(length_ + 1, rest_.size()));
      measure();
      return *this;
    }
    // Both walk the same text: what is left of it tells them apart.
    bool operator!=(const iterator& other) const { return rest_.size() != other.rest_.size(); }

   private:
    void measure() { length_ = std::min(rest_.find(separator_), rest_.size()); }

    std::string_view rest_;
    char separator_;
    std::size_t length_ = 0;
  };

  parts(std::string_view text, char separator) : text_(text), separator_(separator) {}
  [[nodiscard]] iterator begin() const { return {text_, separator_}; }
  [[nodiscard]] iterator end() const { return {text_.substr(text_.size()), separator_}; }

 private:
  std::string_view text_;
  char separator_;
};

}  // namespace

std::optional<stat_fields> parse_stat(std::string_view text) {
  const std::size_t close = text.rfind(')');
  if (close == std::string_view::npos) {
    return std::nullopt;
  }
  text.remove_prefix(close + 1);
  stat_fields fields;
  const std::string_view state = next_word(text);
  if (state.size() != 1 || !parse_number(next_word(text), fields.parent)) {
    return std::nullopt;
  }
  fields.state = state[0];
  for (int field = 5; field < 9; ++field) {
    next_word(text);
  }
  if (!parse_number(next_word(text), fields.flags)) {
    return std::nullopt;
  }
  for (int field = 10; field < 22; ++field) {
    next_word(text);
  }
  if (!parse_number(next_word(text), fields.start_time)) {
    return std::nullopt;
  }
  return fields;
}

std::optional<process_status> parse_status(std::string_view text) {
  process_status status;
  bool has_state = false;
  bool has_uid = false;
  for (std::string_view line : parts(text, '\n')) {
    const std::string_view name = next_word(line);
    if (name == "State:") {
      const std::string_view state = next_word(line);
      has_state = state.size() == 1;
      status.state = has_state ? state[0] : '?';
    } else if (name == "SigIgn:" || name == "SigBlk:" || name == "SigCgt:") {
      std::uint64_t mask = 0;
      parse_number(next_word(line), mask, 16);
      bool& flag = name == "SigIgn:"   ? status.ignores_sigterm
                   : name == "SigBlk:" ? status.blocks_sigterm
                                       : status.handles_sigterm;
      flag = (mask & sigterm_bit) != 0;
    } else if (name == "NSpid:") {
      std::string_view last;
      for (std::string_view word = next_word(line); !word.empty(); word = next_word(line)) {
        last = word;
      }
      status.namespace_init = last == "1";
    } else if (name == "Uid:") {
      has_uid = parse_number(next_word(line), status.real_uid) &&
                parse_number(next_word(line), status.effective_uid) &&
                parse_number(next_word(line), status.saved_uid);
    }
  }
  if (!has_state || !has_uid) {
    return std::nullopt;
  }
  return status;
}

std::optional<std::uint64_t> parse_signalfd_mask(std::string_view text) {
  for (std::string_view line : parts(text, '\n')) {
    std::uint64_t mask = 0;
    if (next_word(line) == "sigmask:" && parse_number(next_word(line), mask, 16)) {
      return mask;
    }
  }
  return std::nullopt;
}

std::vector<std::string> parse_cmdline(std::string_view text) {
  std::vector<std::string> arguments;
  for (const std::string_view argument : parts(text, '\0')) {
    arguments.emplace_back(argument);
  }
  return arguments;
}

exe_target parse_exe_link(std::string_view target) {
  const bool deleted = target.size() > deleted_mark.size() &&
                       target.substr(target.size() - deleted_mark.size()) == deleted_mark;
  if (deleted) {
    target.remove_suffix(deleted_mark.size());
  }
  return {std::string(target), deleted};
}

std::vector<mapped_file> parse_maps_files(std::string_view text) {
  std::vector<mapped_file> files;
  std::unordered_map<std::string_view, std::size_t> seen;  // path to its place in `files`
  for (std::string_view line : parts(text, '\n')) {
    // "ADDRESS PERMS OFFSET MAJOR:MINOR INODE        PATH": the path may hold blanks.
    next_word(line);
    const std::string_view perms = next_word(line);
    next_word(line);
    const std::string_view device = next_word(line);
    const std::string_view inode = next_word(line);
    const std::size_t start = line.find_first_not_of(' ');
    if (start == std::string_view::npos || line[start] != '/') {
      continue;
    }
    std::string_view path = line.substr(start);
    if (path.size() > deleted_mark.size() &&
        path.substr(path.size() - deleted_mark.size()) == deleted_mark) {
      path.remove_suffix(deleted_mark.size());
    }
    const bool executable = perms.size() > 2 && perms[2] == 'x';
    if (const auto known = seen.find(path); known != seen.end()) {
      files[known->second].executable |= executable;
      continue;
    }
    mapped_file file{std::string(path)};
    file.executable = executable;
    const std::size_t colon = device.find(':');
    if (colon == std::string_view::npos || !parse_number(device.substr(0, colon), file.major, 16) ||
        !parse_number(device.substr(colon + 1), file.minor, 16) ||
        !parse_number(inode, file.inode)) {
      continue;
    }
    seen.emplace(path, files.size());
    files.push_back(std::move(file));
  }
  return files;
}

std::vector<mount_line> parse_mountinfo(std::string_view text) {
  std::vector<mount_line> mounts;
  for (std::string_view line : parts(text, '\n')) {
    // "ID PARENT MAJOR:MINOR ROOT MOUNT_POINT OPTIONS [TAGS...] - TYPE SOURCE SUPER_OPTIONS"
    mount_line mount;
    const bool numbered = parse_number(next_word(line), mount.id);
    for (int field = 1; field < 4; ++field) {
      next_word(line);
    }
    mount.mount_point = next_word(line);
    const std::size_t separator = line.find(" - ");
    if (!numbered || mount.mount_point.empty() || separator == std::string_view::npos) {
      continue;
    }
    line.remove_prefix(separator + 3);
    mount.type = next_word(line);
    next_word(line);
    mount.options = next_word(line);
    mounts.push_back(mount);
  }
  return mounts;
}

std::optional<proc_hiding> proc_hides_processes(std::string_view mountinfo,
                                                std::uint64_t mount_id) {
  std::optional<proc_hiding> found;
  for (const mount_line& mount : parse_mountinfo(mountinfo)) {
    const bool wanted = mount_id != 0 ? mount.id == mount_id : mount.mount_point == "/proc";
    if (!wanted || mount.type != "proc") {
      continue;
    }
    proc_hiding hiding;
    for (const std::string_view option : parts(mount.options, ',')) {
      gid_t gid = 0;
      if (option.substr(0, 8) == "hidepid=") {
        hiding.mode = std::string(option.substr(8));
      } else if (option.substr(0, 4) == "gid=" && parse_number(option.substr(4), gid)) {
        hiding.gid = gid;
      }
    }
    const bool hides = !hiding.mode.empty() && hiding.mode != "0" && hiding.mode != "off";
    // Without an ID, the last /proc listed: a mount over another comes after it.
    found = hides ? std::optional(hiding) : std::nullopt;
  }
  return found;
}

std::string parse_cgroup(std::string_view text) {
  for (const std::string_view line : parts(text, '\n')) {
    if (line.substr(0, 3) == "0::") {
      return std::string(line.substr(3));
    }
  }
  return {};
}

std::string service_of_cgroup(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  const std::string_view unit = slash == std::string_view::npos ? path : path.substr(slash + 1);
  constexpr std::string_view suffix = ".service";
  const bool service = unit.size() > suffix.size() &&
                       unit.substr(unit.size() - suffix.size()) == suffix &&
                       unit.substr(0, 5) != "user@";
  return service ? std::string(unit) : std::string();
}

std::optional<pid_t> parse_lock_holder(std::string_view text, unsigned device_major,
                                       unsigned device_minor, std::uint64_t inode) {
  for (std::string_view line : parts(text, '\n')) {
    // "1: FLOCK  ADVISORY  WRITE 1234 fd:01:5678 0 EOF"
    next_word(line);
    if (next_word(line) == "->") {
      continue;
    }
    next_word(line);
    next_word(line);
    pid_t holder = 0;
    const bool has_holder = parse_number(next_word(line), holder);
    const std::string_view file = next_word(line);
    const std::size_t first = file.find(':');
    const std::size_t second = file.find(':', first + 1);
    unsigned major = 0;
    unsigned minor = 0;
    std::uint64_t number = 0;
    if (has_holder && second != std::string_view::npos &&
        parse_number(file.substr(0, first), major, 16) &&
        parse_number(file.substr(first + 1, second - first - 1), minor, 16) &&
        parse_number(file.substr(second + 1), number) && major == device_major &&
        minor == device_minor && number == inode) {
      return holder;
    }
  }
  return std::nullopt;
}

}  // namespace corvane_host
