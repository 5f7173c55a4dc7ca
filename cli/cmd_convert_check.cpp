#include <unistd.h>

#include <CLI/CLI.hpp>
#include <iostream>

#include "app/age/convert.h"
#include "app/base/text_util.h"
#include "cli/convert_check.h"
#include "cli/keys.h"
#include "cli/report.h"

namespace kryvane::cli {
namespace {

// The identities in the files named, read as secrets.
void ReadIdentities(const ConvertCheckCommand& check, bool fromStdin, age::Unlock& unlock) {
  for (const std::string& path : check.identityFiles) {
    if (path == "-" && fromStdin) Usage("standard input cannot carry two things at once");
    const Secret text = ReadSecretFile(path);
    try {
      for (age::Identity& id : age::ParseIdentities(text.View())) {
        unlock.identities.push_back(id);
      }
    } catch (const age::AgeError& e) {
      Failure(path + ": " + e.what());
    }
  }
}

// The age passphrase: from the passphrase options, or asked once on the terminal.
Secret CheckPassphrase(const PassphraseOptions& passphrase, bool fromStdin) {
  if (passphrase.FromFile()) {
    if (passphrase.file == "-" && fromStdin) {
      Usage("standard input cannot carry two things at once");
    }
    return ReadPassphraseFile(passphrase.file);
  }
  if (passphrase.FromEnv()) return SecretFromEnv(passphrase.env);
  const UniqueFd tty = OpenTerminal("identity or passphrase");
  std::optional<Secret> asked = AskHidden(tty.Get(), "age passphrase: ");
  if (!asked) Failure("no passphrase given (end of input on the terminal)");
  return std::move(*asked);
}

}  // namespace

int ConvertCheckCommand::Run(const PassphraseOptions& passphrase) const {
  age::Unlock unlock;
  const bool fromStdin = file == "-";
  if (!identityFiles.empty()) {
    if (passphrase.FromFile() || passphrase.FromEnv()) {
      Usage("give identities or a passphrase, not both");
    }
    ReadIdentities(*this, fromStdin, unlock);
  } else {
    const Secret text = CheckPassphrase(passphrase, fromStdin);
    unlock.passphrase.emplace(text.View());
  }
  const std::string name = fromStdin ? "standard input" : file;
  const CheckOutcome outcome =
      CheckAgeFile(name, fromStdin ? std::optional<int>(STDIN_FILENO) : std::nullopt, unlock);
  if (outcome.error) Failure(outcome.error->Describe(), HintsFor(outcome.error->kind));
  std::cout << EscapeControls(name) << ": OK (" << outcome.bytes << " bytes authenticated"
            << (outcome.armored ? ", armored" : "") << ")\n";
  return kExitOk;
}

void AddConvertCheckOptions(CLI::App& cmd, ConvertCheckCommand& check) {
  cmd.add_option("--check", check.file,
                 "Authenticate the age FILE without writing its plaintext; exit 0 or 1")
      ->type_name("FILE");
  cmd.add_option("-i,--identity", check.identityFiles,
                 "For --check: a file of AGE-SECRET-KEY-1... identities (repeatable); without "
                 "one, the passphrase options or the terminal give the passphrase")
      ->type_name("FILE")
      ->allow_extra_args(false);
}

}  // namespace kryvane::cli
