// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <climits>

#include "fake_host.h"
#include "plugin.h"

namespace {

using calls = std::vector<std::string>;
const char* const short_item = "corvane_killer_setup_detected_running_apps_short_desc";
const char* const full_item = "corvane_killer_setup_detected_running_apps_full_desc";

class check_test : public testing::Test {
 protected:
  void SetUp() override { fake::host() = {}; }

  static std::map<std::string, std::string>& session() { return fake::host().session.values; }
  static int check() { return plugin().check_running_corvane(&fake::host().session); }
};

TEST_F(check_test, root_not_set_stops_before_any_other_service) {
  EXPECT_EQ(check(), 0);
  EXPECT_EQ(fake::host().calls,
            (calls{"log corvane_killer: check_running_corvane entered", "env_exists CORVANE_PATH",
                   "log corvane_killer: corvane root is not defined, skipping check"}));
  EXPECT_TRUE(session().empty());
}

TEST_F(check_test, empty_root_stops_before_path) {
  session()["CORVANE_PATH"] = "";
  EXPECT_EQ(check(), 0);
  EXPECT_EQ(fake::host().calls,
            (calls{"log corvane_killer: check_running_corvane entered", "env_exists CORVANE_PATH",
                   "env_get_string CORVANE_PATH",
                   "log corvane_killer: corvane root is empty, skipping check"}));
  EXPECT_EQ(session().size(), 1U);
}

TEST_F(check_test, full_path_calls_host_in_order_and_records_processes) {
  session()["CORVANE_PATH"] = "/Srv/App/";
  session()["prerequisite_critical_significance"] = "critical";
  fake::host().path = [](const std::string& p) { return p.substr(0, p.size() - 1); };
  fake::host().dirname = [](const std::string& p) { return p + "/"; };
  fake::host().processes = {{4711, "/srv/app/B"},
                            {815, "/SRV/APP/a"},
                            {9, "/srv/app/install.sh"},
                            {12, "/srv/app-old/c"}};
  EXPECT_EQ(check(), 0);
  EXPECT_EQ(fake::host().calls,
            (calls{"log corvane_killer: check_running_corvane entered",
                   "env_exists CORVANE_PATH",
                   "env_get_string CORVANE_PATH",
                   "path /Srv/App/",
                   "log corvane_killer: corvane root: /Srv/App",
                   "get_process_list",
                   "get_dirname /Srv/App",
                   "log corvane_killer: process: /srv/app/a is going to be killed",
                   "log corvane_killer: process: /srv/app/b is going to be killed",
                   "log corvane_killer: process ID: 815",
                   "log corvane_killer: process ID: 4711",
                   "env_set_string RUNNING_PROC_LIST=815;4711",
                   "env_set_string corvane_killer_RUNNING_PROC_NAMES=\n/srv/app/a\n/srv/app/b\n",
                   "env_get_string SIGNIFICANCE",
                   "env_get_string prerequisite_critical_significance",
                   "env_set_string SIGNIFICANCE=;critical",
                   "env_get_string SHORT_DESC",
                   std::string("env_set_string SHORT_DESC=;") + short_item,
                   "env_get_string FULL_DESC",
                   std::string("env_set_string FULL_DESC=;") + full_item}));
}

TEST_F(check_test, nothing_selected_stores_empty_records_and_no_prerequisite) {
  session()["CORVANE_PATH"] = "/srv/app";
  session()["RUNNING_PROC_LIST"] = "42";
  fake::host().processes = {{1, "/usr/bin/other"}};
  EXPECT_EQ(check(), 0);
  EXPECT_EQ(session()["RUNNING_PROC_LIST"], "");
  EXPECT_EQ(session()["corvane_killer_RUNNING_PROC_NAMES"], "\n");
  EXPECT_EQ(fake::host().calls.back(), "env_set_string corvane_killer_RUNNING_PROC_NAMES=\n");
  EXPECT_EQ(session().count("SIGNIFICANCE"), 0U);
}

struct record_case {
  const char* name;
  proc_map_t selected;
  std::string ids;
  std::string names;
  std::vector<std::string> id_lines;
};

void PrintTo(const record_case& c, std::ostream* out) { *out << c.name; }

class check_records_test : public check_test, public testing::WithParamInterface<record_case> {};

TEST_P(check_records_test, records_ids_and_names) {
  const record_case& c = GetParam();
  session()["CORVANE_PATH"] = "/d";
  fake::host().processes = c.selected;
  EXPECT_EQ(check(), 0);
  EXPECT_EQ(session()["RUNNING_PROC_LIST"], c.ids);
  EXPECT_EQ(session()["corvane_killer_RUNNING_PROC_NAMES"], c.names);
  std::vector<std::string> id_lines;
  for (const std::string& line : fake::log_lines()) {
    if (line.rfind("corvane_killer: process ID: ", 0) == 0) {
      id_lines.push_back(line.substr(28));
    }
  }
  EXPECT_EQ(id_lines, c.id_lines);
  EXPECT_EQ(session().count("SHORT_DESC"), c.ids.empty() ? 0U : 1U);
}

INSTANTIATE_TEST_SUITE_P(
    cases, check_records_test,
    testing::Values(record_case{"one", {{4711, "/d/x"}}, "4711", "\n/d/x\n", {"4711"}},
                    record_case{
                        "minus_one_only_is_logged_not_recorded", {{-1, "/d/x"}}, "", "\n", {"-1"}},
                    record_case{"minus_one_among_others",
                                {{-1, "/d/x"}, {-2, "/d/y"}, {3, "/d/z"}},
                                "-2;3",
                                "\n/d/y\n/d/z\n",
                                {"-2", "-1", "3"}},
                    record_case{"separators_inside_commands_copied_as_they_are",
                                {{1, "/d/a;b\nc"}},
                                "1",
                                "\n/d/a;b\nc\n",
                                {"1"}},
                    record_case{"extreme_ids",
                                {{INT_MIN, "/d/a"}, {INT_MAX, "/d/b"}},
                                "-2147483648;2147483647",
                                "\n/d/a\n/d/b\n",
                                {"-2147483648", "2147483647"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(check_test, prerequisite_lists_keep_their_text_and_gain_one_item) {
  session()["CORVANE_PATH"] = "/d";
  session()["SIGNIFICANCE"] = "low";
  session()["SHORT_DESC"] = "a;b";
  session()["FULL_DESC"] = "x";
  fake::host().processes = {{1, "/d/p"}};
  check();
  EXPECT_EQ(session()["SIGNIFICANCE"], "low;");  // an empty significance still adds its ";"
  EXPECT_EQ(session()["SHORT_DESC"], std::string("a;b;") + short_item);
  EXPECT_EQ(session()["FULL_DESC"], std::string("x;") + full_item);
}

TEST_F(check_test, second_call_replaces_records_and_appends_items_again) {
  session()["CORVANE_PATH"] = "/d";
  session()["prerequisite_critical_significance"] = "2";
  fake::host().processes = {{1, "/d/p"}, {2, "/d/q"}};
  check();
  const auto after_first = session();
  check();
  EXPECT_EQ(session()["RUNNING_PROC_LIST"], after_first.at("RUNNING_PROC_LIST"));
  EXPECT_EQ(session()["corvane_killer_RUNNING_PROC_NAMES"],
            after_first.at("corvane_killer_RUNNING_PROC_NAMES"));
  EXPECT_EQ(session()["SIGNIFICANCE"], ";2;2");
  EXPECT_EQ(session()["SHORT_DESC"], std::string(";") + short_item + ";" + short_item);
}

TEST_F(check_test, early_stop_keeps_what_an_earlier_call_recorded) {
  session()["CORVANE_PATH"] = "/d";
  fake::host().processes = {{1, "/d/p"}};
  check();
  session()["CORVANE_PATH"] = "";
  check();
  session().erase("CORVANE_PATH");
  check();
  EXPECT_EQ(session()["RUNNING_PROC_LIST"], "1");
}

TEST_F(check_test, host_exception_reaches_the_host_and_earlier_writes_stay) {
  session()["CORVANE_PATH"] = "/d";
  fake::host().processes = {{1, "/d/p"}};
  // Call 14 is the write of SIGNIFICANCE, after both records are stored.
  fake::host().throw_at_call = 14;
  EXPECT_THROW(check(), fake::host_failure);
  EXPECT_EQ(session()["RUNNING_PROC_LIST"], "1");
  EXPECT_EQ(fake::host().calls.back(), "env_get_string prerequisite_critical_significance");
  EXPECT_EQ(session().count("SIGNIFICANCE"), 0U);
}

}  // namespace
