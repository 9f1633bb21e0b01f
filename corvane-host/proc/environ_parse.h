// SPDX-License-Identifier: MIT
// What a process was started with, from /proc/PID/environ: its text is the
// process's own (it may even rewrite it), so it is only read, as views into
// the text, never copied and never trusted as a proof.
#ifndef CORVANE_HOST_PROC_ENVIRON_PARSE_H
#define CORVANE_HOST_PROC_ENVIRON_PARSE_H

#include <optional>
#include <string_view>
#include <vector>

namespace corvane_host {

// The value of `name` in environ's text ("NAME=value" entries, each ended by
// a NUL, the last one perhaps not): the first entry of that name, as
// getenv() finds it; nullopt where there is none.
std::optional<std::string_view> environment_value(std::string_view environ, std::string_view name);

// A search path's entries, split at ':'; an empty entry is the working
// directory, as "." (the interpreters read it so, python among them).
std::vector<std::string_view> search_path_entries(std::string_view value);

}  // namespace corvane_host

#endif
