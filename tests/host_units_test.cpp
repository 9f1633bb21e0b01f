// SPDX-License-Identifier: MIT
// The reference host's pure parts: /proc text (also names chosen to confuse a parser), the
// session format, paths, the command line's values, interpreters, and the reports.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <nlohmann/json.hpp>
#include <numeric>
#include <optional>
#include <regex>
#include <sstream>
#include <tuple>

#include "base/text.h"
#include "base/time_bound.h"
#include "commands/commands.h"
#include "commands/help_footer.h"
#include "commands/report.h"
#include "commands/seconds.h"
#include "ending/session_records.h"
#include "ending/warnings.h"
#include "evidence/interpreter_options.h"
#include "evidence/interpreters.h"
#include "evidence/jar_entries.h"
#include "files/overlay_handle.h"
#include "files/paths.h"
#include "files/resolver.h"
#include "files/session.h"
#include "files/session_file.h"
#include "files/session_lock.h"
#include "host_harness.h"
#include "proc/environ_parse.h"
#include "proc/mounts.h"
#include "proc/proc_parse.h"
#include "proc/proc_table.h"

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
  EXPECT_EQ(user_name(0) + " " + user_name(4242424), "root 4242424");  // a number without a name
  EXPECT_TRUE(parse_stat("2 (kthreadd) S 0 0 0 0 -1 2129984 0 0 0 0 0 0 0 0 20 0 1 0 5 0 0\n")
                  ->kernel_thread());
}

TEST(proc_parse, status_sigterm_masks_namespace_and_the_uid_line) {
  const auto stopped = parse_status(
      "Name:\tcorvane\nState:\tT (stopped)\nNSpid:\t77\nUid:\t1000\t1001\t1002\t1003\n"
      "Gid:\t2000\t2001\t2002\t2003\nSigPnd:\t0000000000004000\nSigBlk:\t0000000000000000\n"
      "SigIgn:\t0000000000004000\nSigCgt:\t000000000000b000\n");
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
  const auto maps = parse_maps_files(
      "5000-6000 r--p 00000000 fd:01 12  /opt/c/bin/c\n"
      "6000-7000 r-xp 00001000 fd:01 12  /opt/c/bin/c\n"
      "7f00-7f01 rw-p 00000000 00:00 0 \n"
      "7f01-7f02 r--p 00000000 08:1f 99   /opt/c/lib/a b.so (deleted)\n"
      "7ffd-7ffe rw-p 00000000 00:00 0    [stack]\n");
  ASSERT_EQ(maps.size(), 2U);
  EXPECT_EQ(std::tie(maps[0].path, maps[0].major, maps[0].minor, maps[0].inode, maps[0].executable),
            std::make_tuple(std::string("/opt/c/bin/c"), 0xfdU, 1U, std::uint64_t{12}, true));
  EXPECT_EQ(std::tie(maps[1].path, maps[1].major, maps[1].minor, maps[1].inode, maps[1].executable),
            std::make_tuple(std::string("/opt/c/lib/a b.so"), 8U, 0x1fU, std::uint64_t{99}, false));
  // hidepid= of the /proc at /proc, and who may see through it.
  const std::string proc_line = "22 26 0:21 / /proc rw,nosuid - proc proc rw,";
  for (const char* row : {"hidepid=invisible,gid=27 | invisible 27", "hidepid=2 | 2 -",
                          "hidepid=0 | -", "hidepid=off | -", "subset=pid | -"}) {
    const strings fields = harness::split(row, '|');
    const auto hiding = proc_hides_processes(
        "25 1 8:1 / / rw - ext4 /dev/sda1 rw\n" + proc_line + fields[0] + "\n", 0);
    const std::string seen =
        hiding ? hiding->mode + " " + (hiding->gid ? std::to_string(*hiding->gid) : "-") : "-";
    EXPECT_EQ(seen, fields[1]) << row;
  }
  EXPECT_FALSE(proc_hides_processes("30 26 0:50 / /mnt/proc rw - proc proc rw,hidepid=2\n", 0));
  // A second /proc over the first: the one read decides, by its mount ID.
  const std::string stacked =
      proc_line + "hidepid=0\n31 22 0:51 / /proc rw - proc proc rw,hidepid=2\n";
  EXPECT_FALSE(proc_hides_processes(stacked, 22));
  EXPECT_TRUE(proc_hides_processes(stacked, 31));
  EXPECT_TRUE(proc_hides_processes(stacked, 0));
  // Which mounts a walk of a process's names may look into, by type and whose namespace.
  const std::string more =  // the views below are into it
      stacked + "40 25 0:60 / /home/u/x rw,nosuid shared:7 - fuse.sshfs u@h:/ rw,user_id=0\n";
  const std::vector<mount_line> mounts = parse_mountinfo(more);
  ASSERT_EQ(mounts.size(), 3U);
  EXPECT_EQ(std::tie(mounts[2].id, mounts[2].mount_point, mounts[2].type),
            std::make_tuple(std::uint64_t{40}, std::string_view("/home/u/x"),
                            std::string_view("fuse.sshfs")));
  using verdict = mount_verdict;
  for (const auto& [type, hosts, expected] : std::vector<std::tuple<const char*, bool, verdict>>{
           {"ext4", false, verdict::enter},
           {"tmpfs", false, verdict::enter},
           {"overlay", true, verdict::enter},
           {"overlay", false, verdict::users_overlay},
           {"fusectl", true, verdict::enter}}) {
    EXPECT_EQ(judge_mount(std::string_view(type), hosts), expected) << type << " " << hosts;
  }
  for (const char* type : {"fuse", "fuse.sshfs", "fuseblk", "nfs4", "cifs", "9p", "autofs"}) {
    EXPECT_EQ(judge_mount(std::string_view(type), true), verdict::may_stall) << type;
  }
  EXPECT_EQ(judge_mount(std::nullopt, true), verdict::unknown);
}

