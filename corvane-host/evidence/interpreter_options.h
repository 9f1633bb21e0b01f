// SPDX-License-Identifier: MIT
// The interpreters' options as data: which letters and words each one reads,
// what each takes with it and what it changes in what runs. interpreters.cpp
// reads a command line with them; nothing outside this layer needs them.
#ifndef CORVANE_HOST_EVIDENCE_INTERPRETER_OPTIONS_H
#define CORVANE_HOST_EVIDENCE_INTERPRETER_OPTIONS_H

#include <cstddef>
#include <string_view>

namespace corvane_host::interpreter_options {

enum class family {
  none,
  bash,
  posix_sh,  // sh, dash, ash
  ksh,       // ksh, mksh
  zsh,
  python,
  perl,
  ruby,
  node,
  php,
  lua,
  tcl,
  java,
  loader
};

// What an option takes with it.
enum class takes : unsigned char {
  nothing,   // a flag; characters of the letter's `suffix` may follow it (perl -l0)
  value,     // the rest of the word or, when that is empty, the next word
  rest,      // letters: the rest of the word, even nothing (perl -i.bak)
  next,      // letters: the next word, while the letters go on (bash -euo pipefail)
  attached,  // words: "--name" alone or "--name=value", never the next word
  prefix,    // words: every word that starts with the name (java -Dkey=value)
};

// What an option changes in what runs.
enum class does : unsigned char {
  nothing,
  no_file,        // inline code, standard input, or a mode that only lists or checks
  no_file_last,   // the same, and every later word is the code's (python -c, -m)
  no_positional,  // no later word is the program, though an option may name one (php -B)
  program,        // its value is the program (php -f)
  unsure,         // the program is found in a way the words do not show (perl -S)
  class_path,     // java
  module_path,
  jar,
  module,  // java -m, python -m: what follows is the program's
  source,
  no_environment,        // python -E
  no_working_directory,  // python -P
  isolated,              // python -I: both
};

struct letter {
  char name;
  takes arity;
  does effect = does::nothing;
  std::string_view suffix = {};
};

struct word {
  std::string_view name;
  takes arity;
  does effect = does::nothing;
};

// A constant array of any length.
template <class T>
class table {
 public:
  constexpr table() = default;
  // Implicit, so that a grammar takes any of the arrays below.
  template <std::size_t N>
  constexpr table(const T (&items)[N]) : first_(items), size_(N) {}
  [[nodiscard]] constexpr const T* begin() const { return first_; }
  [[nodiscard]] constexpr const T* end() const { return first_ + size_; }

 private:
  const T* first_ = nullptr;
  std::size_t size_ = 0;
};

// What a lone "-" means.
enum class lone_dash : unsigned char { standard_input, ends_options, unknown };
// What "--" means.
enum class double_dash : unsigned char { ends_options, standard_input, unknown };

// How one interpreter reads its options.
struct grammar {
  std::string_view flag_letters;        // letters that take nothing
  table<letter> letters;                // every other letter
  table<std::string_view> flag_words;   // words that take nothing
  table<std::string_view> value_words;  // words followed by a value, or "--name=value"
  table<std::string_view> no_file_words;
  table<std::string_view> prefix_words;
  table<word> words;  // every other word; searched first, in order
  lone_dash dash = lone_dash::standard_input;
  double_dash dashes = double_dash::ends_options;
  bool plus = false;            // shells: "+x" turns a flag off
  bool bundles = true;          // several letters may share a word
  bool long_first = false;      // bash: long words come before letters, "-norc" too
  bool negatable = false;       // node: "--no-" before a flag word
  bool underscores = false;     // node: "--no_warnings" is "--no-warnings"
  bool equals_after = false;    // php: "-d=x" is "-dx"
  bool argfiles = false;        // java: "@file" stands for the words in file
  std::string_view subcommand;  // node: "inspect" runs the debugger, not a file
};

// How interpreters of `kind` read their options. tclsh has no grammar: it
// reads its words apart.
grammar grammar_of(family kind);
// node's, in node_options.cpp: its tables are long enough for a file of their own.
grammar node_grammar();

}  // namespace corvane_host::interpreter_options

#endif
