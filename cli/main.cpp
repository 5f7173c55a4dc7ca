#include <csignal>
#include <iostream>

#include "cli/commands.h"
#include "cli/common.h"
#include "cli/parse_errors.h"
#include "kryvane/version.h"

int main(int argc, char** argv) {
  namespace cli = kryvane::cli;
  // A closed pipe on standard output is a write error to report, not a silent death.
  std::signal(SIGPIPE, SIG_IGN);
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
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);
    const cli::CommandError error = cli::DescribeParseError(app, e);
    cli::PrintError(error.message, error.hints);
    return error.status;
  } catch (const cli::CommandError& e) {
    cli::PrintError(e.message, e.hints);
    return e.status;
  }
  return status;
}
