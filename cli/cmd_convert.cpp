// `convert`: a legacy file becomes an age file in one step (one file, or a batch); with --check
// it hands over to ConvertCheckCommand.
#include <CLI/CLI.hpp>
#include <memory>

#include "app/age/convert.h"
#include "cli/commands.h"
#include "cli/convert_check.h"
#include "cli/file_batch.h"
#include "cli/job_front.h"
#include "cli/keys.h"
#include "cli/options.h"
#include "cli/report.h"
#include "cli/signals.h"

namespace kryvane::cli {
namespace {

struct ConvertCommand {
  // SOURCE TARGET; or, with an output folder, every SOURCE.
  std::vector<std::string> paths;
  BatchOptions batch;
  AlgorithmOptions algorithms;
  PassphraseOptions passphrase;
  ProgressOptions progress;
  std::vector<std::string> recipients;
  std::vector<std::string> recipientFiles;
  bool toPassphrase = false;
  std::string newPassphraseFile;
  std::string newPassphraseEnv;
  CLI::Option* newFileOption = nullptr;
  CLI::Option* newEnvOption = nullptr;
  int workFactor = age::kDefaultWorkFactor;
  bool armor = false;
  bool verify = false;
  bool deleteSource = false;
  bool force = false;
  bool overwrite = false;
  ConvertCheckCommand check;

