// SPDX-License-Identifier: MIT
// The reference host's pure parts: /proc text (captured files, and names a
// process chose to confuse a parser), the session format, paths, the command
// line's values, interpreters, and the reports people and scripts read.
#include <gtest/gtest.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <tuple>

#include "host_harness.h"
#include "interpreters.h"
#include "paths.h"
#include "pid_guard.h"
#include "proc_parse.h"
#include "report.h"
#include "seconds.h"
#include "session.h"

namespace {

using namespace corvane_host;
using strings = std::vector<std::string>;

// State T, parent 3390, flags 4194304, start time 41774 (field 22), every other field distinct.
std::string stat_line(const std::string& name) {
  return "3392 (" + name +
         ") T 3390 3391 1236 0 -1 4194304 101 0 0 0 7 8 0 0 20 0 1 0 41774 3133440 416 "
         "18446744073709551615 94492564897792 0 0 17 0 0 0 0 0 0\n";
}

TEST(proc_parse, stat_fields_after_the_last_parenthesis) {
  for (const std::string name : {"sleep", "a) R 1 (b", "two words", ")", "", "x\ny"}) {
    const auto fields = parse_stat(stat_line(name));
    ASSERT_TRUE(fields) << name;
    EXPECT_EQ(std::tie(fields->state, fields->parent, fields->flags, fields->start_time),
              std::make_tuple('T', 3390, 4194304U, std::uint64_t{41774}))
        << name;
    EXPECT_FALSE(fields->kernel_thread()) << name;
  }
  EXPECT_TRUE(parse_stat("2 (kthreadd) S 0 0 0 0 -1 2129984 0 0 0 0 0 0 0 0 20 0 1 0 5 0 0\n")
                  ->kernel_thread());
}

TEST(proc_parse, status_sigterm_masks_namespace_and_the_uid_line) {
  const auto stopped = parse_status(
      "Name:\tcorvane\nState:\tT (stopped)\nNSpid:\t77\nUid:\t1000\t1001\t1002\t1003\n"
      "Gid:\t2000\t2001\t2002\t2003\nSigPnd:\t0000000000004000\nSigBlk:\t0000000000000000\n"
      "SigIgn:\t0000000000004000\nSigCgt:\t0000000000000000\n");
  ASSERT_TRUE(stopped);
  EXPECT_EQ(std::tie(stopped->state, stopped->real_uid, stopped->effective_uid, stopped->saved_uid),
            std::make_tuple('T', 1000U, 1001U, 1002U));
  EXPECT_EQ(std::make_tuple(stopped->ignores_sigterm, stopped->blocks_sigterm,
                            stopped->handles_sigterm, stopped->namespace_init),
            std::make_tuple(true, false, false, false));
  const auto init = parse_status(
      "State:\tS (sleeping)\nUid:\t0\t0\t0\t0\nSigBlk:\t4000\nSigCgt:\t4000\nNSpid:\t812\t1\n");
  ASSERT_TRUE(init);
  EXPECT_EQ(std::make_tuple(init->ignores_sigterm, init->blocks_sigterm, init->handles_sigterm,
                            init->namespace_init),
            std::make_tuple(false, true, true, true));
  for (const char* text : {"", "State:\tS\n", "Uid:\t0\t0\t0\t0\n", "State:\tS\nUid:\t0\tx\t0\n"}) {
    EXPECT_FALSE(parse_status(text)) << text;
  }
}

TEST(proc_parse, command_lines_links_cgroups_and_maps) {
  EXPECT_EQ(parse_cmdline(std::string("a\0\0b c\0", 6)), (strings{"a", "", "b c"}));
  EXPECT_EQ(parse_cmdline(""), strings{});
  EXPECT_EQ(parse_exe_link(" (deleted)").path, " (deleted)");  // a name, not a mark
  EXPECT_EQ(parse_cgroup("4:memory:/a\n1:name=systemd:/b\n0::/user.slice/x.scope\n"),
            "/user.slice/x.scope");
  EXPECT_EQ(parse_cgroup("4:memory:/a\n"), "");
  for (const auto& [path, unit] : std::vector<std::pair<std::string, std::string>>{
           {"/system.slice/corvane.service", "corvane.service"},
           {"/user.slice/user-1000.slice/user@1000.service/app.slice/agent.service",
            "agent.service"},
           {"/user.slice/user-1000.slice/user@1000.service/init.scope", ""},
           {"/user.slice/user-1000.slice/user@1000.service", ""},
       }) {
    EXPECT_EQ(service_of_cgroup(path), unit) << path;
  }
  EXPECT_EQ(parse_maps_files("5000-6000 r--p 00000000 fd:01 12  /opt/c/bin/c\n"
                             "6000-7000 r-xp 00001000 fd:01 12  /opt/c/bin/c\n"
                             "7f00-7f01 rw-p 00000000 00:00 0 \n"
                             "7f01-7f02 r--p 00000000 fd:01 99   /opt/c/lib/a b.so (deleted)\n"
                             "7ffd-7ffe rw-p 00000000 00:00 0    [stack]\n"),
            (strings{"/opt/c/bin/c", "/opt/c/lib/a b.so"}));
}

TEST(session_format, round_trips_every_byte_and_rejects_what_it_did_not_write) {
  std::string all_bytes;
  for (int byte = 0; byte < 256; ++byte) {
    all_bytes += static_cast<char>(byte);
  }
  session_t session;
  session.values = {{"", ""}, {"A=B", "x=y%z"}, {all_bytes, all_bytes}};
  const std::string text = encode_session(session);
  EXPECT_EQ(decode_session(text).values, session.values);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1 + 3);  // one line per key
  for (const char* bad :
       {"", "other header\n", "corvane-host session 1\nA\n", "corvane-host session 1\nA=1",
        "corvane-host session 1\nA=%4\n", "corvane-host session 1\nA=%zz\n",
        "corvane-host session 1\nA=1\nA=2\n"}) {
    EXPECT_THROW(decode_session(bad), session_error) << testing::PrintToString(bad);
  }
  const std::vector<process_identity> one = {{7, 8, 9, "/c\n"}};
  EXPECT_EQ(decode_identities(encode_identities(one) + ";1:2:3;x:2:3:61;1:2:3:zz").size(), 1U);
}

