#include "cli/file_command.h"

#include <unistd.h>

#include "cli/commands.h"

namespace kryvane::cli {

int FileCommand::Run() const {
  const bool fromStdin = source == "-";
  const bool toStdout = target == "-";
  if (fromStdin && deleteSource) Usage("--delete-source needs a named source file, not \"-\"");
  if (fromStdin && saveSettings) Usage("--save-settings needs a named source file, not \"-\"");

  const KeyChoice key = ObtainKey(algorithms, passphrase, fromStdin);
  ProgressBar bar(progress.Enabled());

  JobRequest request;
  request.direction = direction;
  request.sourcePath = fromStdin ? "standard input" : source;
  request.targetPath = toStdout ? "standard output" : target;
  if (fromStdin) request.sourceFd = STDIN_FILENO;
  if (toStdout) request.targetFd = STDOUT_FILENO;
  request.passphrase = key.passphrase;
  request.retypedPassphrase = key.retyped;
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

  const JobOutcome outcome = RunFileJob(request);
  if (outcome.result == JobResult::kMismatch) {
    Failure("the two passphrases differ; nothing was written", {"type the same passphrase twice"});
  }
  if (outcome.result == JobResult::kFailure) {
    std::vector<std::string> hints;
    const JobError& e = *outcome.error;
    if (e.cause == "it is the same file as the source") {
      hints.emplace_back("write to another file; it replaces the target once it is complete");
    }
    Failure(e.Describe(), hints);
  }
  if (outcome.warning) PrintWarning(outcome.warning->Describe() + " (the source was kept)");
  return kExitOk;
}

CLI::App* AddFileCommand(CLI::App& app, const std::string& name, const std::string& description,
                         std::shared_ptr<FileCommand> command, int* status) {
  CLI::App* cmd = app.add_subcommand(name, description);
  cmd->add_option("SOURCE", command->source, "File to read, or \"-\" for standard input")
      ->required();
  cmd->add_option("TARGET", command->target,
                  "File to write (replaced once complete), or \"-\" for standard output")
      ->required();
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
