#include <CLI/CLI.hpp>
#include <iostream>

#include "app/catalogue.h"
#include "cli/commands.h"
#include "cli/report.h"

namespace kryvane::cli {

void AddSelftestCommand(CLI::App& app, int* status) {
  auto* cmd = app.add_subcommand("selftest", "Run the known-answer test of every class");
  cmd->callback([status] {
    const bool all =
        RunSelfTests(CipherCatalogue(), HashCatalogue(), [](std::string_view name, bool ok) {
          std::cout << (ok ? "PASS  " : "FAIL  ") << name << "\n";
        });
    *status = all ? kExitOk : kExitFailed;
  });
}

}  // namespace kryvane::cli