// A job that does not end in time is abandoned and says so, those after it going on on another
// helper; the time left for jobs is then spent, and what it shares outlives the wait.
TEST(time_bound, a_job_that_does_not_end_is_abandoned_within_the_bound) {
  int never[2];
  ASSERT_EQ(pipe(never), 0);
  const auto started = std::make_shared<std::atomic<int>>(0);
  const std::function<void()> ends = [started] { ++*started; };
  const std::function<void()> stalls = [started, fd = never[0]] {
    ++*started;
    char byte = 0;
    static_cast<void>(read(fd, &byte, 1));  // until the write end closes
  };
  time_bound time(std::chrono::milliseconds(250));
  EXPECT_EQ(time.run_all({ends, ends}), (std::vector<bool>{true, true}));
  EXPECT_FALSE(time.abandoned());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(time.run_all({ends, stalls, ends, stalls}),
            (std::vector<bool>{true, false, true, false}));
  for (int job = 0; job < 10; ++job) {
    EXPECT_FALSE(time.run(stalls));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
  EXPECT_TRUE(time.abandoned());
  EXPECT_EQ(*started, 9);  // a fifth of the bound each, then none ran at all
  close(never[1]);         // the abandoned reads end, touching only what they share
  close(never[0]);
}

// What a process was started with: the first entry of a name, as getenv() finds it, as a view
// into the text; a search path split as the interpreters split it.
TEST(proc_parse, environment_values_and_search_paths) {
  using namespace std::string_literals;
  for (const auto& [environ, value] : std::vector<std::pair<std::string, std::string>>{
           {"HOME=/root\0PYTHONPATH=/opt/c/lib:/x\0"s, "/opt/c/lib:/x"},
           {"PYTHONPATH=a\0PYTHONPATH=b\0"s, "a"},
           {"PYTHONPATHX=a\0XPYTHONPATH=b\0PYTHONPATH\0PYTHONPATH="s, ""},
           {"PYTHONPATH=a=b"s, "a=b"},
           {"A\0\0=\0PYTHONPATH=/c\0"s, "/c"},
           {"HOME=/root\0"s, "-"},
           {""s, "-"},
       }) {
    const auto found = environment_value(environ, "PYTHONPATH");
    EXPECT_EQ(found ? std::string(*found) : "-", value) << environ;
    EXPECT_TRUE(!found || (found->data() >= environ.data() &&
                           found->data() + found->size() <= environ.data() + environ.size()));
  }
  EXPECT_EQ(search_path_entries("/a::b:"), (std::vector<std::string_view>{"/a", ".", "b", "."}));
}

std::string little_endian_16(std::size_t value) {
  return {static_cast<char>(value & 0xff), static_cast<char>(value >> 8)};
}

TEST(jar_entries, the_directory_found_from_the_end_record_behind_a_launcher) {
  const auto entry = [](const std::string& name, std::size_t extra, std::size_t comment) {
    return "PK\x01\x02" + std::string(24, '\0') + little_endian_16(name.size()) +
           little_endian_16(extra) + little_endian_16(comment) + std::string(12, '\0') + name +
           std::string(extra + comment, 'x');
  };
  const std::string directory = entry(std::string(300, 'a'), 3, 2) + entry("app/Main.class", 0, 0);
  EXPECT_EQ(zip_names(directory, std::string(300, 'a')), true);
  EXPECT_EQ(zip_names(directory, class_entry("app.Main")), true);
  EXPECT_EQ(zip_names(directory, "app/Other.class"), false);
  EXPECT_EQ(zip_names(directory.substr(0, directory.size() - 1), "app/Other.class"), std::nullopt);
  // The end record, empty: it is the file's last 22 bytes, or the file is not a jar.
  const std::string end = "PK\x05\x06" + std::string(18, '\0');
  EXPECT_TRUE(zip_directory_of(end, 22) && !zip_directory_of(end, 21));
  // After a launcher script larger than the end record and its longest comment.
  const harness::temp_tree tree;
  const std::string jar = std::string(70000, '#') + directory + end.substr(0, 12) +
                          little_endian_16(directory.size()) + std::string(6, '\0') +
                          little_endian_16(5) + "notes";
  const unique_fd fd(open(tree.add_file("a.jar", jar).c_str(), O_RDONLY | O_CLOEXEC));
  EXPECT_EQ(jar_holds(fd.get(), "app/Main.class"), true);
}

TEST(proc_parse, signalfd_masks_and_lock_holders) {
  EXPECT_EQ(parse_signalfd_mask("pos:\t0\nflags:\t02000002\nmnt_id:\t15\nino:\t1057\n"
                                "sigmask:\t0000000000004002\n"),
            std::optional<std::uint64_t>(0x4002));
  EXPECT_EQ(parse_signalfd_mask("pos:\t0\nflags:\t02\n"), std::nullopt);
  // /proc/locks: the holder of a lock on device 08:01, inode 12; "-" for none.
  for (const char* row : {
           "1: FLOCK  ADVISORY  WRITE 77 08:01:12 0 EOF | 77",
           "1: FLOCK  ADVISORY  WRITE 77 09:01:12 0 EOF | -",
           "1: FLOCK  ADVISORY  WRITE 77 08:02:12 0 EOF | -",
           "1: FLOCK  ADVISORY  WRITE 77 08:01:13 0 EOF | -",
           "1: POSIX  ADVISORY  WRITE x 08:01:12 0 EOF | -",
           "1: POSIX  ADVISORY  WRITE 77 08:0112 0 EOF | -",
           "1: -> FLOCK  ADVISORY  WRITE 78 08:01:12 0 EOF | -",
       }) {
    const strings fields = harness::split(row, '|');
    const std::optional<pid_t> holder = parse_lock_holder(
        "2: FLOCK  ADVISORY  READ 5 08:01:99 0 EOF\n" + fields[0] + "\n", 8, 1, 12);
    EXPECT_EQ(holder ? std::to_string(*holder) : "-", fields[1]) << row;
  }
}

// Flags: Ignored, taken At once, Stopped (or by a Debugger), namespace Init, Handled, and the
// namespace's other members All counted (2), Some (at least 2) or None seen; then owner and
// unit; then the one warning, whole.
TEST(warnings, what_the_kernel_will_do_with_one_sigterm) {
  const std::string init = "it is the first process of its pid namespace (a container's init)";
  const std::string kills =
      init + ": when it ends, the kernel kills every other process of that namespace";
  for (const std::string row : {
           "------ |  |  | it blocks SIGTERM: it ends only once it unblocks it",
           "-A---- |  |  | -",
           "-A--H- |  |  | -",
           "IA---- |  |  | it ignores SIGTERM: it will not end",
           "I----- |  |  | it ignores SIGTERM: it will not end",
           "----H- |  |  | it blocks SIGTERM: it ends only once it unblocks it",
           "-AS--- |  |  | it is stopped: it will be continued right after its SIGTERM, so that it "
           "takes it",
           "-AD--- |  |  | it is stopped by a debugger: SIGTERM ends it only once the debugger "
           "lets it go on",
           "-A-I-A |  |  | INIT, which SIGTERM ends only if it handles it, and it does not",
           "-A-IHA |  |  | KILLS (2 running) without a SIGTERM of their own",
           "-A-IHS |  |  | KILLS (at least 2 running) without a SIGTERM of their own",
           "-A-IHN |  |  | KILLS without a SIGTERM of their own",
           "-A---- | ann |  | it belongs to ann: this user may not signal it",
           "-A---- |  | a.service | it belongs to the systemd service a.service, whose manager "
           "may start it again: stopping the unit is the way to end it",
       }) {
    strings fields = harness::split(row, '|');
    const std::string& flags = fields[0];
    sigterm_view view;
    view.status.ignores_sigterm = flags[0] == 'I';
    view.taken_at_once = flags[1] == 'A';
    view.status.state = flags[2] == 'S' ? 'T' : flags[2] == 'D' ? 't' : 'S';
    view.status.namespace_init = flags[3] == 'I';
    view.status.handles_sigterm = flags[4] == 'H';
    view.namespace_others = {flags[5] == 'N' ? 0U : 2U, flags[5] == 'A'};
    view.foreign_owner = fields[1];
    view.unit = fields[2];
    for (const auto& [mark, text] : {std::pair{"INIT", init}, {"KILLS", kills}}) {
      if (fields[3].rfind(mark, 0) == 0) {
        fields[3].replace(0, std::string(mark).size(), text);
      }
    }
    EXPECT_EQ(warnings_of(view), fields[3] == "-" ? strings{} : strings{fields[3]}) << row;
  }
}

// An overlay's handle of a file: the aligned type's three bytes of padding, then version 0,
// magic 0xfb, length, flags, the layer's handle type, the layer's UUID and its handle (the
// rest of the length). Row: type, padding, version, magic, length | the layer's handle read.
TEST(overlay_handle, a_layers_handle_only_from_a_well_formed_one) {
  const std::string uuid(16, 'u');
  for (const auto& [type, pad, version, magic, length, read] :
       std::vector<std::tuple<int, std::string, char, char, int, std::string>>{
           {0xfb, "", 0, '\xfb', 25, "LAYR"},
           {0xf8, "pad", 0, '\xfb', 25, "LAYR"},
           {0xfb, "", 0, '\xfb', 22, "L"},
           {0xfb, "", 0, '\xfb', 21, "-"},
           {0xfb, "", 0, '\xfb', 26, "-"},
           {0xfa, "", 0, '\xfb', 25, "-"},
           {0xfb, "", 1, '\xfb', 25, "-"},
           {0xfb, "", 0, '\xfa', 25, "-"}}) {
    const std::string header{version, magic, static_cast<char>(length), 0, 'T'};
    const auto layer =
        parse_overlay_handle({type, std::string(pad).append(header).append(uuid).append("LAYR")});
    EXPECT_EQ(layer ? layer->file.bytes : "-", read) << type << " " << length;
    EXPECT_TRUE(!layer || (layer->file.type == 'T' &&
                           std::string(layer->uuid.begin(), layer->uuid.end()) == uuid));
  }
}

TEST(session_format, round_trips_every_byte_and_rejects_what_it_did_not_write) {
  std::string all_bytes(256, '\0');
  std::iota(all_bytes.begin(), all_bytes.end(), '\0');
  session_t session;
  session.values = {{"", ""}, {"A=B", "x=y%z"}, {all_bytes, all_bytes}};
  const std::string text = encode_session(session);
  EXPECT_EQ(decode_session(text).values, session.values);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1 + 3);  // one line per key
  const std::string not_ours =
      "not a corvane-host session (the first line is not \"corvane-host session 1\")";
  for (const auto& [bad, said] : std::vector<std::pair<std::string, std::string>>{
           {"", not_ours},
           {"other header\n", not_ours},
           {"corvane-host session 1\nA\n", "line 2: no \"=\""},
           {"corvane-host session 1\nA=1", "line 2: no line end (truncated file?)"},
           {"corvane-host session 1\nA=%4\n", "line 2: bad escape"},
           {"corvane-host session 1\nB=1\n%zz=1\n", "line 3: bad escape"},
           {"corvane-host session 1\nA=1\nA=2\n", "line 3: the key stands twice"}}) {
    std::string what = "decoded";
    try {
      (void)decode_session(bad);
    } catch (const session_error& error) {
      what = error.what();
    }
    EXPECT_EQ(what, said) << testing::PrintToString(bad);
  }
  // What an interrupted save of "s" leaves, and what it does not.
  EXPECT_TRUE(is_temporary_of("s", "s.corvane-tmp.a1B2c3"));
  for (const char* other :
       {"s.corvane-tmp.a1B2c", "s.corvane-tmp.a1B2c3d", "t.corvane-tmp.a1B2c3"}) {
    EXPECT_FALSE(is_temporary_of("s", other)) << other;
  }
  const std::vector<recorded_process> one = {{{7, 8, 9}, "/c\n"}, {{4, 5, 6}, ""}};
  const auto decoded =
      decode_identities(encode_identities(one) + ";1:2:3;x:2:3:61;1:2:3:zz;0:2:3:61;-4:2:3:61");
  ASSERT_EQ(decoded.size(), 2U);
  EXPECT_EQ(std::tie(decoded[0].who, decoded[0].command), std::tie(one[0].who, one[0].command));
}

