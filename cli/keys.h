// Where secrets come from: the terminal (without echo), a file, an environment variable, or a
// settings file; and how the passphrase options become the key a job takes. Secrets stay in
// Secret, never in a std::string.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/base/io.h"
#include "app/base/secret.h"
#include "app/catalogue.h"
#include "app/passphrase.h"
#include "cli/options.h"

namespace kryvane::cli {

// A small file's whole text (at most 1 MiB; "-" reads standard input), kept as a secret.
Secret ReadSecretFile(const std::string& path);
// The passphrase in a file: its text less one trailing line end.
Secret ReadPassphraseFile(const std::string& path);
// The value of an environment variable; a failure when it is not set.
Secret SecretFromEnv(const std::string& variable);
// The controlling terminal, to ask for a secret; a failure naming what was wanted without one.
UniqueFd OpenTerminal(const std::string& what, std::vector<std::string> hints = {});
// One line from the terminal without echo (restored on a signal too); nothing at end of input.
std::optional<Secret> AskHidden(int tty, const char* prompt);

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

}  // namespace kryvane::cli
