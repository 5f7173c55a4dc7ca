#include "cli/file_command.h"

#include <unistd.h>

#include <atomic>

#include "cli/commands.h"

namespace kryvane::cli {

int FileCommand::Run() const {
  if (!batch.outputDir.empty()) {
    const StopSignals stopSignals;
    return RunBatchCommand(*this, &StopRequested());
  }
  if (paths.size() != 2) {
    Usage(paths.size() < 2 ? "SOURCE and TARGET are required"
                           : "give one SOURCE and one TARGET, or --output-dir DIR and SOURCEs");
  }
  const std::string& source = paths[0];
  const std::string& target = paths[1];
  const bool fromStdin = source == "-";
  const bool toStdout = target == "-";
  if (fromStdin && deleteSource) Usage("--delete-source needs a named source file, not \"-\"");
  if (fromStdin && saveSettings) Usage("--save-settings needs a named source file, not \"-\"");
  if (toStdout && deleteSource) {
    Usage("--delete-source needs a named target file, not \"-\"",
          {"the source is deleted only once the target is safely in a file on disk"});
  }

  KeyChoice key = ObtainKey(algorithms, passphrase, fromStdin);
  if (direction == JobDirection::kDecrypt && !fromStdin) SettleSettingsEncoding(key, source);
  ProgressBar bar(progress.Enabled());

  JobRequest request;
  request.direction = direction;
  request.sourcePath = fromStdin ? "standard input" : source;
  request.targetPath = toStdout ? "standard output" : target;
  if (fromStdin) request.sourceFd = STDIN_FILENO;
  if (toStdout) request.targetFd = STDOUT_FILENO;
  request.passphrase = key.passphrase.Clone();
  request.retypedPassphrase = key.retyped.Clone();
  request.encoding = key.encoding;
  request.cipherPosition = key.cipher->position;
  request.hashPosition = key.hash->position;
  request.deleteSource = deleteSource;
  request.saveSettings = saveSettings;
  if (bar.Enabled()) {
    request.progress = [&bar](uint64_t done, std::optional<uint64_t> total) {
      bar.Update(done, total);
    };
  }

  request.cancel = &StopRequested();

  JobOutcome outcome;
  {
    const StopSignals stopSignals;
    outcome = RunFileJob(request);
  }
  if (outcome.result == JobResult::kMismatch) {
    Failure("the two passphrases differ; nothing was written", {"type the same passphrase twice"});
  }
  if (outcome.result == JobResult::kFailure) {
    std::vector<std::string> hints;
    const JobError& e = *outcome.error;
    if (e.kind == JobErrorKind::kSameFile) {
      hints.emplace_back("write to another file; it replaces the target once it is complete");
    }
    if (e.kind == JobErrorKind::kCancelled) {
      hints.emplace_back("stopped by a signal; the target was left as it was and the source kept");
    }
    Failure(e.Describe(), hints);
  }
  const std::string identifyHint =
      "'kryvane-cli identify " + source + "' finds the cipher and hash that fit the passphrase";
  if (outcome.warning && outcome.warning->kind == JobErrorKind::kSourceKept &&
      outcome.resultSuspect) {
    // Garbage is no reason to fail the decryption, but the source stays, and scripts must know.
    PrintWarning(outcome.warning->Describe());
    PrintHint(identifyHint);
    return kExitFailed;
  }
  if (outcome.warning) {
    // The target is complete, but the source the user wanted gone is still there: scripts must
    // know.
    Failure(outcome.warning->Describe(), {outcome.warning->kind == JobErrorKind::kSourceKept
                                              ? "the target was written; the source was kept"
                                              : "the target was written"});
  }
  if (outcome.ResultLooksRandom()) {
    PrintWarning(request.targetPath +
                 ": the result looks like random bytes, so the passphrase, cipher or hash is "
                 "probably wrong");
    if (!fromStdin) PrintHint(identifyHint);
  }
  return kExitOk;
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
