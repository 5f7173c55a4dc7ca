// What the subcommands share: the cipher, hash and passphrase options, how names and passphrases
// are resolved, the progress bar, and the error that ends a command with a message and a status.
#pragma once

#include <signal.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/base/io.h"
#include "app/base/secret.h"
#include "app/catalogue.h"
#include "app/passphrase.h"

namespace kryvane::cli {

// Ends a command: main prints "kryvane-cli: error: <message>" and the hints, and exits with status.
struct CommandError {
  int status;
  std::string message;
  std::vector<std::string> hints;
};

[[noreturn]] void Usage(std::string message, std::vector<std::string> hints = {});
[[noreturn]] void Failure(std::string message, std::vector<std::string> hints = {});
void PrintError(const std::string& message, const std::vector<std::string>& hints);
void PrintWarning(const std::string& message);
void PrintHint(const std::string& hint);

struct AlgorithmOptions {
  CLI::Option* cipherOption = nullptr;
  CLI::Option* hashOption = nullptr;
  std::string cipher = "blowfish";
  std::string hash = "haval";
};

struct PassphraseOptions {
  std::string file;
  std::string env;
  std::string settings;
  std::string encoding = "auto";
  CLI::Option* fileOption = nullptr;
  CLI::Option* envOption = nullptr;
  CLI::Option* settingsOption = nullptr;
};

// -c/--cipher; and -H/--hash, which `hash` shares.
void AddCipherOption(CLI::App& cmd, AlgorithmOptions& options);
void AddHashOption(CLI::App& cmd, AlgorithmOptions& options);
// --passphrase-file, --passphrase-env, --settings, --encoding.
void AddPassphraseOptions(CLI::App& cmd, PassphraseOptions& options);

// A cipher or hash from a short name, a menu position or a menu text; a usage error when unknown.
const CipherEntry& ResolveCipher(const std::string& name);
const HashEntry& ResolveHash(const std::string& name);
// The same, giving nothing for an unknown name.
const CipherEntry* FindCipherName(const std::string& name);
const HashEntry* FindHashName(const std::string& name);

// Everything a keyed command needs, with the settings file applied where it was asked for.
struct KeyChoice {
  const CipherEntry* cipher = nullptr;
  const HashEntry* hash = nullptr;
  Secret passphrase;  // text; EncodePassphrase turns it into bytes
  Secret retyped;
  PassphraseEncoding encoding = PassphraseEncoding::kAuto;
  // From a settings file that may have been written on Windows (SavedSettings::phraseAmbiguous).
  bool settingsAmbiguous = false;
};

// Resolves names and the passphrase. stdinTaken: standard input already carries data, so it
// cannot carry the passphrase. The terminal is asked (twice, without echo) when no source is given.
KeyChoice ObtainKey(const AlgorithmOptions& algorithms, const PassphraseOptions& passphrase,
                    bool stdinTaken);

// The key a settings file records; -c and -H, when given, override its menu texts. Failures
// name the settings file.
// With a folder (not -1), the file is name there, reached without following a link.
KeyChoice KeyFromSettingsFile(const AlgorithmOptions& algorithms, const std::string& path,
                              PassphraseEncoding encoding, int folder = -1,
                              const std::string& name = {});

// A settings file whose passphrase reads as two (UTF-8 or Windows-1252 bytes): the start of the
// legacy source tells which one decrypts it plausibly. A passphrase longer than the Windows
// program's field is cut to its first 80 characters when only they decrypt it plausibly (a note
// says so). Changes nothing for other keys, an explicit --encoding, or a source that cannot be
// read (the job reports that).
void SettleSettingsEncoding(KeyChoice& key, const std::string& source);
// The same for a source reached through its folder (a batch's).
void SettleSettingsEncoding(KeyChoice& key, int folder, const std::string& name,
                            const std::string& source, bool followLink);

// A cipher of the chosen class keyed from the passphrase, after the checks the file job makes
// (passphrases equal, passphrase encodable).
std::unique_ptr<Cipher> KeyedCipher(const KeyChoice& key);

// A small file's whole text (at most 1 MiB; "-" reads standard input), kept as a secret.
Secret ReadSecretFile(const std::string& path);
// The passphrase in a file: its text less one trailing line end.
Secret ReadPassphraseFile(const std::string& path);
// The controlling terminal, to ask for a secret; a failure naming what was wanted without one.
UniqueFd OpenTerminal(const std::string& what, std::vector<std::string> hints = {});
// One line from the terminal without echo (restored on a signal too); nothing at end of input.
std::optional<Secret> AskHidden(int tty, const char* prompt);

// Set once Ctrl-C, SIGTERM or SIGHUP arrives while a StopSignals lives; jobs poll it.
const std::atomic<bool>& StopRequested();

// While it lives, those signals ask the running jobs to stop, so that they remove their temporary
// files and keep their sources; the handler resets itself, so a second signal ends the program
// at once.
class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  struct sigaction saved_[3]{};
};

// Draws a progress bar on standard error; finishes the line when destroyed.
class ProgressBar {
 public:
  explicit ProgressBar(bool enabled);
  ~ProgressBar();
  void Update(uint64_t done, std::optional<uint64_t> total);
  // A line of its own in place of the bar (counts that are no bytes).
  void Show(const std::string& text);
  // Takes the bar away now, before a result is printed.
  void Finish();
  bool Enabled() const { return enabled_; }

 private:
  bool enabled_;
  bool terminal_;
  bool drawn_ = false;
};

// --progress / --no-progress; nothing when neither was given.
struct ProgressOptions {
  bool on = false;
  bool off = false;
  bool Enabled() const;
};
void AddProgressOptions(CLI::App& cmd, ProgressOptions& options);

}  // namespace kryvane::cli
