// `convert`: a legacy file becomes an age file in one step, and `convert --check` authenticates
// an age file without writing its plaintext.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>

#include "app/age_convert.h"
#include "app/file_util.h"
#include "cli/commands.h"
#include "cli/common.h"

namespace kryvane::cli {
namespace {

struct ConvertCommand {
  std::string source;
  std::string target;
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
  std::string check;
  std::vector<std::string> identityFiles;

  int Run() const;
  int RunCheck() const;
};

// Text that may be secret, erased when it goes.
struct SecretText {
  std::string text;
  ~SecretText() { EraseString(text); }
};

// Reads a whole file (or standard input for "-") into out, erasing the buffers it outgrows.
void ReadSecretFile(const std::string& path, std::string& out) {
  UniqueFd owned;
  int fd = STDIN_FILENO;
  if (path != "-") {
    owned = UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!owned) Failure(path + ": open: " + ErrnoText(errno));
    fd = owned.Get();
  }
  out.reserve(4096);
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      SecureZero(buffer, sizeof buffer);
      Failure(path + ": read: " + ErrnoText(errno));
    }
    if (got == 0) break;
    if (out.size() + std::size_t(got) > out.capacity()) {
      std::string larger;
      larger.reserve(2 * (out.size() + std::size_t(got)));
      larger = out;
      EraseString(out);
      out.swap(larger);
    }
    out.append(buffer, std::size_t(got));
  }
  SecureZero(buffer, sizeof buffer);
}

void StripLineEnd(std::string& s) {
  if (s.ends_with("\r\n")) {
    s.resize(s.size() - 2);
  } else if (s.ends_with('\n')) {
    s.pop_back();
  }
}

// One line from the terminal without echo; nothing at the end of input.
bool AskTerminal(int tty, const char* prompt, std::string& line) {
  struct termios saved;
  const bool terminal = ::tcgetattr(tty, &saved) == 0;
  if (terminal) {
    struct termios quiet = saved;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    quiet.c_lflag |= ECHONL;
    ::tcsetattr(tty, TCSAFLUSH, &quiet);
  }
  [[maybe_unused]] const ssize_t shown = ::write(tty, prompt, std::strlen(prompt));
  bool any = false;
  for (;;) {
    char c;
    const ssize_t got = ::read(tty, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || c == '\n') {
      any = any || got > 0;
      break;
    }
    any = true;
    line += c;
  }
  if (terminal) ::tcsetattr(tty, TCSANOW, &saved);
  if (line.ends_with('\r')) line.pop_back();
  return any;
}

UniqueFd OpenTerminal(const char* what) {
  UniqueFd tty(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!tty) {
    Failure(std::string("no ") + what + " given and no terminal to ask for one");
  }
  return tty;
}

// The passphrase of the age file: from a file, a variable, or asked twice.
void NewPassphrase(const ConvertCommand& c, bool stdinTaken, std::string& out) {
  const bool fromFile = c.newFileOption->count() > 0;
  const bool fromEnv = c.newEnvOption->count() > 0;
  if (fromFile && fromEnv)
    Usage("give at most one of --new-passphrase-file and --new-passphrase-env");
  if (fromFile) {
    if (c.newPassphraseFile.empty()) Usage("--new-passphrase-file needs a file name");
    if (c.newPassphraseFile == "-" && stdinTaken) {
      Usage("standard input cannot carry two things at once");
    }
    ReadSecretFile(c.newPassphraseFile, out);
    StripLineEnd(out);
  } else if (fromEnv) {
    const char* value = std::getenv(c.newPassphraseEnv.c_str());
    if (value == nullptr) Failure("the environment variable " + c.newPassphraseEnv + " is not set");
    out = value;
  } else {
    const UniqueFd tty = OpenTerminal("new passphrase");
    SecretText again;
    if (!AskTerminal(tty.Get(), "New age passphrase: ", out) ||
        !AskTerminal(tty.Get(), "Retype new age passphrase: ", again.text)) {
      Failure("no new passphrase given (end of input on the terminal)");
    }
    if (out != again.text) {
      Failure("the two new passphrases differ; nothing was written",
              {"type the same passphrase twice"});
    }
  }
  if (out.empty()) Failure("the new passphrase is empty");
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
    SecretText text;
    ReadSecretFile(path, text.text);
    try {
      for (const age::Recipient& r : age::ParseRecipients(text.text)) all.push_back(r);
    } catch (const age::AgeError& e) {
      Failure(path + ": " + e.what());
    }
  }
  return all;
}