TEST(paths, normal_paths_directories_and_broad_roots) {
  EXPECT_EQ(normal_path("/opt//corvane/./bin/../"), "/opt/corvane");
  EXPECT_EQ(normal_path("/.."), "/");
  EXPECT_EQ(normal_path("rel/x"), std::filesystem::current_path().string() + "/rel/x");
  EXPECT_EQ(directory_of("/tmp"), "/tmp/");
  EXPECT_EQ(directory_of("/bin/sh"), "/bin/");
  EXPECT_EQ(directory_of("/nonexistent/corvane"), "/nonexistent/");
  const strings homes = {"/home/ann/"};
  for (const char* refused : {"/", "/usr/", "/opt/", "/home/", "/lib64/", "/usr/bin/", "/usr/lib/",
                              "/usr/local/", "/usr/local/bin/", "/var/lib/", "/home/ann/"}) {
    EXPECT_NE(broad_root_reason(refused, homes), "") << refused;
  }
  for (const char* allowed : {"/opt/corvane/", "/usr/lib/corvane/", "/usr/local/lib/corvane/",
                              "/var/lib/corvane/", "/home/ann/corvane/", "/home/bob/", "/usrx/"}) {
    EXPECT_EQ(broad_root_reason(allowed, homes), "") << allowed;
  }
}

TEST(seconds, plain_decimal_seconds_in_range_or_what_is_wrong) {
  for (const char* row :
       {"0 | -", "0.5 | -", "3600 | -", "3600.5 | is more than 3600 seconds", "nan | NaN is not",
        "-NaN | NaN is not", "inf | endless", "Infinity | endless", "0x10 | hexadecimal",
        "-1 | negative", "10s | \"s\" after the number", "1e3 | \"e3\" after the number",
        "1. | \".\" after the number", ".5 | is not a number", "+5 | is not a number", " | empty",
        "ten | is not a number"}) {
    const strings text_message = harness::split(row, '|');
    const std::string error = seconds_error(text_message[0], 3600);
    EXPECT_TRUE(text_message[1] == "-" ? error.empty()
                                       : error.find(text_message[1]) != std::string::npos)
        << row << ": " << error;
  }
}

