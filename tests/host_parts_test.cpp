// SPDX-License-Identifier: MIT
// The reference host's session file format and path services.
#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>
#include <tuple>

#include "interpreters.h"
#include "paths.h"
#include "seconds.h"
#include "session.h"

namespace {

using corvane_host::decode_session;
using corvane_host::encode_session;

TEST(session_format, round_trips_every_byte) {
  std::string all_bytes;
  for (int byte = 0; byte < 256; ++byte) {
    all_bytes += static_cast<char>(byte);
  }
  session_t session;
  session.values = {{"", ""},
                    {"A=B", "x=y%z"},
                    {"corvane_killer_RUNNING_PROC_NAMES", "\n/opt/a;b\n/opt/c\n"},
                    {all_bytes, all_bytes}};
  const std::string text = encode_session(session);
  EXPECT_EQ(decode_session(text).values, session.values);
  // Each key is one line, whatever its bytes.
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1 + 4);
}

TEST(session_format, rejects_what_it_did_not_write) {
  for (const char* text :
       {"", "other header\n", "corvane-host session 1\nA\n", "corvane-host session 1\nA=1",
        "corvane-host session 1\nA=%4\n", "corvane-host session 1\nA=%zz\n",
        "corvane-host session 1\nA=1\nA=2\n"}) {
    EXPECT_THROW(decode_session(text), corvane_host::session_error) << testing::PrintToString(text);
  }
}

TEST(paths, normal_path_is_absolute_and_lexically_normal) {
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  const std::string here = cwd;
  for (const auto& [in, out] :
       std::vector<std::pair<std::string, std::string>>{{"/opt/corvane/", "/opt/corvane"},
                                                        {"/opt//corvane/./bin/..", "/opt/corvane"},
                                                        {"/", "/"},
                                                        {"/..", "/"},
                                                        {"rel/x/", here + "/rel/x"}}) {
    EXPECT_EQ(corvane_host::normal_path(in), out) << in;
  }
}

TEST(paths, directory_of_keeps_a_directory_and_takes_a_files_parent) {
  EXPECT_EQ(corvane_host::directory_of("/tmp"), "/tmp/");
  EXPECT_EQ(corvane_host::directory_of("/bin/sh"), "/bin/");
  EXPECT_EQ(corvane_host::directory_of("/nonexistent/corvane"), "/nonexistent/");
  EXPECT_EQ(corvane_host::directory_of("/"), "/");
}

TEST(seconds, plain_decimal_seconds_in_range_or_a_message_that_says_what_is_wrong) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"0", ""},
      {"30", ""},
      {"0.5", ""},
      {"3600", ""},
      {"3600.5", "is more than 3600 seconds"},
      {"nan", "NaN is not"},
      {"-NaN", "NaN is not"},
      {"inf", "endless"},
      {"Infinity", "endless"},
      {"0x10", "hexadecimal"},
      {"-1", "negative"},
      {"10s", "\"s\" after the number"},
      {"1e3", "\"e3\" after the number"},
      {"1.", "\".\" after the number"},
      {".5", "is not a number"},
      {"+5", "is not a number"},
      {"", "empty"},
      {"ten", "is not a number"}};
  for (const auto& [text, message] : cases) {
    const std::string error = corvane_host::seconds_error(text, 3600);
    if (message.empty()) {
      EXPECT_EQ(error, "") << text;
    } else {
      EXPECT_NE(error.find(message), std::string::npos) << text << ": " << error;
    }
  }
}

TEST(paths, broad_roots_are_refused_and_installations_under_them_allowed) {
  const std::vector<std::string> homes = {"/home/ann/"};
  for (const char* refused : {"/", "/usr/", "/opt/", "/tmp/", "/lib64/", "/usr/bin/", "/usr/lib/",
                              "/usr/local/", "/usr/local/bin/", "/var/lib/", "/home/ann/"}) {
    EXPECT_NE(corvane_host::broad_root_reason(refused, homes), "") << refused;
  }
  for (const char* allowed : {"/opt/corvane/", "/usr/lib/corvane/", "/usr/local/lib/corvane/",
                              "/var/lib/corvane/", "/home/ann/corvane/", "/home/bob/", "/usrx/"}) {
    EXPECT_EQ(corvane_host::broad_root_reason(allowed, homes), "") << allowed;
  }
}

TEST(interpreters, the_file_an_interpreter_runs) {
  using args = std::vector<std::string>;
  const std::vector<std::tuple<std::string, args, std::optional<std::string>>> cases = {
      {"sh", {"/bin/sh", "/opt/c/run"}, "/opt/c/run"},
      {"bash", {"bash", "-e", "-o", "pipefail", "./run", "x"}, "./run"},
      {"dash", {"sh", "-c", "/opt/c/run"}, std::nullopt},
      {"bash", {"bash", "-ec", "/opt/c/run"}, std::nullopt},
      {"sh", {"sh"}, std::nullopt},
      {"python3.11", {"python3", "-u", "-W", "ignore", "/opt/c/agent.py"}, "/opt/c/agent.py"},
      {"python3", {"python3", "-m", "http.server"}, std::nullopt},
      {"perl", {"perl", "-w", "--", "/opt/c/x.pl"}, "/opt/c/x.pl"},
      {"perl", {"perl", "-e", "sleep 9"}, std::nullopt},
      {"node", {"node", "--require", "m", "/opt/c/app.js"}, "/opt/c/app.js"},
      {"java", {"java", "-Xmx1g", "-cp", "/x", "-jar", "/opt/c/app.jar", "a"}, "/opt/c/app.jar"},
      {"java", {"java", "-cp", "/opt/c/app.jar", "Main"}, std::nullopt},
      {"ld-linux-x86-64.so.2",
       {"/lib64/ld-linux-x86-64.so.2", "--library-path", "/x", "/opt/c/bin/c", "1"},
       "/opt/c/bin/c"},
      {"sleep", {"sleep", "/opt/c/run"}, std::nullopt},
      {"pythonista", {"pythonista", "/opt/c/run"}, std::nullopt}};
  for (const auto& [name, arguments, file] : cases) {
    EXPECT_EQ(corvane_host::script_argument(name, arguments), file)
        << name << " " << testing::PrintToString(arguments);
  }
}

}  // namespace
