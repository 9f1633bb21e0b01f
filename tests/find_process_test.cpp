// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "fake_host.h"
#include "plugin.h"

namespace {

struct selection_case {
  const char* name;
  std::string directory;
  proc_map_t processes;
  proc_map_t selected;  // the result; one log line per entry, in this order
};

void PrintTo(const selection_case& c, std::ostream* out) { *out << c.name; }

std::vector<std::string> kill_announcements(const proc_map_t& selected) {
  std::vector<std::string> lines;
  for (const auto& entry : selected) {
    lines.push_back("corvane_killer: process: " + entry.second + " is going to be killed");
  }
  return lines;
}

const std::vector<selection_case>& selection_cases() {
  static const std::vector<selection_case> cases = {
      {"empty_snapshot", "/srv/app", {}, {}},
      {"empty_directory_selects_all_but_installers",
       "",
       {{1, "/bin/SH"}, {2, "/x/install.sh"}, {3, ""}},
       {{1, "/bin/sh"}, {3, ""}}},
      {"mixed_case_is_folded_for_test_log_and_result",
       "/srv/app",
       {{7, "/SRV/App/bin/tool"}},
       {{7, "/srv/app/bin/tool"}}},
      {"directory_is_folded_too", "/SRV/APP", {{7, "/srv/app/x"}}, {{7, "/srv/app/x"}}},
      {"plain_prefix_needs_no_separator",
       "/srv/app",
       {{1, "/srv/application/run"}},
       {{1, "/srv/application/run"}}},
      {"directory_must_start_the_command", "/srv/app", {{1, "/usr/bin/env /srv/app/run"}}, {}},
      {"equal_selected_shorter_not",
       "/srv/app",
       {{1, "/srv/app"}, {2, "/srv/ap"}, {3, ""}},
       {{1, "/srv/app"}}},
      {"installer_programs_left_alone",
       "/srv/app",
       {{1, "/srv/app/install.sh"},
        {2, "/srv/app/INSTALL.SH"},
        {3, "/srv/app/bin/install_gui"},
        {4, "/srv/app/setupinstall.exe"},
        {5, "/srv/app/Install.Exe"}},
       {}},
      {"suffixes_need_their_slash_and_the_end",
       "/srv/app",
       {{1, "/srv/app/reinstall.sh"},
        {2, "/srv/app/install.sh --silent"},
        {3, "/srv/app/my_install_gui"},
        {4, "/srv/app/install.sh/run"}},
       {{1, "/srv/app/reinstall.sh"},
        {2, "/srv/app/install.sh --silent"},
        {3, "/srv/app/my_install_gui"},
        {4, "/srv/app/install.sh/run"}}},
      {"suffix_inside_and_at_end_excluded",
       "/srv/app",
       {{1, "/srv/app/install.sh/install.sh"}},
       {}},
      {"high_bytes_compared_exactly",
       "/srv/\xC4pp",
       {{1, "/srv/\xE4pp/x"}, {2, "/srv/\xC4pp/Y\xFF"}},
       {{2, "/srv/\xC4pp/y\xFF"}}},
      {"ids_kept_and_ordered_signed",
       "/srv/app",
       {{5, "/srv/app/a"}, {0, "/srv/app/b"}, {-7, "/srv/app/c"}, {-1, "/srv/app/d"}},
       {{-7, "/srv/app/c"}, {-1, "/srv/app/d"}, {0, "/srv/app/b"}, {5, "/srv/app/a"}}},
  };
  return cases;
}

class find_process_test : public testing::TestWithParam<selection_case> {
 protected:
  void SetUp() override { fake::host() = {}; }
};

TEST_P(find_process_test, selects_folds_and_logs) {
  const selection_case& c = GetParam();
  const proc_map_t selected = find_process(c.processes, c.directory);
  EXPECT_EQ(selected, c.selected);
  EXPECT_EQ(fake::log_lines(), kill_announcements(c.selected));
  // Logging is its only call out.
  EXPECT_EQ(fake::host().calls.size(), c.selected.size());
}

INSTANTIATE_TEST_SUITE_P(cases, find_process_test, testing::ValuesIn(selection_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