TEST(interpreters, the_file_an_interpreter_runs) {
  for (const char* row : {
           "sh | /bin/sh /opt/c/run | /opt/c/run",
           "bash | bash -e -o pipefail ./run x | ./run",
           "dash | sh -c /opt/c/run | -",
           "sh | sh | -",
           "python3.11 | python3 -u -W ignore /opt/c/a.py | /opt/c/a.py",
           "perl | perl -w -- /opt/c/x.pl | /opt/c/x.pl",
           "node | node --require m /opt/c/app.js | /opt/c/app.js",
           "java | java -Xmx1g -cp /x -jar /opt/c/a.jar a | /opt/c/a.jar",
           "java | java -cp /opt/c/a.jar Main | -",
           "ld-linux-x86-64.so.2 | /lib64/ld-linux-x86-64.so.2 --library-path /x /c/c | /c/c",
       }) {
    const strings fields = harness::split(row, '|');
    const auto file = script_argument(fields[0], harness::split(fields[1], ' '));
    EXPECT_EQ(file.value_or("-"), fields[2]) << row;
  }
}

// One outcome with every part of a report.
std::pair<check_outcome, kill_outcome> every_part() {
  check_outcome check;
  check.root = "/opt/caf\xe9/";
  check.processes = {
      {10, "root", "/opt/caf\xe9/a", {"it ignores SIGTERM: it will not end"}, "a.service"},
      {11, "ann", "/opt/caf\xe9/b\nc", {}, ""}};
  check.prerequisite_raised = true;
  check.spared = {{12, "/opt/caf\xe9/host", "it is this corvane-host"}};
  check.uninspected = {{"Permission denied", 2}, {"gone", 1}};
  check.using_files = {{{13, "/usr/bin/tool", {"/opt/caf\xe9/lib/x.so", "/opt/caf\xe9/y"}}}};
  const kill_outcome kill{
      0,
      1,
      {{20, "/opt/p", fate::still_running, ""}, {21, "/opt/p", fate::not_permitted, "EPERM"}}};
  return {check, kill};
}

TEST(report, text_for_people) {
  const auto [check, kill] = every_part();
  EXPECT_EQ(render_text(check, kill),
            "2 corvane process(es) running from /opt/caf\xe9/:\n"
            "  10  root  /opt/caf\xe9/a\n"
            "    warning: it ignores SIGTERM: it will not end\n"
            "  11  ann  /opt/caf\xe9/b\\x0ac\n"
            "Left alone: 12  /opt/caf\xe9/host (it is this corvane-host)\n"
            "Could not inspect 3 process(es) (Permission denied: 2, gone: 1): their programs are "
            "unknown; a complete check needs root.\n"
            "1 other process(es) using files of the installation (not signalled):\n"
            "  13  /usr/bin/tool\n    /opt/caf\xe9/lib/x.so\n    /opt/caf\xe9/y\n"
            "Critical prerequisite raised: yes\n"
            "Sent SIGTERM to 1 process(es).\n"
            "  20  /opt/p: still running\n  21  /opt/p: not permitted (EPERM)\n"
            "kill_corvane returned 0\n");
  check_outcome clear;
  clear.root = "/opt/c/";
  clear.using_files.emplace();
  EXPECT_EQ(render_text(clear, kill_outcome{}),
            "No corvane process is running from /opt/c/.\n"
            "No other process uses files of the installation.\n"
            "Critical prerequisite raised: no\nNo process to end.\nkill_corvane returned -1\n");
}

// What the end-to-end tests cannot reach: hexadecimal beside text that is not UTF-8, a unit.
TEST(report, json_for_scripts_keeps_every_byte) {
  const auto [check, kill] = every_part();
  const auto document = nlohmann::json::parse(render_json("/p.so", check, kill));
  EXPECT_EQ(document["schema_version"], 1);
  EXPECT_FALSE(document.contains("plugin_hex"));
  const auto& in = document["check"];
  EXPECT_EQ(in["root_hex"], "2f6f70742f636166e92f");
  EXPECT_EQ(in["processes"][0]["unit"], "a.service");
  EXPECT_EQ(in["processes"][1], nlohmann::json::parse(R"({"pid": 11, "user": "ann", "warnings": [],
      "command": "/opt/caf\ufffd/b\nc", "command_hex": "2f6f70742f636166e92f620a63"})"));
  EXPECT_EQ(in["left_alone"][0]["reason"], "it is this corvane-host");
  EXPECT_EQ(in["uninspected"]["reasons"]["gone"], 1);
  EXPECT_EQ(in["using_files"][0]["files"][1]["path_hex"], "2f6f70742f636166e92f79");
}

}  // namespace
