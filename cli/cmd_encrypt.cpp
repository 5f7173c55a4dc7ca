#include <CLI/CLI.hpp>
#include <memory>

#include "cli/commands.h"
#include "cli/file_command.h"

namespace kryvane::cli {

void AddEncryptCommand(CLI::App& app, int* status) {
  auto command = std::make_shared<FileCommand>();
  command->direction = JobDirection::kEncrypt;
  CLI::App* cmd = AddFileCommand(app, "encrypt", "Encrypt SOURCE into TARGET", command, status);
  cmd->add_flag("--save-settings", command->saveSettings,
                "Write SOURCE-settings.txt beside the source: passphrase (in plain text), cipher "
                "and hash");
  cmd->footer(
      "The target is exactly as long as the source and records neither passphrase, cipher nor "
      "hash:\nkeep them, or they cannot be decrypted.\n\nExample:\n  kryvane-cli encrypt -c rc4 "
      "-H sha1 --passphrase-file pw.txt report.pdf report.pdf.enc\n"
      "  kryvane-cli encrypt --passphrase-file pw.txt --output-dir vault -r Documents/\n");
}

}  // namespace kryvane::cli