  int Run() const;
  int RunBatch() const;
  int RunCheck() const;
  bool ByPassphrase() const;
  AgeTarget Target(bool stdinTaken) const;
  void SetConversion(JobRequest& request, TargetEncoder& encoder) const;
};

// The passphrase of the age file: from a file, a variable, or asked twice.
Secret NewPassphrase(const ConvertCommand& c, bool stdinTaken) {
  const bool fromFile = c.newFileOption->count() > 0;
  const bool fromEnv = c.newEnvOption->count() > 0;
  if (fromFile && fromEnv)
    Usage("give at most one of --new-passphrase-file and --new-passphrase-env");
  Secret out;
  if (fromFile) {
    if (c.newPassphraseFile.empty()) Usage("--new-passphrase-file needs a file name");
    if (c.newPassphraseFile == "-" && stdinTaken) {
      Usage("standard input cannot carry two things at once");
    }
    out = ReadPassphraseFile(c.newPassphraseFile);
  } else if (fromEnv) {
    out = SecretFromEnv(c.newPassphraseEnv);
  } else {
    const UniqueFd tty = OpenTerminal("new passphrase");
    auto first = AskHidden(tty.Get(), "New age passphrase: ");
    auto again = first ? AskHidden(tty.Get(), "Retype new age passphrase: ") : std::nullopt;
    if (!first || !again) Failure("no new passphrase given (end of input on the terminal)");
    if (*first != *again) {
      Failure("the two new passphrases differ; nothing was written",
              {"type the same passphrase twice"});
    }
    out = std::move(*first);
  }
  if (out.empty()) Failure("the new passphrase is empty");
  return out;
}

std::vector<age::Recipient> Recipients(const ConvertCommand& c) {
  std::vector<age::Recipient> all;
  for (const std::string& text : c.recipients) {
    const auto r = age::ParseRecipient(text);
    if (!r) {
      Usage("\"" +
                (text.starts_with("AGE-SECRET-KEY-") ? std::string("AGE-SECRET-KEY-...") : text) +
                "\" is not an age1 X25519 recipient",
            {"age-keygen -y KEYFILE prints the recipient of a key"});
    }
    all.push_back(*r);
  }
  for (const std::string& path : c.recipientFiles) {
    const Secret text = ReadSecretFile(path);
    try {
      for (const age::Recipient& r : age::ParseRecipients(text.View())) {
        all.push_back(r);
      }
    } catch (const age::AgeError& e) {
      Failure(path + ": " + e.what());
    }
  }
  return all;
}

bool ConvertCommand::ByPassphrase() const {
  return toPassphrase || newFileOption->count() > 0 || newEnvOption->count() > 0;
}

// Who can open the age files, and how hard the scrypt stanza is: checked and obtained once.
AgeTarget ConvertCommand::Target(bool stdinTaken) const {
  const bool byPassphrase = ByPassphrase();
  const bool byKey = !recipients.empty() || !recipientFiles.empty();
  if (byPassphrase == byKey) {
    Usage("give recipients (-r/-R) or --to-passphrase, one of the two",
          {"an age file opens either with keys or with one passphrase"});
  }
  if (!byPassphrase && workFactor != age::kDefaultWorkFactor) {
    Usage("--work-factor belongs to --to-passphrase");
  }
  AgeTarget target;
  if (byKey) target.recipients = Recipients(*this);
  if (byPassphrase) {
    target.newPassphrase = NewPassphrase(*this, stdinTaken);
    target.workFactor = workFactor;
  }
  target.armor = armor;
  return target;
}

// What makes a decryption a conversion: the age encoder, the guard that refuses garbage unless
// forced, the read-back.
void ConvertCommand::SetConversion(JobRequest& request, TargetEncoder& encoder) const {
  request.direction = JobDirection::kDecrypt;
  request.encoder = &encoder;
  request.refuseSuspectResult = !force;
  request.verifyTarget = verify;
  request.deleteSource = deleteSource;
}

std::unique_ptr<TargetEncoder> MakeEncoder(const AgeTarget& target) {
  try {
    return MakeAgeEncoder(target);
  } catch (const age::AgeError& e) {
    Failure(e.what());
  }
}

int ConvertCommand::Run() const {
  if (!batch.outputDir.empty()) return RunBatch();
  if (paths.size() != 2) {
    Usage(paths.size() < 2 ? "convert needs SOURCE and TARGET (or --check FILE)"
                           : "give one SOURCE and one TARGET, or --output-dir DIR and SOURCEs");
  }
  if (!check.identityFiles.empty()) Usage("-i/--identity belongs to --check");
  if (batch.recursive || batch.useSettings || overwrite) {
    Usage("--recursive, --use-settings and --overwrite go with --output-dir");
  }
  const std::string& source = paths[0];
  const std::string& target = paths[1];
  const bool fromStream = NamedStream(source, true);
  if ((fromStream || NamedStream(target, false)) && deleteSource) {
    Usage("--delete-source needs a named source and a named target, not \"-\"",
          {"the source is deleted only once the age file is verified on disk"});
  }

  JobRequest request;
  SetJobFiles(request, source, target);
  KeyChoice key = ObtainKey(algorithms, passphrase, IsStandardInput(source));
  if (!fromStream) SettleSettingsEncoding(key, source);
  SetJobKey(request, key);
  const std::unique_ptr<TargetEncoder> encoder =
      MakeEncoder(Target(IsStandardInput(source) || IsStandardInput(passphrase.file)));
  SetConversion(request, *encoder);
  return RunSingleJob(request, progress.Enabled(), source);
}

// A folder of legacy files into a folder of age files, each file on its own, as the batch of
// encrypt and decrypt does.
int ConvertCommand::RunBatch() const {
  if (!check.identityFiles.empty()) Usage("-i/--identity belongs to --check");
  BatchOptions options = batch;
  options.convert = true;
  options.force = overwrite;
  const BatchCommand command{JobDirection::kDecrypt, paths, options, algorithms, passphrase,
                             deleteSource,           false};
  RefuseStandardStreams(paths);
  const AgeTarget target = Target(IsStandardInput(passphrase.file));
  return RunFileBatch(command, &StopRequested(), progress.Enabled(), [&](JobRequest& request) {
    auto encoder = MakeEncoder(target);
    SetConversion(request, *encoder);
    return encoder;
  });
}

// --check with none of the conversion's options.
int ConvertCommand::RunCheck() const {
  if (!paths.empty() || !batch.outputDir.empty()) Usage("--check takes only the age file");
  if (!recipients.empty() || !recipientFiles.empty() || toPassphrase || deleteSource || verify) {
    Usage("--check takes -i/--identity or a passphrase, nothing to write with");
  }
  return check.Run(passphrase);
}

}  // namespace

void AddConvertCommand(CLI::App& app, int* status) {
  auto c = std::make_shared<ConvertCommand>();
  CLI::App* cmd = app.add_subcommand(
      "convert", "Re-encrypt a legacy SOURCE into the age file TARGET, or --check an age file");
  c->batch.suffix = ".age";
  cmd->add_option("SOURCE TARGET", c->paths,
                  "Legacy file to read (\"-\": standard input) and age file to write (replaced "
                  "once complete; \"-\": standard output); with --output-dir, the SOURCE files "
                  "and folders");
  cmd->add_option("--output-dir", c->batch.outputDir,
                  "Convert every SOURCE into this folder, each file on its own")
      ->type_name("DIR");
  cmd->add_flag("--recursive", c->batch.recursive,
                "With --output-dir: the files in SOURCE folders, keeping their relative paths "
                "(-r is a recipient here)");
  cmd->add_option("--suffix", c->batch.suffix,
                  "With --output-dir: added to the target names (default .age)")
      ->type_name("TEXT");
  cmd->add_option("--legacy-suffix", c->batch.legacySuffix,
                  "With --output-dir: removed from the source names first (default .kry)")
      ->type_name("TEXT");
  cmd->add_option("-j,--jobs", c->batch.jobs,
                  "With --output-dir: files converted at once (default: one per core)")
      ->type_name("N")
      ->check(CLI::Range(1u, 256u));
  cmd->add_flag("--overwrite", c->overwrite, "With --output-dir: replace age files that exist");
  cmd->add_flag("--use-settings", c->batch.useSettings,
                "With --output-dir: each file's key from the settings file beside it (NAME-"
                "settings.txt for the plaintext name NAME), else from the passphrase options");
  AddCipherOption(*cmd, c->algorithms);
  AddHashOption(*cmd, c->algorithms);
  AddPassphraseOptions(*cmd, c->passphrase);
  cmd->add_option("-r,--recipient", c->recipients, "An age1... X25519 recipient (repeatable)")
      ->type_name("RECIPIENT")
      ->allow_extra_args(false);
  cmd->add_option("-R,--recipients-file", c->recipientFiles,
                  "A file of recipients, one a line, # comments (repeatable)")
      ->type_name("FILE")
      ->allow_extra_args(false);
  cmd->add_flag("--to-passphrase", c->toPassphrase,
                "Encrypt to a new passphrase (scrypt), asked twice on the terminal");
  c->newFileOption = cmd->add_option("--new-passphrase-file", c->newPassphraseFile,
                                     "The new passphrase is the file's text, less one line end")
                         ->type_name("FILE");
  c->newEnvOption = cmd->add_option("--new-passphrase-env", c->newPassphraseEnv,
                                    "The new passphrase is the variable's value")
                        ->type_name("VAR");
  cmd->add_option("--work-factor", c->workFactor,
                  "scrypt work factor: log2 of N, 1-22 (default 18, as age uses)")
      ->check(CLI::Range(1, age::kMaxWorkFactor));
  cmd->add_flag("-a,--armor", c->armor, "Write the PEM text form");
  cmd->add_flag("--verify", c->verify,
                "Read the age file back from the disk and match it before it replaces TARGET");
  cmd->add_flag("--delete-source", c->deleteSource,
                "Delete the source once the age file is written, flushed and verified (implies "
                "--verify)");
  cmd->add_flag("--force", c->force,
                "Convert even when the decryption looks random (wrong passphrase, cipher or hash)");
  AddProgressOptions(*cmd, c->progress);
  AddConvertCheckOptions(*cmd, c->check);
  cmd->footer(
      "The legacy key options are those of decrypt. No plaintext touches a disk, and the source "
      "is deleted only after the age file has been read back from the disk and "
      "matched.\n\nExamples:\n"
      "  kryvane-cli convert --settings report.pdf-settings.txt -r age1... report.pdf.enc "
      "report.pdf.age\n"
      "  kryvane-cli convert --check report.pdf.age -i key.txt\n"
      "  kryvane-cli convert --use-settings -R recipients.txt --recursive --output-dir converted "
      "legacy/\n");
  cmd->callback([c, status] { *status = c->check.Asked() ? c->RunCheck() : c->Run(); });
}

}  // namespace kryvane::cli
