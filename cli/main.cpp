#include <CLI/CLI.hpp>
#include <cerrno>
#include <csignal>
#include <exception>
#include <iostream>
#include <new>

#include "app/base/io.h"
#include "app/base/secret.h"
#include "cli/commands.h"
#include "cli/parse_errors.h"
#include "cli/report.h"
#include "kryvane/version.h"

namespace {

int Run(int argc, char** argv);

// Output that could not be written (a full disk, a closed pipe) is a failure, whatever printed it.
int CheckStandardOutput(int status) {
  errno = 0;
  std::cout.flush();
  if (std::cout) return status;
  const int err = errno != 0 ? errno : EIO;
  kryvane::cli::PrintError(
      kryvane::FormatError("standard output", "write", kryvane::ErrnoText(err)), {});
  return kryvane::cli::kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
  namespace cli = kryvane::cli;
  // Before anything is opened: a closed standard descriptor must not be handed to a target.
  kryvane::EnsureStandardDescriptors();
  // The process holds passphrases and keys: no core dump may keep them.
  kryvane::MakeProcessUndumpable();
  // A closed pipe on standard output is a write error to report, not a silent death.
  std::signal(SIGPIPE, SIG_IGN);
  try {
    return CheckStandardOutput(Run(argc, argv));
  } catch (const std::bad_alloc&) {
    cli::PrintError("out of memory", {});
  } catch (const std::exception& e) {
    cli::PrintError(e.what(), {});
  } catch (...) {
    cli::PrintError("unexpected failure", {});
  }
  return cli::kExitFailed;
}

namespace {

// Whether the last command given needs a command after it and got only other words instead.
bool UnknownCommandGiven(CLI::App& app) {
  CLI::App* last = &app;
  while (!last->get_subcommands().empty()) last = last->get_subcommands().front();
  return last->get_require_subcommand_min() > 0 && !last->remaining().empty();
}

int Run(int argc, char** argv) {
  namespace cli = kryvane::cli;
  CLI::App app{"kryvane-cli: encrypt and decrypt files, compatible with Kryvane 2.0 files"};
  app.name("kryvane-cli");
  app.require_subcommand(1);
  app.set_version_flag("--version", "kryvane-cli " KRYVANE_VERSION);
  app.footer(
      "Exit status: 0 on success, 1 when the job failed, 2 on a usage error.\n"
      "The passphrase is never taken from the command line. See kryvane-cli(1).\n");
  int status = cli::kExitOk;
  cli::AddEncryptCommand(app, &status);
  cli::AddDecryptCommand(app, &status);
  cli::AddIdentifyCommand(app, &status);
  cli::AddHashCommand(app, &status);
  cli::AddTextCommand(app, &status);
  cli::AddListCommand(app, &status);
  cli::AddSelftestCommand(app, &status);
  cli::AddConvertCommand(app, &status);
  cli::AddRecoverCommand(app, &status);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help or --version beside a word no command takes is still a usage error: a script must
    // not take "kryvane-cli NOSUCH --help" for a command that exists.
    if (e.get_exit_code() == 0 && !UnknownCommandGiven(app)) return app.exit(e);
    const cli::CommandError error = cli::DescribeParseError(app, e);
    cli::PrintError(error.message, error.hints);
    return error.status;
  } catch (const cli::CommandError& e) {
    cli::PrintError(e.message, e.hints);
    return e.status;
  }
  return status;
}

}  // namespace
