// SPDX-License-Identifier: MIT
// corvane-host: loads libcorvane-kill as an installer does and runs it
// against the live process table.
#include <sys/resource.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>

#include "commands/commands.h"
#include "commands/help_footer.h"
#include "commands/seconds.h"

namespace {

// Plain decimal seconds from 0 to `most`; CLI11's own Range takes NaN and
// hexadecimal, and calls anything else "not in range".
CLI::Validator seconds_from_0_to(double most) {
  return {[most](const std::string& text) { return corvane_host::seconds_error(text, most); },
          "0 to " + std::to_string(static_cast<int>(most))};
}

int parse_and_run(int argc, char** argv) {
  using namespace corvane_host;
  options options;

  CLI::App app{
      "Loads libcorvane-kill as an installer does and runs it on this machine's processes.",
      "corvane-host"};
  app.set_version_flag("--version", CORVANE_VERSION);
  app.set_help_all_flag("--help-all", "Print the help of every command and exit");
  app.require_subcommand(1);
  app.add_option("--plugin", options.plugin,
                 "the plug-in to load (default: the library installed with this program)")
      ->type_name("FILE");
  app.add_option("--session", options.session_file,
                 "keep the installer session in FILE between invocations")
      ->type_name("FILE");
  app.add_option("--log", options.log_file, "append the plug-in's log to FILE (default: stderr)")
      ->type_name("FILE");
  app.add_flag("--json", options.json, "print the result as JSON");
  app.add_option("--lock-timeout", options.lock_timeout_seconds,
                 "wait at most SECONDS for another corvane-host's lock on the session")
      ->type_name("SECONDS")
      ->check(seconds_from_0_to(86400))
      ->capture_default_str();
  app.add_option("--fs-timeout", options.fs_timeout_seconds,
                 "wait at most SECONDS in all for file systems that do not answer (a FUSE "
                 "server, a dead NFS server), and a fifth of it for any one process or the "
                 "installation's index; what was not answered in time is counted as not inspected")
      ->type_name("SECONDS")
      ->check(seconds_from_0_to(3600))
      ->capture_default_str();

  CLI::App* check = app.add_subcommand("check", "record the corvane processes running from --root");
  CLI::App* kill = app.add_subcommand("kill", "send SIGTERM to the processes a check recorded");
  CLI::App* run = app.add_subcommand("run", "check, then kill");
  for (CLI::App* root_taker : {check, run}) {
    root_taker->add_option("--root", options.root, "the corvane installation")
        ->type_name("DIR")
        ->required();
  }
  kill->add_option("--root", options.root,
                   "the installation the session must be about (needed for a session file "
                   "another user owns)")
      ->type_name("DIR");
  for (CLI::App* root_taker : {check, run}) {
    root_taker->add_flag("--files-in-use", options.files_in_use,
                         "also list, without signalling them, the other processes that map or "
                         "hold open files of the installation (\"runs code of the "
                         "installation\" where one is mapped executable)");
  }
  for (CLI::App* ender : {kill, run}) {
    ender
        ->add_option("--wait", options.wait_seconds,
                     "wait up to SECONDS for the signalled processes to end, then look again for "
                     "programs that came back")
        ->type_name("SECONDS")
        ->check(seconds_from_0_to(3600));
    ender->add_flag("--force", options.force,
                    "send SIGKILL to what outlives --wait, through the same verified pidfds");
  }
  for (CLI::App* command : {check, kill, run}) {
    command->fallthrough();
  }
  // Set after the commands, which would inherit it: once, at the end of --help.
  app.footer(help_footer());

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return app.exit(error) == 0 ? exit_clear : exit_usage;
  }
  options.command = check->parsed()  ? command::check
                    : kill->parsed() ? command::kill
                                     : command::run;
  return run_command(options);
}

}  // namespace

int main(int argc, char** argv) {
  // A report into a closed pipe is a failure to say, not a silent death. No
  // program this host starts inherits the setting: it starts none.
  std::signal(SIGPIPE, SIG_IGN);
  // Descriptors are no scarce resource here: take the whole hard limit.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  try {
    return parse_and_run(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "corvane-host: %s\n", error.what());
    return corvane_host::exit_error;
  }
}
