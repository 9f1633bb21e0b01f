// SPDX-License-Identifier: MIT
// The host's readers of text that a hostile process or user writes and root
// reads, each held to a property. The first byte chooses the reader:
//   s  a session file: what decodes encodes back to text that decodes alike
//   i  the identities record: a round trip, and no entry for ID 0 or below
//   p  /proc text (stat, status, maps, cgroup, locks, signalfd, mountinfo,
//      environ) and a jar's last bytes: no crash, no more results than lines,
//      values within the text
//   w  seconds: accepted exactly when a plain reference accepts
//   a  an interpreter's command line (NUL-separated words): each file it
//      names is one of its words, or a part of one
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>

#include "commands/seconds.h"
#include "ending/pid_guard.h"
#include "evidence/interpreters.h"
#include "evidence/jar_entries.h"
#include "files/session.h"
#include "fuzz_expect.h"
#include "proc/environ_parse.h"
#include "proc/proc_parse.h"

namespace {

using namespace corvane_host;
using fuzz_reference::expect;

void session_round_trip(const std::string& text) {
  try {
    const session_t decoded = decode_session(text);
    expect(decode_session(encode_session(decoded)).values == decoded.values,
           "a session does not round-trip");
  } catch (const session_error&) {
    // refused with a message: what root should do with such a file
  }
}

void identities_round_trip(const std::string& text) {
  const std::vector<recorded_process> decoded = decode_identities(text);
  const std::vector<recorded_process> again = decode_identities(encode_identities(decoded));
  expect(again.size() == decoded.size(), "identities do not round-trip");
  for (std::size_t i = 0; i < decoded.size(); ++i) {
    expect(again[i].who == decoded[i].who && again[i].command == decoded[i].command,
           "an identity changes in a round trip");
    expect(decoded[i].who.pid > 0, "an identity for a process group");
  }
}

void proc_text(const std::string& text) {
  const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
  (void)parse_stat(text);
  (void)parse_status(text);
  (void)parse_signalfd_mask(text);
  (void)proc_hides_processes(text, 0);
  (void)proc_hides_processes(text, 22);
  (void)parse_lock_holder(text, 8, 1, 12);
  (void)service_of_cgroup(parse_cgroup(text));
  expect(parse_maps_files(text).size() <= lines, "more mapped files than lines");
  expect(parse_cmdline(text).size() <= text.size(), "more arguments than bytes");
  if (const auto value = environment_value(text, "PYTHONPATH")) {
    expect(
        value->data() >= text.data() && value->data() + value->size() <= text.data() + text.size(),
        "an environment value outside the text");
    expect(search_path_entries(*value).size() <= value->size() + 1, "more entries than bytes");
  }
  // A jar's directory, as read from its last bytes: it lies within the file.
  if (const auto directory = zip_directory_of(text, text.size())) {
    expect(directory->offset + directory->size <= text.size(), "a zip directory past the file");
    (void)zip_names(std::string_view(text).substr(directory->offset, directory->size),
                    "Main.class");
  }
}

// The reference: plain decimal seconds from 0 to 3600, digits, optionally "." and digits.
void seconds(const std::string& text) {
  const std::size_t dot = text.find('.');
  const std::string whole = text.substr(0, dot);
  const std::string fraction = dot == std::string::npos ? "0" : text.substr(dot + 1);
  const auto digits = [](const std::string& part) {
    return !part.empty() && part.find_first_not_of("0123456789") == std::string::npos;
  };
  expect(seconds_error(text, 3600).empty() ==
             (digits(whole) && digits(fraction) && std::strtod(text.c_str(), nullptr) <= 3600),
         "the seconds validator and its reference disagree");
}

void interpreter_words(const std::string& text) {
  std::vector<std::string> words = parse_cmdline(text);
  if (words.empty()) {
    return;
  }
  for (const char* name : {"bash", "python3", "perl", "node", "java", "ld-linux.so.2"}) {
    const program_words runs = program_of(name, words);
    for (const std::string& file : runs.files) {
      expect(std::any_of(words.begin(), words.end(),
                         [&file](const std::string& word) {
                           return word.find(file) != std::string::npos || file == ".";
                         }),
             "a file that is no part of the command line");
    }
  }
  (void)command_words(words);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::pair<char, void (*)(const std::string&)> readers[] = {{'s', session_round_trip},
                                                                   {'i', identities_round_trip},
                                                                   {'p', proc_text},
                                                                   {'w', seconds},
                                                                   {'a', interpreter_words}};
  for (const auto& [key, reader] : readers) {
    if (size > 0 && data[0] == static_cast<std::uint8_t>(key)) {
      reader(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
    }
  }
  return 0;
}
