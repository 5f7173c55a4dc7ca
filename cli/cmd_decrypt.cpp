#include <CLI/CLI.hpp>
#include <memory>

#include "cli/commands.h"
#include "cli/file_command.h"

namespace kryvane::cli {

void AddDecryptCommand(CLI::App& app, int* status) {
  auto command = std::make_shared<FileCommand>();
  command->direction = JobDirection::kDecrypt;
  CLI::App* cmd = AddFileCommand(app, "decrypt", "Decrypt SOURCE into TARGET", command, status);
  cmd->add_flag("--use-settings", command->batch.useSettings,
                "With --output-dir: each file's passphrase, cipher and hash from NAME-settings.txt "
                "beside it (NAME: its decrypted name); files without one use the passphrase "
                "options, or are skipped");
  cmd->footer(
      "A wrong passphrase, cipher or hash cannot be detected: it gives garbage, not an "
      "error.\n\nExample:\n  kryvane-cli decrypt --settings report.pdf-settings.txt "
      "report.pdf.enc report.pdf\n"
      "  kryvane-cli decrypt --use-settings --output-dir plain -r encrypted/\n");
}

}  // namespace kryvane::cli