// The resolver in both views: links of the existing part resolved and the
// rest lexical; a process's names walked in its root, judged for a user.
TEST(resolver, links_views_and_judged_steps) {
  const harness::temp_tree tree;
  const std::string top = normal_path(tree.path());
  (void)tree.add_directory("real/sub");
  ASSERT_EQ(symlink("real/sub", (top + "/link").c_str()), 0);
  EXPECT_EQ(normal_path(top + "/link/../x/./y/"), top + "/real/x/y");
  EXPECT_EQ(normal_path(top + "/link"), top + "/real/sub");

  SKIP_WHERE(harness::not_root());
  ASSERT_EQ(chmod(top.c_str(), 0777), 0);  // not root's alone
  harness::write_file(top + "/theirs", "");
  ASSERT_EQ(chown((top + "/theirs").c_str(), 4242, 4242), 0);
  const unique_fd self(open("/proc/self", O_PATH | O_DIRECTORY | O_CLOEXEC));
  process_names names(self.get());
  const auto opens = [&names](const std::string& path, step_rule steps, uid_t judged_for) {
    return static_cast<bool>(
        names.open(path, walk_policy{steps, judged_for, true, false, std::nullopt}));
  };
  EXPECT_TRUE(opens(top + "/theirs", step_rule::any, 0));
  EXPECT_TRUE(opens(top + "/theirs", step_rule::guarded, 4242));
  EXPECT_FALSE(opens(top + "/theirs", step_rule::guarded, 65534));
  // A link in a directory anyone may write is not followed when steps are judged.
  EXPECT_TRUE(opens(top + "/link/../../theirs", step_rule::any, 0));
  EXPECT_FALSE(opens(top + "/link/../../theirs", step_rule::guarded, 4242));
  EXPECT_TRUE(opens("/../../.." + top + "/theirs", step_rule::any, 0));
}