int ConvertCommand::Run() const {
  if (source.empty() || target.empty()) Usage("convert needs SOURCE and TARGET (or --check FILE)");
  if (!identityFiles.empty()) Usage("-i/--identity belongs to --check");
  const bool fromStdin = source == "-";
  const bool toStdout = target == "-";
  if ((fromStdin || toStdout) && deleteSource) {
    Usage("--delete-source needs a named source and a named target, not \"-\"",
          {"the source is deleted only once the age file is verified on disk"});
  }
  const bool byPassphrase = toPassphrase || newFileOption->count() > 0 || newEnvOption->count() > 0;
  const bool byKey = !recipients.empty() || !recipientFiles.empty();
  if (byPassphrase == byKey) {
    Usage("give recipients (-r/-R) or --to-passphrase, one of the two",
          {"an age file opens either with keys or with one passphrase"});
  }
  if (!byPassphrase && workFactor != age::kDefaultWorkFactor) {
    Usage("--work-factor belongs to --to-passphrase");
  }

  ConvertRequest request;
  if (byKey) request.recipients = Recipients(*this);
  {
    const KeyChoice key = ObtainKey(algorithms, passphrase, fromStdin);
    if (key.passphrase != key.retyped) {
      Failure("the two passphrases differ; nothing was written",
              {"type the same passphrase twice"});
    }
    request.passphrase.assign(key.passphrase.data(), key.passphrase.size());
    request.encoding = key.encoding;
    request.cipherPosition = key.cipher->position;
    request.hashPosition = key.hash->position;
  }
  if (byPassphrase) {
    SecretText text;
    NewPassphrase(*this, fromStdin || passphrase.file == "-", text.text);
    request.newPassphrase = text.text;
    request.workFactor = workFactor;
  }
  request.sourcePath = fromStdin ? "standard input" : source;
  request.targetPath = toStdout ? "standard output" : target;
  if (fromStdin) request.sourceFd = STDIN_FILENO;
  if (toStdout) request.targetFd = STDOUT_FILENO;
  request.armor = armor;
  request.verify = verify;
  request.deleteSource = deleteSource;
  request.force = force;
  ProgressBar bar(progress.Enabled());
  if (bar.Enabled()) {
    request.progress = [&bar](uint64_t done, std::optional<uint64_t> total) {
      bar.Update(done, total);
    };
  }

  const ConvertOutcome outcome = RunConvert(request);
  if (outcome.error) {
    if (outcome.looksRandom) {
      Failure(outcome.error->Describe(),
              {"check the passphrase, -c and -H; the source was kept",
               "--force converts anyway, for a file that is itself random-looking"});
    }
    Failure(outcome.error->Describe(), {"the target was left as it was and the source kept"});
  }
  if (outcome.looksRandom) {
    PrintWarning(request.sourcePath +
                 ": the decryption looks like random bytes; converted anyway (--force)");
  }
  if (outcome.warning) PrintWarning(outcome.warning->Describe() + " (the source was kept)");
  return kExitOk;
}

int ConvertCommand::RunCheck() const {
  if (!source.empty() || !target.empty()) Usage("--check takes only the age file");
  if (!recipients.empty() || !recipientFiles.empty() || toPassphrase || deleteSource || verify) {
    Usage("--check takes -i/--identity or a passphrase, nothing to write with");
  }
  age::Unlock unlock;
  const bool fromStdin = check == "-";
  if (!identityFiles.empty()) {
    if (passphrase.fileOption->count() > 0 || passphrase.envOption->count() > 0) {
      Usage("give identities or a passphrase, not both");
    }
    for (const std::string& path : identityFiles) {
      if (path == "-" && fromStdin) Usage("standard input cannot carry two things at once");
      SecretText text;
      ReadSecretFile(path, text.text);
      try {
        for (age::Identity& id : age::ParseIdentities(text.text)) {
          unlock.identities.push_back(id);
        }
      } catch (const age::AgeError& e) {
        Failure(path + ": " + e.what());
      }
    }
  } else {
    SecretText text;
    if (passphrase.fileOption->count() > 0) {
      if (passphrase.file == "-" && fromStdin)
        Usage("standard input cannot carry two things at once");
      ReadSecretFile(passphrase.file, text.text);
      StripLineEnd(text.text);
    } else if (passphrase.envOption->count() > 0) {
      const char* value = std::getenv(passphrase.env.c_str());
      if (value == nullptr) Failure("the environment variable " + passphrase.env + " is not set");
      text.text = value;
    } else {
      const UniqueFd tty = OpenTerminal("identity or passphrase");
      if (!AskTerminal(tty.Get(), "age passphrase: ", text.text)) {
        Failure("no passphrase given (end of input on the terminal)");
      }
    }
    unlock.passphrase = text.text;
  }
  const std::string name = fromStdin ? "standard input" : check;
  const CheckOutcome outcome =
      CheckAgeFile(name, fromStdin ? std::optional<int>(STDIN_FILENO) : std::nullopt, unlock);
  if (outcome.error) Failure(outcome.error->Describe());
  std::cout << name << ": OK (" << outcome.bytes << " bytes authenticated"
            << (outcome.armored ? ", armored" : "") << ")\n";
  return kExitOk;
}

}  // namespace

void AddConvertCommand(CLI::App& app, int* status) {
  auto c = std::make_shared<ConvertCommand>();
  CLI::App* cmd = app.add_subcommand(
      "convert", "Re-encrypt a legacy SOURCE into the age file TARGET, or --check an age file");
  cmd->add_option("SOURCE", c->source, "Legacy file to read, or \"-\" for standard input");
  cmd->add_option("TARGET", c->target,
                  "age file to write (replaced once verified), or \"-\" for standard output");
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
  cmd->add_option("--check", c->check,
                  "Authenticate the age FILE without writing its plaintext; exit 0 or 1")
      ->type_name("FILE");
  cmd->add_option("-i,--identity", c->identityFiles,
                  "For --check: a file of AGE-SECRET-KEY-1... identities (repeatable); without "
                  "one, the passphrase options or the terminal give the passphrase")
      ->type_name("FILE")
      ->allow_extra_args(false);
  cmd->footer(
      "The legacy key options are those of decrypt. No plaintext touches a disk, and the source "
      "is deleted only after the age file has been read back from the disk and "
      "matched.\n\nExamples:\n"
      "  kryvane-cli convert --settings report.pdf-settings.txt -r age1... report.pdf.enc "
      "report.pdf.age\n"
      "  kryvane-cli convert --check report.pdf.age -i key.txt\n");
  cmd->callback([c, status] { *status = c->check.empty() ? c->Run() : c->RunCheck(); });
}

}  // namespace kryvane::cli
