#include "cli/common.h"

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "app/base/io.h"
#include "app/base/text_util.h"
#include "app/file_job.h"
#include "app/identify.h"
#include "app/settings_file.h"
#include "app/settings_schema.h"
#include "cli/commands.h"
#include "cli/job_front.h"

namespace kryvane::cli {
namespace {

constexpr const char* kListHint = "'kryvane-cli list' shows the names, positions and menu texts";

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

UniqueFd OpenTerminal(const std::string& what, std::vector<std::string> hints) {
  UniqueFd tty(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!tty) Failure("no " + what + " given and no terminal to ask for one", std::move(hints));
  return tty;
}

[[noreturn]] void Usage(std::string message, std::vector<std::string> hints) {
  if (hints.empty()) hints.emplace_back("'kryvane-cli COMMAND --help' shows the usage");
  throw CommandError{kExitUsage, std::move(message), std::move(hints)};
}

[[noreturn]] void Failure(std::string message, std::vector<std::string> hints) {
  throw CommandError{kExitFailed, std::move(message), std::move(hints)};
}

// Messages hold file names, which may hold anything: escaped, each stays one line.
void PrintError(const std::string& message, const std::vector<std::string>& hints) {
  std::cerr << "kryvane-cli: error: " << EscapeControls(message) << "\n";
  for (const std::string& hint : hints) {
    std::cerr << "kryvane-cli: hint: " << EscapeControls(hint) << "\n";
  }
}

void PrintWarning(const std::string& message) {
  std::cerr << "kryvane-cli: warning: " << EscapeControls(message) << "\n";
}

void PrintHint(const std::string& hint) {
  std::cerr << "kryvane-cli: hint: " << EscapeControls(hint) << "\n";
}

void AddCipherOption(CLI::App& cmd, AlgorithmOptions& options) {
  options.cipherOption =
      cmd.add_option("-c,--cipher", options.cipher,
                     "Short name from `list`, menu position 0-16 or menu text (default blowfish)");
  options.cipherOption->type_name("NAME");
}

void AddHashOption(CLI::App& cmd, AlgorithmOptions& options) {
  options.hashOption =
      cmd.add_option("-H,--hash", options.hash,
                     "Short name from `list`, menu position 0-9 or menu text (default haval)");
  options.hashOption->type_name("NAME");
}

void AddPassphraseOptions(CLI::App& cmd, PassphraseOptions& options) {
  options.fileOption = cmd.add_option("--passphrase-file", options.file,
                                      "The passphrase is the file's text, less one trailing "
                                      "line end (\"-\" reads standard input)")
                           ->type_name("FILE");
  options.envOption =
      cmd.add_option("--passphrase-env", options.env, "The passphrase is the variable's value")
          ->type_name("VAR");
  options.settingsOption =
      cmd.add_option("--settings", options.settings,
                     "Passphrase, cipher and hash from a settings file that encryption wrote "
                     "(-c and -H override its choices)")
          ->type_name("FILE");
  // One passphrase source at most, found while parsing, before any prompt.
  options.fileOption->excludes(options.envOption)->excludes(options.settingsOption);
  options.envOption->excludes(options.settingsOption);
  cmd.add_option("--encoding", options.encoding,
                 "How the passphrase text becomes bytes: auto (Windows-1252 when it fits, else "
                 "UTF-8), cp1252 or utf-8 (default auto)")
      ->type_name("auto|cp1252|utf-8")
      ->check(CLI::Validator(
          [](std::string& value) -> std::string {
            return ParsePassphraseEncoding(value) ? "" : "expected auto, cp1252 or utf-8";
          },
          ""));
}

void AddProgressOptions(CLI::App& cmd, ProgressOptions& options) {
  CLI::Option* on =
      cmd.add_flag("--progress", options.on,
                   "Show a progress bar on standard error (default: when it is a terminal)");
  CLI::Option* off = cmd.add_flag("--no-progress", options.off, "Show no progress bar");
  on->excludes(off);
}

bool ProgressOptions::Enabled() const {
  if (on) return true;
  if (off) return false;
  return ::isatty(STDERR_FILENO) == 1;
}

const CipherEntry* FindCipherName(const std::string& name) {
  const CipherEntry* entry = FindCipher(name);
  return entry != nullptr ? entry : CipherForMenuText(name);
}

const HashEntry* FindHashName(const std::string& name) {
  const HashEntry* entry = FindHash(name);
  return entry != nullptr ? entry : HashForMenuText(name);
}

const CipherEntry& ResolveCipher(const std::string& name) {
  const CipherEntry* entry = FindCipherName(name);
  if (entry == nullptr) Usage("unknown cipher \"" + name + "\"", {kListHint});
  return *entry;
}

const HashEntry& ResolveHash(const std::string& name) {
  const HashEntry* entry = FindHashName(name);
  if (entry == nullptr) Usage("unknown hash \"" + name + "\"", {kListHint});
  return *entry;
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
  key.cipher = algorithms.cipherOption->count() > 0
                   ? &ResolveCipher(algorithms.cipher)
                   : stored("Cipher", saved.cipherMenuText, FindCipherName(saved.cipherMenuText));
  key.hash = algorithms.hashOption->count() > 0
                 ? &ResolveHash(algorithms.hash)
                 : stored("Hash", saved.hashMenuText, FindHashName(saved.hashMenuText));
  return key;
}

KeyChoice ObtainKey(const AlgorithmOptions& algorithms, const PassphraseOptions& options,
                    bool stdinTaken) {
  const PassphraseEncoding encoding = *ParsePassphraseEncoding(options.encoding);
  const bool fromFile = options.fileOption->count() > 0;
  const bool fromEnv = options.envOption->count() > 0;
  const bool fromSettings = options.settingsOption->count() > 0;
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
    const char* value = std::getenv(options.env.c_str());
    if (value == nullptr) Failure("the environment variable " + options.env + " is not set");
    key.passphrase = Secret(value);
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
    Failure("the two passphrases differ", {"type the same passphrase twice"});
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

namespace {

// Set by the signal handler, read by the jobs: a lock-free atomic is safe to store from one.
std::atomic<bool> gStopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The first of the signals asks the jobs to stop; a second one, of any of them, ends the program
// at once (sigaction is safe in a handler).
extern "C" void RequestStop(int) {
  gStopRequested.store(true, std::memory_order_relaxed);
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  for (const int sig : kStopSignals) ::sigaction(sig, &fallback, nullptr);
}

}  // namespace

const std::atomic<bool>& StopRequested() {
  return gStopRequested;
}

StopSignals::StopSignals() {
  struct sigaction action {};
  action.sa_handler = RequestStop;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;
  for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
    ::sigaction(kStopSignals[i], &action, &saved_[i]);
  }
}

StopSignals::~StopSignals() {
  for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
    ::sigaction(kStopSignals[i], &saved_[i], nullptr);
  }
}

ProgressBar::ProgressBar(bool enabled)
    : enabled_(enabled), terminal_(::isatty(STDERR_FILENO) == 1) {}

ProgressBar::~ProgressBar() { Finish(); }

void ProgressBar::Finish() {
  if (!drawn_) return;
  // On a terminal the bar vanishes, so a success stays quiet; elsewhere the last state remains.
  std::fputs(terminal_ ? "\r\033[K" : "\n", stderr);
  std::fflush(stderr);
  drawn_ = false;
}

void ProgressBar::Show(const std::string& text) {
  if (!enabled_) return;
  const std::string line = "\r" + EscapeControls(text) + (terminal_ ? "\033[K" : "");
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  drawn_ = true;
}

void ProgressBar::Update(uint64_t done, std::optional<uint64_t> total) {
  if (!enabled_) return;
  constexpr int kWidth = 30;
  const double mib = double(done) / (1024.0 * 1024.0);
  char line[160];
  if (total && *total > 0) {
    const double fraction = double(done) / double(*total);
    const int filled = int(fraction * kWidth);
    std::string bar(std::size_t(filled), '#');
    bar.resize(kWidth, '.');
    std::snprintf(line, sizeof line, "\r[%s] %3d%%  %.1f / %.1f MiB", bar.c_str(),
                  int(fraction * 100), mib, double(*total) / (1024.0 * 1024.0));
  } else {
    std::snprintf(line, sizeof line, "\r%.1f MiB", mib);
  }
  std::fputs(line, stderr);
  std::fflush(stderr);
  drawn_ = true;
}

}  // namespace kryvane::cli
