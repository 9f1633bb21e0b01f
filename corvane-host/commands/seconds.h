// SPDX-License-Identifier: MIT
// Durations on the command line: plain decimal seconds, a fraction allowed.
#ifndef CORVANE_HOST_SECONDS_H
#define CORVANE_HOST_SECONDS_H

#include <string>

namespace corvane_host {

// What is wrong with `text` as a number of seconds from 0 to `most`
// ("30", "0.5"); empty when nothing is. NaN, infinities, hexadecimal,
// exponents, signs and anything after the number are refused, each with
// its own words.
std::string seconds_error(const std::string& text, double most);

}  // namespace corvane_host

#endif
