// `convert --check FILE`: authenticates an age file under identities or a passphrase without
// writing its plaintext. Its options live on the `convert` command, which hands over to it.
#pragma once

#include <string>
#include <vector>

#include "cli/options.h"

namespace kryvane::cli {

struct ConvertCheckCommand {
  std::string file;  // --check FILE; "-" is standard input
  std::vector<std::string> identityFiles;

  bool Asked() const { return !file.empty(); }
  // The passphrase options are convert's: the legacy key's options give the age passphrase here.
  int Run(const PassphraseOptions& passphrase) const;
};

// --check and -i/--identity, on the convert command.
void AddConvertCheckOptions(CLI::App& cmd, ConvertCheckCommand& check);

}  // namespace kryvane::cli
