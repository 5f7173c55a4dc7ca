#include <iostream>

#include "app/catalogue.h"
#include "cli/commands.h"

namespace kryvane::cli {

void AddSelftestCommand(CLI::App& app, int* status) {
  auto* cmd = app.add_subcommand("selftest", "Run the known-answer test of every class");
  cmd->callback([status] {
    bool all = true;
    auto report = [&all](std::string_view name, bool ok) {
      std::cout << (ok ? "PASS  " : "FAIL  ") << name << "\n";
      all = all && ok;
    };
    for (const CipherEntry& e : CipherCatalogue()) {
      report(e.cipher.algorithm, e.cipher.SelfTest());
    }
    for (const HashEntry& e : HashCatalogue()) {
      report(e.hash.algorithm, e.hash.SelfTest());
    }
    *status = all ? kExitOk : kExitFailed;
  });
}

}  // namespace kryvane::cli
