// SPDX-License-Identifier: MIT
#include "interpreters.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace corvane_host {
namespace {

enum class family { none, shell, python, perl, ruby, node, php, lua, tcl, java, loader };

// "python3.11" is python: the name, then nothing but version digits and dots.
bool named(std::string_view name, std::string_view base) {
  return name.substr(0, base.size()) == base &&
         std::all_of(name.begin() + static_cast<std::ptrdiff_t>(base.size()), name.end(),
                     [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
}

family family_of(std::string_view name) {
  constexpr std::array<std::string_view, 7> shells = {"sh",  "bash", "dash", "zsh",
                                                      "ksh", "mksh", "ash"};
  if (std::find(shells.begin(), shells.end(), name) != shells.end()) {
    return family::shell;
  }
  if (name.substr(0, 3) == "ld-" && name.find(".so") != std::string_view::npos) {
    return family::loader;
  }
  const std::array<std::pair<std::string_view, family>, 10> versioned = {
      {{"python", family::python},
       {"perl", family::perl},
       {"ruby", family::ruby},
       {"node", family::node},
       {"nodejs", family::node},
       {"php", family::php},
       {"luajit", family::lua},
       {"lua", family::lua},
       {"tclsh", family::tcl},
       {"java", family::java}}};
  for (const auto& [base, kind] : versioned) {
    if (named(name, base)) {
      return kind;
    }
  }
  return family::none;
}

// Options that run code given inline: no file is run.
bool runs_inline(family kind, std::string_view option) {
  switch (kind) {
    case family::shell:
      return option == "-c" || (option.size() > 1 && option[0] == '-' && option[1] != '-' &&
                                option.find('c') != std::string_view::npos);
    case family::python:
      return option == "-c" || option == "-m";
    case family::perl:
      return option == "-e" || option == "-E";
    case family::ruby:
    case family::lua:
      return option == "-e";
    case family::node:
      return option == "-e" || option == "-p" || option == "--eval" || option == "--print";
    case family::php:
      return option == "-r";
    default:
      return false;
  }
}

// Options whose value is the next argument.
bool takes_value(family kind, std::string_view option) {
  switch (kind) {
    case family::shell:
      return option == "-o" || option == "+o" || option == "-O" || option == "+O";
    case family::python:
      return option == "-W" || option == "-X";
    case family::ruby:
    case family::node:
      return option == "-r" || option == "--require";
    case family::lua:
      return option == "-l";
    case family::java:
      return option == "-cp" || option == "-classpath" || option == "--class-path";
    case family::loader:
      return option == "--library-path" || option == "--preload" || option == "--audit" ||
             option == "--inhibit-rpath" || option == "--argv0";
    default:
      return false;
  }
}

}  // namespace

bool is_interpreter(const std::string& program_name) {
  return family_of(program_name) != family::none;
}

std::optional<std::string> script_argument(const std::string& program_name,
                                           const std::vector<std::string>& arguments) {
  const family kind = family_of(program_name);
  if (kind == family::none) {
    return std::nullopt;
  }
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (kind == family::java) {
      if (argument == "-jar" && i + 1 < arguments.size()) {
        return arguments[i + 1];
      }
      if (takes_value(kind, argument)) {
        ++i;
      }
      continue;  // java runs a class, not a file, unless -jar names one
    }
    if (argument == "--") {
      return i + 1 < arguments.size() ? std::optional(arguments[i + 1]) : std::nullopt;
    }
    if (argument.empty() || (argument[0] != '-' && argument[0] != '+') || argument == "-") {
      return argument.empty() || argument == "-" ? std::nullopt : std::optional(argument);
    }
    if (runs_inline(kind, argument)) {
      return std::nullopt;
    }
    if (takes_value(kind, argument)) {
      ++i;
    }
  }
  return std::nullopt;
}

}  // namespace corvane_host