TEST(paths, normal_paths_directories_and_broad_roots) {
  EXPECT_EQ(
      (strings{normal_path("/opt//corvane/./bin/../"), normal_path("/.."), normal_path("rel/x"),
               normal_path("/etc/passwd/x/../y")}),  // past a file: as written
      (strings{"/opt/corvane", "/", std::filesystem::current_path().string() + "/rel/x",
               "/etc/passwd/y"}));
  EXPECT_EQ(directory_of("/tmp") + directory_of("/bin/sh") + directory_of("/nonexistent/corvane"),
            "/tmp//bin//nonexistent/");
  const strings homes = {"/home/ann"};  // as passwd has it: taken as a directory
  for (const char* refused :
       {"/", "/usr/", "/opt/", "/home/", "/lib64/", "/media/", "/usr/bin/", "/usr/lib/",
        "/usr/local/", "/usr/local/bin/", "/var/lib/", "/home/ann/", "/tmp/"}) {
    EXPECT_NE(broad_root_reason(refused, homes), "") << refused;
  }
  EXPECT_EQ(broad_root_reason("/home/ann/", homes),
            "it is a user's home directory: its programs are the user's own");
  for (const char* allowed : {"/opt/corvane/", "/usr/lib/corvane/", "/usr/local/lib/corvane/",
                              "/var/lib/corvane/", "/home/ann/corvane/", "/home/bob/", "/usrx/"}) {
    EXPECT_EQ(broad_root_reason(allowed, homes), "") << allowed;
  }
}

// Each text and the error said, whole; "P" at its end stands for the advice to give plain seconds.
TEST(seconds, plain_decimal_seconds_in_range_or_what_is_wrong) {
  for (const char* row :
       {"0 | -", "0.5 | -", "3600 | -", "19.9 | -", "3600.5 | 3600.5 is more than 3600 seconds",
        "nan | NaN is not a number of secondsP", "-NaN | NaN is not a number of secondsP",
        "inf | an endless time is not allowed; give at most 3600 seconds",
        "Infinity | an endless time is not allowed; give at most 3600 seconds",
        "0x10 | 0x10 is hexadecimalP", "-1 | a negative time is not allowedP",
        "10s | 10s has \"s\" after the numberP", "1e3 | 1e3 has \"e3\" after the numberP",
        "1. | 1. has \".\" after the numberP", ".5 | .5 is not a number of secondsP",
        "+5 | +5 is not a number of secondsP", " | an empty value is not a number of secondsP",
        "ten | ten is not a number of secondsP"}) {
    const strings text_message = harness::split(row, '|');
    std::string said = text_message[1] == "-" ? "" : text_message[1];
    if (!said.empty() && said.back() == 'P') {
      said.replace(said.size() - 1, 1, "; give plain decimal seconds, such as 30 or 0.5");
    }
    EXPECT_EQ(seconds_error(text_message[0], 3600), said) << row;
  }
}

