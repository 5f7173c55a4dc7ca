#include "cli/keys.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "app/base/text_util.h"
#include "app/identify.h"
#include "app/settings_file.h"
#include "app/settings_schema.h"
#include "cli/report.h"

namespace kryvane::cli {
namespace {

// The terminal settings to restore if a signal arrives while echo is off.
int gTtyFd = -1;
struct termios gSavedTty;

void RestoreTtyAndReraise(int sig) {
  if (gTtyFd >= 0) ::tcsetattr(gTtyFd, TCSAFLUSH, &gSavedTty);
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

}  // namespace

std::optional<Secret> AskHidden(int tty, const char* prompt) {
  struct termios saved;
  const bool isTerminal = ::tcgetattr(tty, &saved) == 0;
  if (isTerminal) {
    struct termios quiet = saved;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    quiet.c_lflag |= ECHONL;
    gSavedTty = saved;
    gTtyFd = tty;
    std::signal(SIGINT, RestoreTtyAndReraise);
    std::signal(SIGTERM, RestoreTtyAndReraise);
    std::signal(SIGHUP, RestoreTtyAndReraise);
    ::tcsetattr(tty, TCSAFLUSH, &quiet);
  }
  // Prompt only once echo is off, so that nothing typed after it can be shown.
  [[maybe_unused]] const ssize_t shown = ::write(tty, prompt, std::strlen(prompt));
  Secret line;
  bool ended = false;
  for (;;) {
    char c;
    const ssize_t got = ::read(tty, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ended = line.empty();
      break;
    }
    if (c == '\n') break;
    if (line.size() >= kMaxSmallRead) break;
    line.Append(c);
  }
  if (isTerminal) {
    ::tcsetattr(tty, TCSANOW, &saved);
    gTtyFd = -1;
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGHUP, SIG_DFL);
  }
  if (!line.empty() && line.View().back() == '\r') line.Resize(line.size() - 1);
  if (ended) return std::nullopt;
  return line;
}

Secret ReadSecretFile(const std::string& path) {
  try {
    if (path == "-") return ReadAllSecret(STDIN_FILENO, "standard input");
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!fd) throw IoError(path, "open", errno);
    return ReadAllSecret(fd.Get(), path);
  } catch (const IoError& e) {
    Failure(e.what());
  }
}

Secret ReadPassphraseFile(const std::string& path) {
  Secret text = ReadSecretFile(path);
  text.Resize(StripOneLineEnd(text.View()).size());
  return text;
}

Secret SecretFromEnv(const std::string& variable) {
  const char* value = std::getenv(variable.c_str());
  if (value == nullptr) Failure("the environment variable " + variable + " is not set");
  return Secret(value);
}

UniqueFd OpenTerminal(const std::string& what, std::vector<std::string> hints) {
  UniqueFd tty(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!tty) Failure("no " + what + " given and no terminal to ask for one", std::move(hints));
  return tty;
}

KeyChoice KeyFromSettingsFile(const AlgorithmOptions& algorithms, const std::string& path,
                              PassphraseEncoding encoding, int folder, const std::string& name) {
  SavedSettings saved;
  try {
    saved = folder < 0 ? ReadSavedSettings(path) : ReadSavedSettings(folder, name, path, false);
  } catch (const SettingsError& e) {
    Failure(e.what());
  }
  KeyChoice key;
  key.encoding = encoding;
  key.passphrase = std::move(saved.phrase);
  key.retyped = key.passphrase.Clone();
  key.settingsAmbiguous = saved.phraseAmbiguous;
  // The menu texts stored in the file choose the algorithms unless given on the command line; a
  // stored text that names no entry is the file's fault, not a usage error.
  const auto stored = [&](const char* entry, const std::string& name, const auto* found) {
    if (found == nullptr) {
      Failure(FormatError(path, "read",
                          std::string("the ") + entry + " entry \"" + name +
                              "\" names no entry of the menu"),
              {kListHint});
    }
    return found;
  };
  key.cipher = algorithms.CipherGiven()
                   ? &ResolveCipher(algorithms.cipher)
                   : stored("Cipher", saved.cipherMenuText, FindCipherName(saved.cipherMenuText));
  key.hash = algorithms.HashGiven()
                 ? &ResolveHash(algorithms.hash)
                 : stored("Hash", saved.hashMenuText, FindHashName(saved.hashMenuText));
  return key;
}

