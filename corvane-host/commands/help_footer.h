// SPDX-License-Identifier: MIT
// The end of --help: what each exit status means and the words the report
// uses for each process, from the tables the program itself uses. help2man
// reads it, so the manual page cannot drift from the program.
#ifndef CORVANE_HOST_HELP_FOOTER_H
#define CORVANE_HOST_HELP_FOOTER_H

#include <cstddef>
#include <string>

namespace corvane_host {

// At most `width` columns a line; each entry a tag and a paragraph whose
// later lines line up under its first, as help2man reads a tagged paragraph.
std::string help_footer(std::size_t width = 79);

}  // namespace corvane_host

#endif