TEST(interpreters, the_file_an_interpreter_runs) {
  const auto described = [](const program_words& words) {
    const char* const kinds[] = {"none", "file", "class_path", "unknown", "module"};
    std::string detail = words.option;
    for (const std::string& file : words.files) {
      detail += (detail.empty() ? "" : ":") + file;
    }
    detail += (words.main_class.empty() ? "" : " " + words.main_class) +
              (words.no_working_directory ? " -P" : "") + (words.no_environment ? " -E" : "") +
              (words.modules ? " -p" : "");
    return kinds[static_cast<int>(words.kind)] + (detail.empty() ? "" : " " + detail);
  };
  for (const char* row : {
           "sh | /bin/sh /opt/c/run | file /opt/c/run",
           "bash | bash -euo pipefail -O extglob ./run x | file ./run",
           "dash | sh -ec /opt/c/run | none",
           "sh | sh -s /opt/c/run | none",
           "bash | bash -n /opt/c/run | none",
           "sh | sh | none",
           "sh | sh - /opt/c/run | file /opt/c/run",
           "bash | bash --rcfile /opt/c/rc -i | none",
           "bash | bash -norc -i /opt/c/run | file /opt/c/run",
           "bash | bash -x --norc /opt/c/run | unknown --norc",
           "bash | bash +c /opt/c/run | unknown +c",
           "zsh | zsh -oerrexit /opt/c/run | file /opt/c/run",
           "mksh | mksh -T /dev/tty2 /opt/c/run | file /opt/c/run",
           "python3.11 | python3 -uB -W ignore -Xdev /opt/c/a.py | file /opt/c/a.py",
           "python3 | python3 -c x /opt/c/a.py | none",
           "python3 | python3 -m venv /opt/c | module venv",
           "python3 | python3 -I -m pkg.sub | module pkg.sub -P -E",
           "python3 | python3 -Pm pkg | module pkg -P",
           "python3 | python3 -- - /opt/c/a.py | none",
           "python3 | python3 @a.py | file @a.py",
           "python3 | python3 -Z -Y /opt/c/a.py | unknown -Z",
           "python3 | python3 -m mod -Z /opt/c/a.py | module mod",
           "python3 | python3 - /opt/c/a.py | none",
           "python3.9 | python3.9 /opt/c/a.py | file /opt/c/a.py",
           "python3 | python3  /opt/c/a.py | unknown",
           "perl | perl -e1 /opt/c/x.pl | none",
           "perl | perl -lne 1 /opt/c/x.pl | none",
           "perl | perl -I /opt/c/lib /srv/tools/report.pl | file /srv/tools/report.pl",
           "perl | perl -pie s/a/b/ /opt/c/x.pl | file s/a/b/",
           "perl | perl -0777 -Mstrict -d:NYTProf -- /opt/c/x.pl | file /opt/c/x.pl",
           "perl | perl -c /opt/c/x.pl | none",
           "perl | perl -I | unknown -I",
           "ruby | ruby -e 1 /opt/c/a.rb | none",
           "ruby | ruby -r json /opt/c/a.rb | file /opt/c/a.rb",
           "ruby | ruby -rjson -I /x --disable-gems --enable jit /opt/c/a.rb | file /opt/c/a.rb",
           "ruby | ruby --dump=insns /opt/c/a.rb | unknown --dump=insns",
           "lua5.4 | lua -e x | none",
           "lua5.4 | lua -e x /opt/c/a.lua | file /opt/c/a.lua",
           "lua5.4 | lua -ie x | unknown -ie",
           "lua5.4 | lua -W /opt/c/a.lua | file /opt/c/a.lua",
           "php8.2 | php -r x /opt/c/a.php | none",
           "php8.2 | php -n -dx=1 -f /opt/c/a.php -- -x | file /opt/c/a.php",
           "php8.2 | php -l -f /opt/c/a.php | none",
           "php8.2 | php -- /opt/c/a.php | none",
           "php8.2 | php -K /opt/c/a.php | unknown -K",
           "php8.2 | php -F /opt/c/a.php | file /opt/c/a.php",
           "node | node -pe x /opt/c/a.js | none",
           "node | node -e x /opt/c/a.js | none",
           "node | node --import PKG /opt/c/app/server.js | file /opt/c/app/server.js",
           "node | node --stack-size=99 --no_warnings --inspect=9 -r m /c/a.js | file /c/a.js",
           "node | node --inspect 9229 /opt/c/a.js | file 9229",
           "node | node --experimental-foo /opt/c/a.js | unknown --experimental-foo",
           "node | node -c /opt/c/a.js | none",
           "java | java -Xmx1g -cp /x -jar /opt/c/a.jar a | file /opt/c/a.jar",
           "java | java -jar -Dk=v /opt/c/a.jar | file /opt/c/a.jar",
           "java | java -cp /opt/c/lib/app.jar Main | class_path /opt/c/lib/app.jar Main",
           "java | java --class-path=/c/a.jar -da Main | class_path /c/a.jar Main",
           "java | java --add-opens=a/b=ALL -cp /c/a.jar a.b.Main | class_path /c/a.jar a.b.Main",
           "java | java -classpath /opt/c/lib/* Main | class_path /opt/c/lib/* Main",
           "java | java -cp /x -Djava.class.path=/c/a.jar::/c/* Main | class_path /c/a.jar:.:/c/* "
           "Main",
           "java | java Main | unknown CLASSPATH Main",
           "java | java -p /opt/c/mods -m app/a.Main x | class_path /opt/c/mods a.Main -p",
           "java | java @/tmp/args Main | unknown @/tmp/args",
           "java | java -version | none",
           "java | java -cp /c/a.jar - | unknown -",
           "java | java -cp /opt/c/a.jar Tool.java | unknown Tool.java",
           "java | java -XX:VMOptionsFile=/o -cp /c/a.jar Main | unknown -XX:VMOptionsFile=/o",
           "java | java -Zfoo -cp /c/a.jar Main | unknown -Zfoo",
           "ld-linux-x86-64.so.2 | /lib64/ld-linux-x86-64.so.2 --library-path /x /c/c | file /c/c",
           "ld-linux-x86-64.so.2 | ld.so --list /opt/c/bin/x | none",
           "ld-linux-x86-64.so.2 | ld.so --frob /opt/c/bin/x | unknown --frob",
           "tclsh8.6 | tclsh -encoding utf-8 /opt/c/a.tcl | file /opt/c/a.tcl",
           "tclsh8.6 | tclsh -x /opt/c/a.tcl | none",
       }) {
    const strings fields = harness::split(row, '|');
    EXPECT_EQ(described(program_of(fields[0], harness::split(fields[1], ' '))), fields[2]) << row;
  }
  // Arguments and the words expected, split at ','.
  for (const char* row : {
           "node /opt/c/app/server.js,,, | node,/opt/c/app/server.js",
           "node \t /opt/c/a.js | node,/opt/c/a.js",
           "python3,/opt/c/my app.py | python3,/opt/c/my app.py",
           "node /opt/c/a.js,x,, | node /opt/c/a.js,x,,",
       }) {
    const strings fields = harness::split(row, '|');
    EXPECT_EQ(command_words(harness::split(fields[0], ',')), harness::split(fields[1], ',')) << row;
  }
  std::string variables;  // where each takes its search path from
  for (const char* name : {"python3.11", "node", "java", "perl", "ruby3.1", "bash"}) {
    variables += std::string(search_path_variable(name)) + ";";
  }
  EXPECT_EQ(variables, "PYTHONPATH;NODE_PATH;CLASSPATH;PERL5LIB;RUBYLIB;;");
}