KeyChoice ObtainKey(const AlgorithmOptions& algorithms, const PassphraseOptions& options,
                    bool stdinTaken) {
  const PassphraseEncoding encoding = *ParsePassphraseEncoding(options.encoding);
  const bool fromFile = options.FromFile();
  const bool fromEnv = options.FromEnv();
  const bool fromSettings = options.FromSettings();
  if (fromFile && options.file.empty()) Usage("--passphrase-file needs a file name");
  if (fromSettings && options.settings.empty()) Usage("--settings needs a file name");
  if (fromFile && IsStandardInput(options.file) && stdinTaken) {
    Usage("standard input cannot carry both the passphrase and the data");
  }
  if (fromSettings) return KeyFromSettingsFile(algorithms, options.settings, encoding);

  KeyChoice key;
  key.encoding = encoding;
  key.cipher = &ResolveCipher(algorithms.cipher);
  key.hash = &ResolveHash(algorithms.hash);
  if (fromFile) {
    key.passphrase = ReadPassphraseFile(options.file);
    key.retyped = key.passphrase.Clone();
  } else if (fromEnv) {
    key.passphrase = SecretFromEnv(options.env);
    key.retyped = key.passphrase.Clone();
  } else {
    const UniqueFd tty = OpenTerminal(
        "passphrase", {"use --passphrase-file FILE, --passphrase-env VAR or --settings FILE"});
    auto first = AskHidden(tty.Get(), "Passphrase: ");
    auto second = first ? AskHidden(tty.Get(), "Retype passphrase: ") : std::nullopt;
    if (!first || !second) Failure("no passphrase given (end of input on the terminal)");
    key.passphrase = std::move(*first);
    key.retyped = std::move(*second);
  }
  return key;
}

void SettleSettingsEncoding(KeyChoice& key, const std::string& source) {
  SettleSettingsEncoding(key, AT_FDCWD, source, source, true);
}

void SettleSettingsEncoding(KeyChoice& key, int folder, const std::string& name,
                            const std::string& source, bool followLink) {
  const bool ambiguous = key.settingsAmbiguous && key.encoding == PassphraseEncoding::kAuto;
  const bool tooLong = WindowsFieldPrefix(key.passphrase.View()).has_value();
  if ((!ambiguous && !tooLong) || key.passphrase != key.retyped) return;
  try {
    uint64_t size = 0;
    const std::vector<uint8_t> head = ReadFileHead(folder, name, source, followLink, &size);
    if (ambiguous) {
      key.encoding =
          ChooseSettingsEncoding(head, size, *key.cipher, *key.hash, key.passphrase.View());
    }
    if (std::optional<Secret> prefix = FittingWindowsPrefix(head, size, *key.cipher, *key.hash,
                                                            key.passphrase.View(), key.encoding)) {
      key.passphrase = std::move(*prefix);
      key.retyped = key.passphrase.Clone();
      std::cerr << "kryvane-cli: note: " << EscapeControls(source)
                << ": keyed with the first 80 characters of the passphrase, as the Windows "
                   "program kept them of a longer paste (the whole passphrase gives random "
                   "bytes)\n";
    }
  } catch (const std::runtime_error&) {
  }
}

std::unique_ptr<Cipher> KeyedCipher(const KeyChoice& key) {
  if (key.passphrase != key.retyped) {
    Failure("the two passphrases differ", HintsFor(ErrorKind::kMismatch));
  }
  const std::optional<Secret> bytes = EncodePassphrase(key.passphrase.View(), key.encoding);
  if (!bytes) Failure("the passphrase has characters outside Windows-1252");
  std::unique_ptr<Cipher> cipher = key.cipher->cipher.Create();
  try {
    cipher->InitFromPassphrase(bytes->View(), key.hash->hash);
  } catch (const CipherError& e) {
    Failure(std::string("derive key: ") + e.what());
  }
  return cipher;
}

}  // namespace kryvane::cli
