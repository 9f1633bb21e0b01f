// SPDX-License-Identifier: MIT
// Programs that run another file: shells, script interpreters, java -jar and
// the dynamic loader. A launcher script or an agent of the installation runs
// as one of them; the file it names is what belongs to the installation.
#ifndef CORVANE_HOST_INTERPRETERS_H
#define CORVANE_HOST_INTERPRETERS_H

#include <optional>
#include <string>
#include <vector>

namespace corvane_host {

// Whether a program of this file name runs the file its arguments name.
bool is_interpreter(const std::string& program_name);

// The file that `arguments` (the whole command line, argv[0] first) of the
// interpreter `program_name` ask it to run; nullopt for code given inline
// (sh -c, python -c or -m, perl -e, node -e) or no file at all.
std::optional<std::string> script_argument(const std::string& program_name,
                                           const std::vector<std::string>& arguments);

}  // namespace corvane_host

#endif