// Every option the interpreters on this machine list in their own help is one the tables
// read. A row: the program, how to ask it, the pattern of a help line ((short form)? (option)
// (mark where it takes a value)?), the words after the options, and the option whose program
// no word shows. The value follows as a word of its own, or after '=' where the mark is.
TEST(interpreters, every_option_the_interpreters_here_list_is_read) {
  const struct {
    std::string program, ask, line, after, unproven = {};
  } helps[] = {{"node", "--help", R"(^  (?:(--?\w[\w.-]*), )?(--\w[\w.-]*)(\[?=)?)", "/c/a.js"},
               {"python3.11", "--help", R"(^()(-[\w-]+)( \w+| \S+\|\S+)? *:)", "/c/a.py"},
               {"java", "--help", R"(^    (?:(-\w+) \| )?(-[\w:?@-]+)( <)?)", "-jar /c/a.jar"},
               {"bash", "--help", R"(^\t()(--[\w-]+)()$)", "/c/a.sh"},
               {"perl", "-h", R"(^  ()(-\w)( \w)?)", "/c/a.pl", "-S"}};
  for (const auto& help : helps) {
    const std::string file = "/usr/bin/" + help.program;
    SKIP_WHERE(harness::missing(file));
    const auto listed = harness::run({file, help.ask});
    const std::regex option(help.line);
    std::istringstream lines(listed.out);
    int read = 0;
    for (std::string line; std::getline(lines, line);) {
      std::smatch found;
      read += std::regex_search(line, found, option) ? 1 : 0;
      for (const int form : {1, 2}) {
        if (found.empty() || found[form].length() == 0) {
          continue;
        }
        strings words = {file, found[form]};
        if (form == 2 && found[3].length() != 0 && found[3].str().back() == '=') {
          words.back() += "=v";
        } else if (found[3].length() != 0) {
          words.emplace_back("v");
        }
        const strings after = harness::split(help.after, ' ');
        words.insert(words.end(), after.begin(), after.end());
        EXPECT_EQ(program_of(help.program, words).kind == program_kind::unknown,
                  found[form] == help.unproven)
            << line;
      }
    }
    EXPECT_GE(read, 15) << file << " " << help.ask << ":\n" << listed.out;
  }
}

// The other way round: each word the tables read is one the interpreter here takes, or one it
// refuses that the row names (a newer release's, sorted). Eight at a time in the temporary
// directory (node's profilers write there) with a network of their own (node's inspector).
TEST(interpreters, every_word_read_is_one_the_interpreter_here_takes) {
  using namespace interpreter_options;
  SKIP_WHERE(harness::not_root());
  const std::tuple<family, std::string, std::string, std::string, std::string> rows[] = {
      {family::php, "/usr/bin/php", "-r ;", "Error in argument", ""},
      {family::ruby, "/usr/bin/ruby", "--version", "invalid option",
       "--crash-report --parser --rjit "},
      // node 22's, and V8's that take their value after '=' alone
      {family::node, "/usr/bin/node", "--version", "bad option",
       "--experimental-global-navigator --experimental-sqlite --experimental-strip-types "
       "--experimental-transform-types --experimental-webstorage --localstorage-file "
       "--max-old-space-size --max-semi-space-size --permission --run --stack-size "
       "--stack-trace-limit "},
      {family::python, "/usr/bin/python3.11", "-c pass", "unknown option", ""},
      // java lists -disable-@files, yet hands it on to its VM, which refuses it.
      {family::java, "/usr/bin/java", "-version", "Unrecognized option",
       "--disable-@files -disable-@files "},
      {family::bash, "/usr/bin/bash", "-c :", "invalid option", ""},
      {family::perl, "/usr/bin/perl", "-e 1", "Unrecognized switch", ""},
      {family::zsh, "/usr/bin/zsh", "-c :", "no such option", ""},
      {family::loader, "/lib64/ld-linux-x86-64.so.2", "/bin/true", "unrecognized", ""}};
  const std::string script = R"(cd "$0" && export TMPDIR="$0" && p="$1" c="$2" r="$3" && shift 3 &&
printf '%s\n' "$@" | xargs -d '\n' -P 8 -n 1 sh -fc 'unshare --net timeout -s KILL 9 $0 $3 $1 \
</dev/null 2>&1 | grep -qF "$2" && echo ${3%% *}' "$p" "$c" "$r" | sort | tr '\n' ' ')";
  const harness::temp_tree outputs;
  for (const auto& [kind, program, code, refuses, refused] : rows) {
    SKIP_WHERE(harness::missing(program));
    strings argv = {"/bin/sh", "-fc", script, outputs.path(), program, code, refuses};
    const grammar g = grammar_of(kind);
    for (const auto& words : {g.flag_words, g.no_file_words, g.value_words}) {
      for (const auto word : words) {  // an option and, where it takes one, a value
        argv.push_back(std::string(word) + (words.begin() == g.value_words.begin() ? " v" : ""));
      }
    }
    for (const auto& word : g.words) {
      argv.push_back(std::string(word.name) + (word.arity == takes::value ? " v" : ""));
    }
    EXPECT_EQ(harness::run(argv).out, refused) << program;
  }
}

