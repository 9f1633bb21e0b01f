// SPDX-License-Identifier: MIT
// Reading an interpreter's command line as the interpreter does, with the
// tables of interpreter_options.h: an option they do not name makes the
// answer "unknown", never a guess.
#include "evidence/interpreters.h"

#include <algorithm>
#include <cstddef>
#include <string_view>
#include <utility>

#include "evidence/interpreter_options.h"

namespace corvane_host {
namespace {

using namespace interpreter_options;

bool starts_with(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

bool contains(table<std::string_view> names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// What the options read so far say.
struct reading {
  explicit reading(const std::vector<std::string>& all) : words(all) {}

  const std::vector<std::string>& words;
  std::size_t next = 1;  // the first word not read yet
  bool stopped = false;
  bool no_file = false;
  bool no_positional = false;
  std::optional<std::string> failed;  // the word not understood
  std::optional<std::string> program;
  std::optional<std::string> class_path;
  std::optional<std::string> module_path;
  bool jar = false;
  std::optional<std::string> module;
  bool no_environment = false;
  bool no_working_directory = false;
  bool source = false;

  const std::string* take_next() { return next < words.size() ? &words[next++] : nullptr; }

  void fail(std::string_view option) {
    failed = std::string(option);
    stopped = true;
  }

  void apply(does effect, std::string_view option, std::string_view value) {
    switch (effect) {
      case does::nothing:
        break;
      case does::no_file_last:
        stopped = true;
        no_file = true;
        break;
      case does::no_file:
        no_file = true;
        break;
      case does::no_positional:
        no_positional = true;
        break;
      case does::program:
        program = std::string(value);
        break;
      case does::unsure:
        fail(option);
        break;
      case does::class_path:  // the last one named is the one used
        class_path = std::string(value);
        break;
      case does::module_path:
        module_path = std::string(value);
        break;
      case does::jar:
        jar = true;
        break;
      case does::module:  // what follows the module is the program's
        module = std::string(value);
        stopped = true;
        break;
      case does::source:
        source = true;
        break;
      case does::isolated:
        no_environment = true;
        no_working_directory = true;
        break;
      case does::no_environment:
        no_environment = true;
        break;
      case does::no_working_directory:
        no_working_directory = true;
        break;
    }
  }
};

// "--name=value" names "--name"; no other word has a value after '='.
std::string_view name_of(std::string_view text) {
  return starts_with(text, "--") ? text.substr(0, text.find('=')) : text;
}

bool negated_flag(const grammar& g, std::string_view name) {
  if (!g.negatable || !starts_with(name, "--no-")) {
    return false;
  }
  return std::any_of(g.flag_words.begin(), g.flag_words.end(), [&](std::string_view flag) {
    return starts_with(flag, "--") && flag.substr(2) == name.substr(5);
  });
}

std::optional<word> find_word(const grammar& g, std::string_view text) {
  const std::string_view name = name_of(text);
  for (const word& w : g.words) {
    if (w.arity == takes::prefix ? starts_with(text, w.name) : w.name == name) {
      return w;
    }
  }
  if (contains(g.no_file_words, name)) {
    return word{name, takes::nothing, does::no_file};
  }
  if (contains(g.flag_words, name) || negated_flag(g, name)) {
    return word{name, takes::nothing};
  }
  if (contains(g.value_words, name)) {
    return word{name, takes::value};
  }
  for (const std::string_view start : g.prefix_words) {
    if (starts_with(text, start)) {
      return word{start, takes::prefix};
    }
  }
  return std::nullopt;
}

void take_word(reading& r, const word& w, std::string_view text) {
  const std::size_t equals = name_of(text).size();
  const bool attached = equals < text.size();
  const std::string_view value = attached ? text.substr(equals + 1) : std::string_view();
  switch (w.arity) {
    case takes::prefix:
      return r.apply(w.effect, text, text.substr(w.name.size()));
    case takes::attached:
      return r.apply(w.effect, text, value);
    case takes::value:
      if (attached) {
        return r.apply(w.effect, text, value);
      }
      if (const std::string* next = r.take_next()) {
        return r.apply(w.effect, text, *next);
      }
      return r.fail(text);
    default:
      return attached ? r.fail(text) : r.apply(w.effect, text, {});
  }
}

std::optional<letter> find_letter(const grammar& g, char name) {
  for (const letter& l : g.letters) {
    if (l.name == name) {
      return l;
    }
  }
  if (g.flag_letters.find(name) != std::string_view::npos) {
    return letter{name, takes::nothing};
  }
  return std::nullopt;
}

// One word of letters, such as "-uB", "-euo" or "+x".
void read_letters(reading& r, const grammar& g, std::string_view text) {
  for (std::size_t at = 1; at < text.size() && !r.stopped; ++at) {
    const std::string option{text[0], text[at]};
    const std::optional<letter> found = find_letter(g, text[at]);
    // "+c" still reads inline code in bash: only plain flags are read after '+'.
    if (!found || (text[0] == '+' && found->effect != does::nothing)) {
      return r.fail(option);
    }
    std::string_view rest = text.substr(at + 1);
    if (found->arity == takes::nothing) {
      at += std::min(rest.find_first_not_of(found->suffix), rest.size());
      if (!g.bundles && at + 1 < text.size()) {
        return r.fail(text);
      }
      r.apply(found->effect, option, {});
      continue;
    }
    const std::string* value = nullptr;
    if (found->arity == takes::next || (found->arity == takes::value && rest.empty())) {
      value = r.take_next();
      if (value == nullptr) {
        return r.fail(option);
      }
    }
    if (g.equals_after && starts_with(rest, "=")) {
      rest.remove_prefix(1);
    }
    r.apply(found->effect, option, value != nullptr ? std::string_view(*value) : rest);
    if (found->arity != takes::next) {
      return;  // the value was the rest of this word
    }
  }
}

// The word as the word tables spell it.
std::string spelled(const grammar& g, std::string_view text) {
  std::string name(text);
  if (g.underscores) {
    std::replace(name.begin(), std::find(name.begin(), name.end(), '='), '_', '-');
  }
  if (g.long_first && name[1] != '-') {
    name.insert(0, 1, '-');  // bash reads "-norc" as "--norc"
  }
  return name;
}

// Reads the options, up to the first word that is not one.
reading read_options(const grammar& g, const std::vector<std::string>& arguments) {
  reading r(arguments);
  bool long_words = true;
  const bool has_letters = !g.flag_letters.empty() || g.letters.begin() != g.letters.end();
  while (!r.stopped && r.next < arguments.size()) {
    const std::string& text = arguments[r.next];
    if (text == "--" && g.dashes != double_dash::unknown) {
      ++r.next;
      r.no_positional = g.dashes == double_dash::standard_input;
      break;
    }
    if (text == "-" && g.dash != lone_dash::standard_input) {
      if (g.dash == lone_dash::unknown) {
        r.fail(text);
      }
      ++r.next;  // a shell reads the next word as the program
      break;
    }
    if (g.argfiles && starts_with(text, "@")) {
      r.fail(text);
      break;
    }
    const bool minus = text.size() > 1 && text[0] == '-';
    if (!minus && !(g.plus && starts_with(text, "+"))) {
      break;
    }
    ++r.next;
    if (minus && long_words) {
      const std::string name = spelled(g, text);
      if (const std::optional<word> found = find_word(g, name)) {
        take_word(r, *found, name);
        continue;
      }
    }
    long_words = !g.long_first;
    if (has_letters && !starts_with(text, "--")) {
      read_letters(r, g, text);
    } else {
      r.fail(text);
    }
  }
  return r;
}

program_words words_of(program_kind kind, std::vector<std::string> files, std::string option = {}) {
  program_words found;
  found.kind = kind;
  found.files = std::move(files);
  found.option = std::move(option);
  return found;
}

program_words unknown(std::string option) {
  return words_of(program_kind::unknown, {}, std::move(option));
}

// An empty word cannot be opened: whatever runs, it was not named here.
program_words file(const std::string& name) {
  return name.empty() ? unknown(name) : words_of(program_kind::file, {name});
}

program_words script_result(const reading& r, const grammar& g) {
  if (r.failed) {
    return unknown(*r.failed);
  }
  if (r.no_file) {
    return {};
  }
  if (r.module) {
    program_words found = words_of(program_kind::module, {*r.module});
    found.no_environment = r.no_environment;
    found.no_working_directory = r.no_working_directory;
    return found;
  }
  if (r.program) {
    return file(*r.program);
  }
  if (r.no_positional || r.next >= r.words.size()) {
    return {};  // standard input
  }
  const std::string& first = r.words[r.next];
  if ((first == "-" && g.dash == lone_dash::standard_input) ||
      (!g.subcommand.empty() && first == g.subcommand)) {
    return {};
  }
  return file(first);
}

// A java path, as written, split at ':'; an empty entry is the working directory.
program_words path_entries(const std::optional<std::string>& path, const char* missing) {
  if (!path) {
    return unknown(missing);
  }
  program_words found = words_of(program_kind::class_path, {});
  for (std::size_t start = 0;;) {
    const std::size_t end = path->find(':', start);
    const std::string entry = path->substr(start, end - start);
    found.files.push_back(entry.empty() ? "." : entry);
    if (end == std::string::npos) {
      return found;
    }
    start = end + 1;
  }
}

program_words java_result(const reading& r) {
  if (r.failed) {
    return unknown(*r.failed);
  }
  if (r.no_file) {
    return {};
  }
  if (r.module) {
    program_words found = path_entries(r.module_path, "--module-path");
    const std::size_t slash = r.module->find('/');  // "module/main.Class"
    found.main_class = slash == std::string::npos ? "" : r.module->substr(slash + 1);
    found.modules = true;
    return found;
  }
  if (r.next >= r.words.size()) {
    return {};  // no main class: java prints its usage
  }
  const std::string& main = r.words[r.next];
  if (r.jar || r.source) {
    return file(main);
  }
  // Without --source, "X.java" is a source file if it exists, else a class.
  if (main.size() > 5 && main.compare(main.size() - 5, 5, ".java") == 0) {
    return unknown(main);
  }
  // With no class path named, CLASSPATH from the environment (or ".") applies.
  program_words found = path_entries(r.class_path, "CLASSPATH");
  found.main_class = main;
  return found;
}

// tclsh runs its first word as a file, or the third after "-encoding NAME"; any
// other word starting with '-' leaves it reading standard input.
program_words tcl_program(const std::vector<std::string>& arguments) {
  if (arguments.size() > 3 && arguments[1] == "-encoding" && !starts_with(arguments[3], "-")) {
    return file(arguments[3]);
  }
  if (arguments.size() > 1 && !starts_with(arguments[1], "-")) {
    return file(arguments[1]);
  }
  return {};
}

// "python3.11" is python: the name, then nothing but version digits and dots.
bool named(std::string_view name, std::string_view base) {
  return starts_with(name, base) &&
         std::all_of(name.begin() + static_cast<std::ptrdiff_t>(base.size()), name.end(),
                     [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
}

family family_of(std::string_view name) {
  constexpr std::pair<std::string_view, family> shells[] = {
      {"sh", family::posix_sh}, {"dash", family::posix_sh}, {"ash", family::posix_sh},
      {"bash", family::bash},   {"ksh", family::ksh},       {"mksh", family::ksh},
      {"zsh", family::zsh}};
  for (const auto& [shell, kind] : shells) {
    if (name == shell) {
      return kind;
    }
  }
  if (starts_with(name, "ld-") && name.find(".so") != std::string_view::npos) {
    return family::loader;
  }
  constexpr std::pair<std::string_view, family> versioned[] = {
      {"python", family::python}, {"perl", family::perl},   {"ruby", family::ruby},
      {"node", family::node},     {"nodejs", family::node}, {"php", family::php},
      {"luajit", family::lua},    {"lua", family::lua},     {"tclsh", family::tcl},
      {"java", family::java}};
  for (const auto& [base, kind] : versioned) {
    if (named(name, base)) {
      return kind;
    }
  }
  return family::none;
}

bool blank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

bool is_interpreter(const std::string& program_name) {
  return family_of(program_name) != family::none;
}

bool is_loader(const std::string& program_name) {
  return family_of(program_name) == family::loader;
}

std::string_view search_path_variable(const std::string& program_name) {
  switch (family_of(program_name)) {
    case family::python:
      return "PYTHONPATH";
    case family::node:
      return "NODE_PATH";
    case family::java:
      return "CLASSPATH";
    case family::perl:
      return "PERL5LIB";
    case family::ruby:
      return "RUBYLIB";
    default:
      return "";
  }
}

program_words program_of(const std::string& program_name,
                         const std::vector<std::string>& arguments) {
  const family kind = family_of(program_name);
  if (kind == family::none) {
    return {};
  }
  if (kind == family::tcl) {
    return tcl_program(arguments);
  }
  const grammar g = grammar_of(kind);
  const reading r = read_options(g, arguments);
  return kind == family::java ? java_result(r) : script_result(r, g);
}

std::vector<std::string> command_words(const std::vector<std::string>& arguments) {
  const bool retitled = !arguments.empty() &&
                        std::any_of(arguments[0].begin(), arguments[0].end(), blank) &&
                        std::all_of(arguments.begin() + 1, arguments.end(),
                                    [](const std::string& argument) { return argument.empty(); });
  if (!retitled) {
    return arguments;
  }
  std::vector<std::string> words;
  const std::string& line = arguments[0];
  for (auto at = line.begin(); at != line.end();) {
    const auto end = std::find_if(at, line.end(), blank);
    if (end != at) {
      words.emplace_back(at, end);
    }
    at = std::find_if_not(end, line.end(), blank);
  }
  return words;
}

}  // namespace corvane_host
