#include <memory>

#include "cli/commands.h"
#include "cli/file_command.h"

namespace kryvane::cli {

void AddDecryptCommand(CLI::App& app, int* status) {
  auto command = std::make_shared<FileCommand>();
  command->direction = JobDirection::kDecrypt;
  CLI::App* cmd = AddFileCommand(app, "decrypt", "Decrypt SOURCE into TARGET", command, status);
  cmd->footer(
      "A wrong passphrase, cipher or hash cannot be detected: it gives garbage, not an "
      "error.\n\nExample:\n  kryvane-cli decrypt --settings report.pdf-settings.txt "
      "report.pdf.enc report.pdf\n");
}

}  // namespace kryvane::cli