// One outcome with every part of a report.
std::pair<check_outcome, kill_outcome> every_part() {
  const std::string caf = "/opt/caf\xe9/";
  const std::string unit = "\xc2\x9b\xff.service";
  check_outcome check;
  check.root = caf;
  check.processes = {{10, "root", caf + "a", {"it belongs to the systemd service " + unit}, unit},
                     {11, "ann", caf + "b\nc", {}, ""}};
  check.prerequisite_raised = true;
  check.spared = {{12, caf + "host", "it is this corvane-host"}};
  check.uninspected = {{"Permission denied", 2}, {"gone", 1}};
  check.using_files = {{{13, "/usr/bin/tool", {caf + "lib/x.so", caf + "y"}, true}}};
  kill_outcome kill{0, 1, {}, std::nullopt};
  kill.processes = {
      {20, "", "/opt/p", fate::still_running, {}},
      {21, "", "/opt/p", fate::not_permitted, reason{why::system_error, EPERM}},
      {std::nullopt, "a\x1b", "", fate::left_alone, reason{why::not_a_process_id}},
      {22, "", "/opt/p", fate::signalled, {}, parent_process{{30, 0, 0}, "s\xe9", false}}};
  return {check, kill};
}

TEST(report, text_for_people) {
  const auto [check, kill] = every_part();
  EXPECT_EQ(render_text(check, kill),
            "2 corvane process(es) running from /opt/caf\\xe9/:\n"
            "  10  root  /opt/caf\\xe9/a\n"
            "    warning: it belongs to the systemd service \\xc2\\x9b\\xff.service\n"
            "  11  ann  /opt/caf\\xe9/b\\x0ac\n"
            "Left alone: 12  /opt/caf\\xe9/host (it is this corvane-host)\n"
            "Could not inspect 3 process(es) (Permission denied: 2, gone: 1): their programs are "
            "unknown; a complete check needs root.\n"
            "1 other process(es) using files of the installation (not signalled):\n"
            "  13  /usr/bin/tool (runs code of the installation)\n    /opt/caf\\xe9/lib/x.so\n"
            "    /opt/caf\\xe9/y\n"
            "Critical prerequisite raised: yes\n"
            "Sent SIGTERM to 1 process(es).\n"
            "  20  /opt/p: still running\n  21  /opt/p: not permitted (Operation not permitted)\n"
            "  \"a\\x1b\"  : left alone (not a process ID)\n"
            "  22  /opt/p: sent SIGTERM; its parent 30 (s\\xe9) may start it again\n"
            "kill_corvane returned 0\n");
  check_outcome clear;
  clear.root = "/opt/c/";
  clear.using_files.emplace();
  clear.uninspected = {{"not proven: x", 1}};
  clear.hidden = "this /proc hides other users' processes (hidepid=2)";
  clear.as_root = true;  // root is told the reasons, not to become root
  clear.index_timed_out = true;
  clear.not_indexed = {"/opt/c/m\n"};
  EXPECT_EQ(render_text(clear, kill_outcome{}),
            "No corvane process is running from /opt/c/.\n"
            "Could not inspect 1 process(es) (not proven: x: 1): their programs are unknown.\n"
            "Could not see every process: this /proc hides other users' processes (hidepid=2).\n"
            "Could not index every file of the installation: a file system it leads to did not "
            "answer in time.\nNot indexed, another mount: /opt/c/m\\x0a\n"
            "No other process uses files of the installation.\n"
            "Critical prerequisite raised: no\nNo process to end.\nkill_corvane returned -1\n");
}

// What the end-to-end tests cannot reach: hexadecimal beside text that is not UTF-8, a unit.
TEST(report, json_for_scripts_keeps_every_byte) {
  const auto [check, kill] = every_part();
  const std::string text = render_json("/p.so", check, kill);
  EXPECT_TRUE(std::all_of(text.begin(), text.end(), [](char c) { return c > 0 && c < 0x7f; }));
  const auto document = nlohmann::json::parse(text);
  EXPECT_EQ(document["schema_version"], 2);
  EXPECT_FALSE(document.contains("plugin_hex"));
  const auto& in = document["check"];
  EXPECT_EQ(in["root_hex"], "2f6f70742f636166e92f");
  EXPECT_EQ(in["processes"][0]["unit_hex"], "c29bff2e73657276696365");
  EXPECT_EQ(in["processes"][1], nlohmann::json::parse(R"({"pid": 11, "user": "ann", "warnings": [],
      "command": "/opt/caf\ufffd/b\nc", "command_hex": "2f6f70742f636166e92f620a63"})"));
  EXPECT_EQ(in["left_alone"][0]["reason"], "it is this corvane-host");
  EXPECT_EQ(in["uninspected"]["reasons"]["gone"], 1);
  EXPECT_EQ(in["using_files"][0]["files"][1]["path_hex"], "2f6f70742f636166e92f79");
  EXPECT_EQ(document["kill"]["processes"][2], nlohmann::json::parse(R"({"pid": null,
      "recorded": "a\u001b", "command": "", "outcome": "left alone", "reason": "not a process ID"})"));
  EXPECT_EQ(document["kill"]["processes"][3]["may_be_restarted_by"],
            nlohmann::json::parse(R"({"pid": 30, "command": "s\ufffd", "command_hex": "73e9"})"));
}

