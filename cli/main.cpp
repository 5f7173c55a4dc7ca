#include <iostream>

#include "cli/commands.h"

int main(int argc, char** argv) {
  CLI::App app{"kryvane-cli: encrypt and decrypt files, compatible with Kryvane 2.0 files"};
  app.require_subcommand(1);
  int status = kryvane::cli::kExitOk;
  kryvane::cli::AddListCommand(app, &status);
  kryvane::cli::AddSelftestCommand(app, &status);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? kryvane::cli::kExitOk : kryvane::cli::kExitUsage;
  }
  return status;
}
