#include "cli/file_command.h"

#include <CLI/CLI.hpp>

#include "cli/file_batch.h"
#include "cli/job_front.h"
#include "cli/keys.h"
#include "cli/report.h"
#include "cli/signals.h"

namespace kryvane::cli {

int FileCommand::Run() const {
  if (!batch.outputDir.empty()) {
    return RunFileBatch(
        {direction, paths, batch, algorithms, passphrase, deleteSource, saveSettings},
        &StopRequested(), progress.Enabled());
  }
  if (paths.size() != 2) {
    Usage(paths.size() < 2 ? "SOURCE and TARGET are required"
                           : "give one SOURCE and one TARGET, or --output-dir DIR and SOURCEs");
  }
  const std::string& source = paths[0];
  const std::string& target = paths[1];
  const bool fromStream = NamedStream(source, true);
  const bool toStream = NamedStream(target, false);
  if (fromStream && deleteSource) Usage("--delete-source needs a named source file, not \"-\"");
  if (fromStream && saveSettings) Usage("--save-settings needs a named source file, not \"-\"");
  if (toStream && deleteSource) {
    Usage("--delete-source needs a named target file, not \"-\"",
          {"the source is deleted only once the target is safely in a file on disk"});
  }

  JobRequest request;
  request.direction = direction;
  SetJobFiles(request, source, target);
  KeyChoice key = ObtainKey(algorithms, passphrase, IsStandardInput(source));
  if (direction == JobDirection::kDecrypt && !fromStream) SettleSettingsEncoding(key, source);
  SetJobKey(request, key);
  request.deleteSource = deleteSource;
  request.saveSettings = saveSettings;
  return RunSingleJob(request, progress.Enabled(), source);
}

CLI::App* AddFileCommand(CLI::App& app, const std::string& name, const std::string& description,
                         std::shared_ptr<FileCommand> command, int* status) {
  CLI::App* cmd = app.add_subcommand(name, description);
  cmd->add_option("SOURCE TARGET", command->paths,
                  "File to read (\"-\": standard input) and file to write (replaced once "
                  "complete; \"-\": standard output); with --output-dir, the SOURCE files and "
                  "folders")
      ->required();
  BatchOptions& batch = command->batch;
  cmd->add_option("--output-dir", batch.outputDir,
                  "Process every SOURCE into this folder, each file on its own")
      ->type_name("DIR");
  cmd->add_flag("-r,--recursive", batch.recursive,
                "With --output-dir: the files in SOURCE folders, keeping their relative paths");
  cmd->add_option("--suffix", batch.suffix,
                  "With --output-dir: added to encrypted names, removed from decrypted ones "
                  "(default .kry)")
      ->type_name("TEXT");
  cmd->add_option("-j,--jobs", batch.jobs,
                  "With --output-dir: files processed at once (default: one per core)")
      ->type_name("N")
      ->check(CLI::Range(1u, 256u));
  cmd->add_flag("--force", batch.force, "With --output-dir: replace targets that exist");
  AddCipherOption(*cmd, command->algorithms);
  AddHashOption(*cmd, command->algorithms);
  AddPassphraseOptions(*cmd, command->passphrase);
  cmd->add_flag("--delete-source", command->deleteSource,
                "Delete the source after success (never after a failure)");
  AddProgressOptions(*cmd, command->progress);
  cmd->callback([command, status] { *status = command->Run(); });
  return cmd;
}

}  // namespace kryvane::cli