// The exit statuses and outcomes in order, each said as help2man reads a tagged paragraph at
// any width (docs/usage.txt holds the text itself).
TEST(help_footer, every_exit_status_and_outcome_within_the_width) {
  int next = exit_clear;
  for (const exit_status_meaning& entry : exit_status_meanings) {
    EXPECT_EQ(entry.status, next++);
  }
  EXPECT_EQ(next, exit_signalled_after_failure + 1);
  for (const fate_words& entry : fate_table) {
    EXPECT_STREQ(words_of(entry.what), entry.words);
  }
  std::istringstream lines(help_footer(60));
  for (std::string line; std::getline(lines, line);) {
    const std::size_t indent = line.find_first_not_of(' ');
    EXPECT_TRUE(line.empty() || (indent == 0 && line.back() == ':') ||
                (line.size() <= 60 && (indent == 2 || indent == 6 || indent == 20)))
        << line;
  }
}

// Whatever a process or user chose reaches a terminal as inert text.
// Escapes read best beside the raw bytes they stand for.
// NOLINTBEGIN(modernize-raw-string-literal)
TEST(text, printable_escapes_what_a_terminal_would_obey) {
  for (const auto& [raw, shown] : std::vector<std::pair<std::string, std::string>>{
           {"/opt/c d", "/opt/c d"},
           {"a\nb\x1b[2J\x7f", "a\\x0ab\\x1b[2J\\x7f"},  // C0, DEL
           {"\xc2\x9b"
            "31m \xc2\x9d"
            "0;t\xc2\x9c",
            "\\xc2\\x9b31m \\xc2\\x9d0;t\\xc2\\x9c"},  // C1 in UTF-8
           {"\x9b\xe9\xff", "\\x9b\\xe9\\xff"},        // stray bytes
           {"\xc0\xaf \xed\xa0\x80 \xf4\x90\x80\x80",
            "\\xc0\\xaf \\xed\\xa0\\x80 \\xf4\\x90\\x80\\x80"},
           {"\xe2\x82", "\\xe2\\x82"},  // cut short
           {"a\\x41\\", "a\\\\x41\\\\"},
           {"caf\xc3\xa9 \xc2\xa0\xe2\x82\xac\xf0\x9f\x98\x80",
            "caf\xc3\xa9 \xc2\xa0\xe2\x82\xac\xf0\x9f\x98\x80"},
           {"\xc2\x9f \xe0\xa0\x80 \xf0\x90\x80\x80", "\\xc2\\x9f \xe0\xa0\x80 \xf0\x90\x80\x80"},
           // Format characters and separators: RLO, ZWSP, LINE SEPARATOR, a tag; the
           // characters around each range stay.
           {"a\xe2\x80\xae"
            "b\xe2\x80\x8b\xe2\x80\xa8\xf3\xa0\x80\x81",
            "a\\xe2\\x80\\xaeb\\xe2\\x80\\x8b\\xe2\\x80\\xa8\\xf3\\xa0\\x80\\x81"},
           {"\xe2\x80\xaf\xe2\x80\x8a\xef\xbb\xbf\xf3\xa0\x80\x9f\xf3\xa0\x82\x80",
            "\xe2\x80\xaf\xe2\x80\x8a\\xef\\xbb\\xbf\xf3\xa0\x80\x9f\xf3\xa0\x82\x80"},
       }) {
    EXPECT_EQ(printable(raw), shown) << shown;
  }
}
// NOLINTEND(modernize-raw-string-literal)

struct stat owned(uid_t uid, mode_t mode) {
  struct stat status {};
  status.st_uid = uid;
  status.st_mode = mode;
  return status;
}

// Which steps a host takes, as root (0) or as user 1000: directory owner and
// mode, the entry's owner, the caller | step | follow the entry as a link.
TEST(resolver, steps_and_links_a_host_follows) {
  for (const auto& [directory, entry, caller, steps, follows] :
       std::vector<std::tuple<struct stat, struct stat, uid_t, bool, bool>>{
           {owned(0, 040755), owned(1000, 0), 0, true, false},      // /home: root's alone
           {owned(0, 041777), owned(1000, 0), 0, false, false},     // /tmp: a user's entry
           {owned(0, 041777), owned(0, 0), 0, true, false},         // /tmp: root's link
           {owned(0, 040775), owned(1000, 0), 0, false, false},     // a group may write
           {owned(1000, 040755), owned(1000, 0), 0, true, false},   // a user's own
           {owned(1000, 040755), owned(1001, 0), 0, false, false},  // another's, in a user's
           {owned(1000, 040755), owned(0, 0), 0, true, true},       // root's, in a user's
           {owned(1000, 040755), owned(1001, 0), 1001, true, true},
       }) {
    SCOPED_TRACE(testing::Message() << directory.st_uid << " " << entry.st_uid << " " << caller);
    EXPECT_EQ(safe_transition(directory, entry, caller), steps);
    EXPECT_EQ(link_may_be_followed(directory, entry, caller), follows);
  }
  EXPECT_FALSE(lock_in_run(owned(0, 0100600), 0));
  EXPECT_TRUE(lock_in_run(owned(1000, 0100640), 0));
  EXPECT_FALSE(lock_in_run(owned(1000, 0100644), 1000));
}

}  // namespace
