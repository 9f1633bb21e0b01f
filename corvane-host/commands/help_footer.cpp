// SPDX-License-Identifier: MIT
#include "commands/help_footer.h"

#include <sstream>

#include "commands/commands.h"
#include "commands/report.h"
#include "ending/pid_guard.h"

namespace corvane_host {
namespace {

// "  TAG  text", the text wrapped at `width` and indented to `column`.
std::string tagged(const std::string& tag, const std::string& text, std::size_t column,
                   std::size_t width) {
  std::string out = "  " + tag;
  out.append(column >= out.size() + 2 ? column - out.size() : 2, ' ');
  std::size_t length = out.size();
  const std::size_t indent = length;
  bool line_start = true;
  std::istringstream words(text);
  for (std::string word; words >> word;) {
    if (!line_start && length + 1 + word.size() > width) {
      out += "\n" + std::string(indent, ' ');
      length = indent;
      line_start = true;
    }
    if (!line_start) {
      out += ' ';
      ++length;
    }
    out += word;
    length += word.size();
    line_start = false;
  }
  return out + "\n";
}

// The reasons a process is left alone, from the reasons the guard gives.
std::string left_alone_reasons() {
  std::string text;
  // system_error is the last reason.
  for (int i = 0; i <= static_cast<int>(why::system_error); ++i) {
    const reason because{static_cast<why>(i), 0};
    if (fate_of(because) == fate::left_alone) {
      text += (text.empty() ? ": " : "; ") + words_of(because);
    }
  }
  return text + ".";
}

}  // namespace

std::string help_footer(std::size_t width) {
  std::string text = "Exit status:\n";
  for (const exit_status_meaning& entry : exit_status_meanings) {
    text += tagged(std::to_string(entry.status), entry.meaning, 6, width);
  }
  text += "\nWhat became of each process (kill and run; its outcome in the JSON):\n";
  for (const fate_words& entry : fate_table) {
    const std::string meaning =
        entry.meaning + (entry.what == fate::left_alone ? left_alone_reasons() : "");
    text += tagged(entry.words, meaning, 20, width);
  }
  return text;
}

}  // namespace corvane_host
