// SPDX-License-Identifier: MIT
// Each interpreter's options as its own parser reads them (bash(1), dash(1),
// mksh(1), zsh(1), python(1), perlrun(1), ruby(1), php(1), lua(1), java --help
// and java -X, ld.so(8); node's in node_options.cpp). An option missing from
// these tables makes the answer "unknown": guessing whether it takes the next
// word would let a chosen command line hide the file it runs.
#include "evidence/interpreter_options.h"

namespace corvane_host::interpreter_options {
namespace {

constexpr letter shell_letters[] = {{'c', takes::nothing, does::no_file},
                                    {'s', takes::nothing, does::no_file},
                                    {'n', takes::nothing, does::no_file},
                                    {'D', takes::nothing, does::no_file},
                                    {'o', takes::next},
                                    {'O', takes::next}};
constexpr std::string_view bash_flag_words[] = {"--debug",     "--debugger",   "--login",
                                                "--noediting", "--noprofile",  "--norc",
                                                "--posix",     "--restricted", "--verbose"};
constexpr std::string_view bash_value_words[] = {"--rcfile", "--init-file"};
constexpr std::string_view bash_no_file_words[] = {"--help", "--version", "--dump-strings",
                                                   "--dump-po-strings", "--pretty-print"};
// ksh and mksh take a value as getopt(3) does; mksh -T names a tty, ksh93 -R a file.
constexpr letter ksh_letters[] = {{'c', takes::nothing, does::no_file},
                                  {'s', takes::nothing, does::no_file},
                                  {'n', takes::nothing, does::no_file},
                                  {'D', takes::nothing, does::no_file},
                                  {'o', takes::value},
                                  {'T', takes::value},
                                  {'R', takes::value}};
constexpr letter zsh_letters[] = {{'c', takes::nothing, does::no_file},
                                  {'s', takes::nothing, does::no_file},
                                  {'n', takes::nothing, does::no_file},
                                  {'o', takes::value}};
constexpr std::string_view zsh_value_words[] = {"--emulate"};
constexpr std::string_view help_and_version[] = {"--help", "--version"};

constexpr letter python_letters[] = {{'c', takes::value, does::no_file_last},
                                     {'m', takes::value, does::module},
                                     {'E', takes::nothing, does::no_environment},
                                     {'P', takes::nothing, does::no_working_directory},
                                     {'I', takes::nothing, does::isolated},
                                     {'h', takes::nothing, does::no_file},
                                     {'?', takes::nothing, does::no_file},
                                     {'V', takes::nothing, does::no_file},
                                     {'W', takes::value},
                                     {'X', takes::value},
                                     {'Q', takes::value}};
constexpr std::string_view python_value_words[] = {"--check-hash-based-pycs"};
constexpr std::string_view python_no_file_words[] = {"--help", "--version", "--help-env",
                                                     "--help-xoptions", "--help-all"};

constexpr letter perl_letters[] = {
    {'e', takes::value, does::no_file},
    {'E', takes::value, does::no_file},
    {'c', takes::nothing, does::no_file},
    {'h', takes::nothing, does::no_file},
    {'v', takes::nothing, does::no_file},
    {'V', takes::rest, does::no_file},
    {'S', takes::nothing, does::unsure},  // looks the program up in PATH
    {'I', takes::value},
    {'0', takes::nothing, does::nothing, "01234567"},
    {'l', takes::nothing, does::nothing, "01234567"},
    {'d', takes::nothing, does::nothing, "t"},
    {'C', takes::rest},
    {'D', takes::rest},
    {'F', takes::rest},
    {'i', takes::rest},
    {'M', takes::rest},
    {'m', takes::rest},
    {'x', takes::rest}};
constexpr std::string_view perl_prefix_words[] = {"-d:", "-dt:"};

constexpr letter ruby_letters[] = {{'e', takes::value, does::no_file},
                                   {'c', takes::nothing, does::no_file},
                                   {'h', takes::nothing, does::no_file_last},
                                   {'S', takes::nothing, does::unsure},
                                   {'r', takes::value},
                                   {'I', takes::value},
                                   {'C', takes::value},
                                   {'X', takes::value},
                                   {'E', takes::value},
                                   {'F', takes::rest},
                                   {'i', takes::rest},
                                   {'x', takes::rest},
                                   {'0', takes::nothing, does::nothing, "01234567"},
                                   {'W', takes::nothing, does::nothing, "012"}};
constexpr std::string_view ruby_flag_words[] = {"--verbose", "--jit"};
constexpr std::string_view ruby_value_words[] = {
    "--enable", "--disable",         "--encoding",    "--external-encoding", "--internal-encoding",
    "--parser", "--backtrace-limit", "--crash-report"};
constexpr std::string_view ruby_no_file_words[] = {"--help", "--version", "--copyright"};
// --mjit is 3.1's, --rjit 3.3's.
constexpr std::string_view ruby_prefix_words[] = {"--enable-", "--disable-", "--yjit-", "--rjit-",
                                                  "--mjit-",   "--debug-",   "-W:"};
constexpr word ruby_words[] = {{"--yjit", takes::attached},
                               {"--rjit", takes::attached},
                               {"--mjit", takes::attached},
                               {"--debug", takes::attached}};

// php -B and -E wrap standard input's lines; -F names the program run on each.
constexpr letter php_letters[] = {{'f', takes::value, does::program},
                                  {'F', takes::value, does::program},
                                  {'r', takes::value, does::no_file},
                                  {'R', takes::value, does::no_file},
                                  {'B', takes::value, does::no_positional},
                                  {'E', takes::value, does::no_positional},
                                  {'S', takes::value, does::unsure},
                                  {'c', takes::value},
                                  {'d', takes::value},
                                  {'t', takes::value},
                                  {'z', takes::value},
                                  {'a', takes::nothing, does::no_file},
                                  {'h', takes::nothing, does::no_file},
                                  {'?', takes::nothing, does::no_file},
                                  {'i', takes::nothing, does::no_file},
                                  {'l', takes::nothing, does::no_file},
                                  {'m', takes::nothing, does::no_file},
                                  {'s', takes::nothing, does::no_file},
                                  {'v', takes::nothing, does::no_file},
                                  {'w', takes::nothing, does::no_file}};
constexpr std::string_view php_flag_words[] = {"--no-chdir", "--profile-info", "--no-php-ini",
                                               "--no-header", "--hide-args"};
constexpr std::string_view php_value_words[] = {"--php-ini", "--define", "--docroot",
                                                "--zend-extension"};
constexpr std::string_view php_no_file_words[] = {"--interactive",
                                                  "--help",
                                                  "--usage",
                                                  "--info",
                                                  "--syntax-check",
                                                  "--modules",
                                                  "--syntax-highlight",
                                                  "--syntax-highlighting",
                                                  "--strip",
                                                  "--version",
                                                  "--ini"};
constexpr word php_words[] = {{"--file", takes::value, does::program},
                              {"--process-file", takes::value, does::program},
                              {"--run", takes::value, does::no_file},
                              {"--process-code", takes::value, does::no_file},
                              {"--process-begin", takes::value, does::no_positional},
                              {"--process-end", takes::value, does::no_positional},
                              {"--server", takes::value, does::unsure},
                              {"--rf", takes::value, does::no_file},
                              {"--rc", takes::value, does::no_file},
                              {"--re", takes::value, does::no_file},
                              {"--rz", takes::value, does::no_file},
                              {"--ri", takes::value, does::no_file}};

// lua runs -e code and then the script, if one is named; -j, -O and -b are LuaJIT's.
constexpr letter lua_letters[] = {{'e', takes::value},
                                  {'l', takes::value},
                                  {'j', takes::value},
                                  {'O', takes::rest},
                                  {'b', takes::nothing, does::no_file_last}};

constexpr std::string_view java_flag_words[] = {"-zero",
                                                "-dcevm",
                                                "-disable-@files",
                                                "--disable-@files",
                                                "-showversion",
                                                "--show-version",
                                                "--show-module-resolution",
                                                "--enable-preview",
                                                "-server",
                                                "-client",
                                                "-verbose",
                                                "-verbosegc",
                                                "-noclassgc",
                                                "-ea",
                                                "-da",
                                                "-esa",
                                                "-dsa",
                                                "-enableassertions",
                                                "-disableassertions",
                                                "-enablesystemassertions",
                                                "-disablesystemassertions"};
constexpr std::string_view java_value_words[] = {
    "--add-modules",   "--add-opens",    "--add-exports",         "--add-reads",
    "--limit-modules", "--patch-module", "--upgrade-module-path", "--enable-native-access"};
constexpr std::string_view java_no_file_words[] = {
    "-version",  "--version",    "-help",         "--help",         "-h",
    "-?",        "-X",           "--help-extra",  "--list-modules", "--validate-modules",
    "--dry-run", "-fullversion", "--full-version"};
constexpr std::string_view java_prefix_words[] = {"-D",
                                                  "-X",
                                                  "-verbose:",
                                                  "-ea:",
                                                  "-da:",
                                                  "-enableassertions:",
                                                  "-disableassertions:",
                                                  "-agentlib:",
                                                  "-agentpath:",
                                                  "-javaagent:",
                                                  "-splash:",
                                                  "--illegal-access="};
// The main entry options of the launcher (java.c), searched before the rest.
constexpr word java_words[] = {
    {"-jar", takes::nothing, does::jar},
    {"-m", takes::value, does::module},
    {"--module", takes::value, does::module},
    {"--source", takes::value, does::source},
    {"-cp", takes::value, does::class_path},
    {"-classpath", takes::value, does::class_path},
    {"--class-path", takes::value, does::class_path},
    {"-p", takes::value, does::module_path},
    {"--module-path", takes::value, does::module_path},
    {"-d", takes::value, does::no_file},
    {"--describe-module", takes::value, does::no_file},
    {"-Djava.class.path=", takes::prefix, does::class_path},
    {"-XX:VMOptionsFile=", takes::prefix, does::unsure}};  // may set the class path

constexpr std::string_view loader_flag_words[] = {"--inhibit-cache"};
constexpr std::string_view loader_value_words[] = {
    "--library-path",         "--preload",          "--audit", "--inhibit-rpath", "--argv0",
    "--glibc-hwcaps-prepend", "--glibc-hwcaps-mask"};
constexpr std::string_view loader_no_file_words[] = {
    "--list", "--verify", "--help", "--version", "--list-tunables", "--list-diagnostics"};

grammar shell_grammar(family kind) {
  grammar g;
  g.plus = true;
  g.dash = lone_dash::ends_options;
  g.letters = shell_letters;
  if (kind == family::bash) {
    g.flag_letters = "abefhiklmprtuvxBCEHPT";
    g.flag_words = bash_flag_words;
    g.value_words = bash_value_words;
    g.no_file_words = bash_no_file_words;
    g.long_first = true;
  } else if (kind == family::ksh) {
    g.flag_letters = "abefhiklmpruvxBCEPUX";
    g.letters = ksh_letters;
  } else if (kind == family::zsh) {
    g.flag_letters = "0123456789BCDEFGHIJKLMNOPQRSTUVWXYZadefghiklmprtuvwxy";
    g.letters = zsh_letters;
    g.value_words = zsh_value_words;
    g.no_file_words = help_and_version;
  } else {
    // dash's letters; where sh is bash, its other letters read as unknown.
    g.flag_letters = "abefilmpuvxCEIV";
  }
  return g;
}

}  // namespace

grammar grammar_of(family kind) {
  grammar g;
  switch (kind) {
    case family::python:
      g.flag_letters = "bBdiOqRsSuvx3tU";
      g.letters = python_letters;
      g.value_words = python_value_words;
      g.no_file_words = python_no_file_words;
      break;
    case family::perl:
      g.flag_letters = "afnpstTuUwWX";
      g.letters = perl_letters;
      g.no_file_words = help_and_version;
      g.prefix_words = perl_prefix_words;
      break;
    case family::ruby:
      g.flag_letters = "adlnpsUvw";
      g.letters = ruby_letters;
      g.flag_words = ruby_flag_words;
      g.value_words = ruby_value_words;
      g.no_file_words = ruby_no_file_words;
      g.prefix_words = ruby_prefix_words;
      g.words = ruby_words;
      break;
    case family::node:
      return node_grammar();
    case family::php:
      g.flag_letters = "CeHnq";
      g.letters = php_letters;
      g.flag_words = php_flag_words;
      g.value_words = php_value_words;
      g.no_file_words = php_no_file_words;
      g.words = php_words;
      g.dash = lone_dash::unknown;
      g.dashes = double_dash::standard_input;
      g.equals_after = true;
      break;
    case family::lua:
      g.flag_letters = "ivEW";
      g.letters = lua_letters;
      g.bundles = false;
      break;
    case family::java:
      g.flag_words = java_flag_words;
      g.value_words = java_value_words;
      g.no_file_words = java_no_file_words;
      g.prefix_words = java_prefix_words;
      g.words = java_words;
      g.dash = lone_dash::unknown;
      g.dashes = double_dash::unknown;
      g.argfiles = true;
      break;
    case family::loader:
      g.flag_words = loader_flag_words;
      g.value_words = loader_value_words;
      g.no_file_words = loader_no_file_words;
      g.dash = lone_dash::unknown;
      break;
    default:
      return shell_grammar(kind);
  }
  return g;
}

}  // namespace corvane_host::interpreter_options
