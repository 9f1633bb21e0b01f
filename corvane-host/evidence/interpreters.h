// SPDX-License-Identifier: MIT
// Programs that run another file: shells, script interpreters, java and the
// dynamic loader. A launcher script or an agent of the installation runs as
// one of them; the file it runs is what belongs to the installation.
//
// The words read here are the process's own, chosen by whoever started it:
// they are read the way the interpreter reads them, and any word this table
// cannot read for sure makes the answer "unknown", never a guess.
#ifndef CORVANE_HOST_INTERPRETERS_H
#define CORVANE_HOST_INTERPRETERS_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane_host {

// What an interpreter's command line says it runs.
enum class program_kind {
  none,        // no file is the program: inline code, standard input, a mode that only
               // lists or checks
  file,        // files[0] is the program, as written
  class_path,  // java without -jar: the class path entries (the module path entries
               // with -m), as written, split at ':'; an empty entry is "."
  unknown,     // not proven: `option` names the word that could not be read
  module       // python -m: files[0] is the module's dotted name
};

struct program_words {
  program_kind kind = program_kind::none;
  std::vector<std::string> files;
  // For unknown: the option not understood, an @argfile, an option missing its value,
  // an empty program word (""), or what java's class path would come from ("CLASSPATH"
  // when none is named, "--module-path" for -m without one).
  std::string option;
  // java: the main class as written ("a.b.Main"), empty with -m; also with
  // "CLASSPATH".
  std::string main_class;
  bool modules = false;  // java: the entries are a module path, whose directories hold jars
  // python: where it does not look for the module (-P, -I, -E).
  bool no_working_directory = false;
  bool no_environment = false;
};

// Whether a program of this file name runs the file its arguments name.
bool is_interpreter(const std::string& program_name);

// Whether it is the dynamic loader, whose program is mapped, never held.
bool is_loader(const std::string& program_name);

// The environment variable an interpreter of this file name takes its search
// path from (PYTHONPATH, NODE_PATH, CLASSPATH, PERL5LIB, RUBYLIB); "" for others.
std::string_view search_path_variable(const std::string& program_name);

// What the interpreter `program_name` (a file name, such as "python3.11") runs, read
// from `arguments`: the whole command line, argv[0] first.
program_words program_of(const std::string& program_name,
                         const std::vector<std::string>& arguments);

// A command line a process retitled (one argument holding blanks, followed only by
// the empty arguments NUL padding leaves) split into words at runs of blanks; any
// other command line as it is.
std::vector<std::string> command_words(const std::vector<std::string>& arguments);

}  // namespace corvane_host

#endif
