// SPDX-License-Identifier: MIT
// Each interpreter's options as its own parser reads them (bash(1), dash(1),
// mksh(1), zsh(1), python(1), perlrun(1), ruby(1), node --help, php(1), lua(1),
// tclsh(1), java --help and java -X, ld.so(8)). An option missing from these
// tables makes the answer "unknown": guessing whether it takes the next word
// would let a chosen command line hide the file it runs.
#include "evidence/interpreters.h"

#include <algorithm>
#include <cstddef>
#include <string_view>
#include <utility>

namespace corvane_host {
namespace {

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
  module,
  source,
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

bool starts_with(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

bool contains(table<std::string_view> names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// ---- The tables ----

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
                                     {'m', takes::value, does::no_file_last},
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
constexpr std::string_view ruby_prefix_words[] = {"--enable-", "--disable-", "--yjit-",
                                                  "--rjit-",   "--debug-",   "-W:"};
constexpr word ruby_words[] = {
    {"--yjit", takes::attached}, {"--rjit", takes::attached}, {"--debug", takes::attached}};

// node: its own flags and the V8 flags in common use; "--no-" turns any of them off.
constexpr std::string_view node_flag_words[] = {"-i",
                                                "--interactive",
                                                "--abort-on-uncaught-exception",
                                                "--addons",
                                                "--allow-addons",
                                                "--allow-child-process",
                                                "--allow-wasi",
                                                "--allow-worker",
                                                "--build-snapshot",
                                                "--cpu-prof",
                                                "--deprecation",
                                                "--disable-wasm-trap-handler",
                                                "--disallow-code-generation-from-strings",
                                                "--enable-fips",
                                                "--enable-network-family-autoselection",
                                                "--enable-source-maps",
                                                "--experimental-abortcontroller",
                                                "--experimental-detect-module",
                                                "--experimental-eventsource",
                                                "--experimental-fetch",
                                                "--experimental-global-customevent",
                                                "--experimental-global-navigator",
                                                "--experimental-global-webcrypto",
                                                "--experimental-import-meta-resolve",
                                                "--experimental-json-modules",
                                                "--experimental-modules",
                                                "--experimental-network-imports",
                                                "--experimental-network-inspection",
                                                "--experimental-permission",
                                                "--experimental-print-required-tla",
                                                "--experimental-repl-await",
                                                "--experimental-report",
                                                "--experimental-require-module",
                                                "--experimental-shadow-realm",
                                                "--experimental-sqlite",
                                                "--experimental-strip-types",
                                                "--experimental-test-coverage",
                                                "--experimental-test-module-mocks",
                                                "--experimental-top-level-await",
                                                "--experimental-transform-types",
                                                "--experimental-vm-modules",
                                                "--experimental-wasi-unstable-preview1",
                                                "--experimental-wasm-modules",
                                                "--experimental-websocket",
                                                "--experimental-webstorage",
                                                "--experimental-worker",
                                                "--expose-gc",
                                                "--expose-internals",
                                                "--extra-info-on-fatal-exception",
                                                "--force-async-hooks-checks",
                                                "--force-context-aware",
                                                "--force-fips",
                                                "--force-node-api-uncaught-exceptions-policy",
                                                "--frozen-intrinsics",
                                                "--global-search-paths",
                                                "--harmony",
                                                "--heap-prof",
                                                "--huge-max-old-generation-size",
                                                "--insecure-http-parser",
                                                "--interpreted-frames-native-stack",
                                                "--jitless",
                                                "--network-family-autoselection",
                                                "--node-memory-debug",
                                                "--openssl-legacy-provider",
                                                "--openssl-shared-config",
                                                "--pending-deprecation",
                                                "--perf-basic-prof",
                                                "--perf-basic-prof-only-functions",
                                                "--perf-prof",
                                                "--perf-prof-unwinding-info",
                                                "--permission",
                                                "--preserve-symlinks",
                                                "--preserve-symlinks-main",
                                                "--prof",
                                                "--report-compact",
                                                "--report-exclude-network",
                                                "--report-on-fatalerror",
                                                "--report-on-signal",
                                                "--report-uncaught-exception",
                                                "--single-threaded",
                                                "--test-force-exit",
                                                "--test-only",
                                                "--throw-deprecation",
                                                "--tls-max-v1.2",
                                                "--tls-max-v1.3",
                                                "--tls-min-v1.0",
                                                "--tls-min-v1.1",
                                                "--tls-min-v1.2",
                                                "--tls-min-v1.3",
                                                "--trace-atomics-wait",
                                                "--trace-deprecation",
                                                "--trace-exit",
                                                "--trace-gc",
                                                "--trace-promises",
                                                "--trace-sigint",
                                                "--trace-sync-io",
                                                "--trace-tls",
                                                "--trace-uncaught",
                                                "--trace-warnings",
                                                "--track-heap-objects",
                                                "--use-bundled-ca",
                                                "--use-openssl-ca",
                                                "--warnings",
                                                "--watch",
                                                "--watch-preserve-output",
                                                "--zero-fill-buffers"};
constexpr std::string_view node_value_words[] = {"-r",
                                                 "--require",
                                                 "--import",
                                                 "--loader",
                                                 "--experimental-loader",
                                                 "-C",
                                                 "--conditions",
                                                 "--env-file",
                                                 "--env-file-if-exists",
                                                 "--title",
                                                 "--inspect-port",
                                                 "--debug-port",
                                                 "--inspect-publish-uid",
                                                 "--input-type",
                                                 "--experimental-default-type",
                                                 "--experimental-policy",
                                                 "--experimental-specifier-resolution",
                                                 "--policy-integrity",
                                                 "--unhandled-rejections",
                                                 "--redirect-warnings",
                                                 "--diagnostic-dir",
                                                 "--icu-data-dir",
                                                 "--openssl-config",
                                                 "--disable-proto",
                                                 "--disable-warning",
                                                 "--dns-result-order",
                                                 "--heapsnapshot-signal",
                                                 "--heapsnapshot-near-heap-limit",
                                                 "--cpu-prof-dir",
                                                 "--cpu-prof-name",
                                                 "--cpu-prof-interval",
                                                 "--heap-prof-dir",
                                                 "--heap-prof-name",
                                                 "--heap-prof-interval",
                                                 "--max-http-header-size",
                                                 "--network-family-autoselection-attempt-timeout",
                                                 "--report-dir",
                                                 "--report-directory",
                                                 "--report-filename",
                                                 "--report-signal",
                                                 "--secure-heap",
                                                 "--secure-heap-min",
                                                 "--security-revert",
                                                 "--snapshot-blob",
                                                 "--build-snapshot-config",
                                                 "--localstorage-file",
                                                 "--allow-fs-read",
                                                 "--allow-fs-write",
                                                 "--tls-cipher-list",
                                                 "--tls-keylog",
                                                 "--trace-event-categories",
                                                 "--trace-event-file-pattern",
                                                 "--trace-require-module",
                                                 "--use-largepages",
                                                 "--v8-pool-size",
                                                 "--watch-path"};
constexpr std::string_view node_no_file_words[] = {"-c",
                                                   "--check",
                                                   "-v",
                                                   "--version",
                                                   "-h",
                                                   "--help",
                                                   "--v8-options",
                                                   "--completion-bash",
                                                   "--prof-process"};
// Given to V8 as one word: a value only after '=', never the next word.
constexpr word node_words[] = {{"-e", takes::value, does::no_file},
                               {"--eval", takes::value, does::no_file},
                               {"-p", takes::value, does::no_file},
                               {"--print", takes::value, does::no_file},
                               {"-pe", takes::value, does::no_file},
                               {"--run", takes::value, does::no_file},
                               {"--experimental-sea-config", takes::value, does::no_file},
                               {"--inspect", takes::attached},
                               {"--inspect-brk", takes::attached},
                               {"--inspect-wait", takes::attached},
                               {"--max-old-space-size", takes::attached},
                               {"--max-semi-space-size", takes::attached},
                               {"--stack-size", takes::attached},
                               {"--stack-trace-limit", takes::attached}};

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

constexpr std::string_view java_flag_words[] = {"-showversion",
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

grammar grammar_of(family kind) {
  grammar g;
  switch (kind) {
    case family::python:
      g.flag_letters = "bBdEiIOPqRsSuvx3tU";
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
      g.flag_words = node_flag_words;
      g.value_words = node_value_words;
      g.no_file_words = node_no_file_words;
      g.words = node_words;
      g.negatable = true;
      g.underscores = true;
      g.subcommand = "inspect";
      break;
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

// ---- Reading ----

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
  bool module = false;
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
        module = true;
        stopped = true;
        break;
      case does::source:
        source = true;
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

program_words unknown(std::string option) { return {program_kind::unknown, {}, std::move(option)}; }

// An empty word cannot be opened: whatever runs, it was not named here.
program_words file(const std::string& name) {
  return name.empty() ? unknown(name) : program_words{program_kind::file, {name}, {}};
}

program_words script_result(const reading& r, const grammar& g) {
  if (r.failed) {
    return unknown(*r.failed);
  }
  if (r.no_file) {
    return {};
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
  program_words found{program_kind::class_path, {}, {}};
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
    return path_entries(r.module_path, "--module-path");
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
  return path_entries(r.class_path, "CLASSPATH");
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
