#include "cli/common.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "app/file_job.h"
#include "app/file_util.h"
#include "app/settings_file.h"
#include "cli/commands.h"
#include "crypto/bytes.h"

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

// Reads one line from the terminal without echo; nothing at end of input.
std::optional<std::string> AskHidden(int tty, const char* prompt) {
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
  std::string line;
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
    line += c;
  }
  if (isTerminal) {
    ::tcsetattr(tty, TCSANOW, &saved);
    gTtyFd = -1;
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGHUP, SIG_DFL);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (ended) return std::nullopt;
  return line;
}

void StripOneLineEnd(std::string& text) {
  if (text.ends_with("\r\n")) {
    text.resize(text.size() - 2);
  } else if (text.ends_with("\n")) {
    text.pop_back();
  }
}

// Reads straight into passphrase, so that no copy of it is left behind.
void ReadPassphraseFile(const std::string& path, std::string& passphrase) {
  if (path == "-") {
    ReadAllInto(STDIN_FILENO, "standard input", passphrase);
  } else {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!fd) Failure(path + ": open: " + ErrnoText(errno));
    ReadAllInto(fd.Get(), path, passphrase);
  }
  StripOneLineEnd(passphrase);
}

std::string Setting(const std::string& path, const char* key) {
  std::optional<std::string> value;
  try {
    value = ReadProfileString(path, kSettingsSection, key);
  } catch (const SettingsError& e) {
    Failure(e.what());
  }
  if (!value) {
    Failure(path + ": read: no " + key + " entry in the [" + std::string(kSettingsSection) +
            "] section");
  }
  return *value;
}

}  // namespace

[[noreturn]] void Usage(std::string message, std::vector<std::string> hints) {
  if (hints.empty()) hints.emplace_back("'kryvane-cli COMMAND --help' shows the usage");
  throw CommandError{kExitUsage, std::move(message), std::move(hints)};
}

[[noreturn]] void Failure(std::string message, std::vector<std::string> hints) {
  throw CommandError{kExitFailed, std::move(message), std::move(hints)};
}

void PrintError(const std::string& message, const std::vector<std::string>& hints) {
  std::cerr << "kryvane-cli: error: " << message << "\n";
  for (const std::string& hint : hints) std::cerr << "kryvane-cli: hint: " << hint << "\n";
}

void PrintWarning(const std::string& message) {
  std::cerr << "kryvane-cli: warning: " << message << "\n";
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
  cmd.add_flag("--progress", options.on,
               "Show a progress bar on standard error (default: when it is a terminal)");
  cmd.add_flag("--no-progress", options.off, "Show no progress bar");
}

bool ProgressOptions::Enabled() const {
  if (on && off) Usage("give only one of --progress and --no-progress");
  if (on) return true;
  if (off) return false;
  return ::isatty(STDERR_FILENO) == 1;
}

namespace {

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Settings files written on Windows store menu texts unquoted, so a reader gets them back without
// their trailing spaces; such a text still names its entry.
template <class Entry>
const Entry* FindTrimmedMenuText(std::span<const Entry> catalogue, std::string_view name) {
  for (const Entry& e : catalogue) {
    if (TrimBlanks(e.menuText) == TrimBlanks(name)) return &e;
  }
  return nullptr;
}

}  // namespace

const CipherEntry& ResolveCipher(const std::string& name) {
  const CipherEntry* entry = FindCipher(name);
  if (entry == nullptr) entry = FindTrimmedMenuText(CipherCatalogue(), name);
  if (entry == nullptr) Usage("unknown cipher \"" + name + "\"", {kListHint});
  return *entry;
}

const HashEntry& ResolveHash(const std::string& name) {
  const HashEntry* entry = FindHash(name);
  if (entry == nullptr) entry = FindTrimmedMenuText(HashCatalogue(), name);
  if (entry == nullptr) Usage("unknown hash \"" + name + "\"", {kListHint});
  return *entry;
}

KeyChoice ObtainKey(const AlgorithmOptions& algorithms, const PassphraseOptions& options,
                    bool stdinTaken) {
  KeyChoice key;
  key.encoding = *ParsePassphraseEncoding(options.encoding);
  const int sources = int(options.fileOption->count() > 0) + int(options.envOption->count() > 0) +
                      int(options.settingsOption->count() > 0);
  if (sources > 1) {
    Usage("give at most one of --passphrase-file, --passphrase-env and --settings");
  }
  const bool fromFile = options.fileOption->count() > 0;
  const bool fromSettings = options.settingsOption->count() > 0;
  if (fromFile && options.file.empty()) Usage("--passphrase-file needs a file name");
  if (fromSettings && options.settings.empty()) Usage("--settings needs a file name");
  std::string cipherName = algorithms.cipher;
  std::string hashName = algorithms.hash;
  if (fromFile) {
    if (options.file == "-" && stdinTaken) {
      Usage("standard input cannot carry both the passphrase and the data");
    }
    ReadPassphraseFile(options.file, key.passphrase);
    key.retyped = key.passphrase;
  } else if (options.envOption->count() > 0) {
    const char* value = std::getenv(options.env.c_str());
    if (value == nullptr) Failure("the environment variable " + options.env + " is not set");
    key.passphrase = value;
    key.retyped = key.passphrase;
  } else if (fromSettings) {
    key.passphrase = Setting(options.settings, "Phrase");
    key.retyped = key.passphrase;
    // The menu texts stored in the file choose the algorithms unless given on the command line.
    if (algorithms.cipherOption->count() == 0) cipherName = Setting(options.settings, "Cipher");
    if (algorithms.hashOption->count() == 0) hashName = Setting(options.settings, "Hash");
  }
  key.cipher = &ResolveCipher(cipherName);
  key.hash = &ResolveHash(hashName);
  if (sources == 0) {
    UniqueFd tty(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!tty) {
      Failure("no passphrase given and no terminal to ask for one",
              {"use --passphrase-file FILE, --passphrase-env VAR or --settings FILE"});
    }
    auto first = AskHidden(tty.Get(), "Passphrase: ");
    auto second = first ? AskHidden(tty.Get(), "Retype passphrase: ") : std::nullopt;
    if (!first || !second) Failure("no passphrase given (end of input on the terminal)");
    key.passphrase = std::move(*first);
    key.retyped = std::move(*second);
  }
  return key;
}

KeyChoice KeyFromSettingsFile(const AlgorithmOptions& algorithms, const std::string& path,
                              PassphraseEncoding encoding) {
  KeyChoice key;
  key.encoding = encoding;
  key.passphrase = Setting(path, "Phrase");
  key.retyped = key.passphrase;
  key.cipher = &ResolveCipher(algorithms.cipherOption->count() > 0 ? algorithms.cipher
                                                                   : Setting(path, "Cipher"));
  key.hash =
      &ResolveHash(algorithms.hashOption->count() > 0 ? algorithms.hash : Setting(path, "Hash"));
  return key;
}

std::unique_ptr<Cipher> KeyedCipher(const KeyChoice& key) {
  if (key.passphrase != key.retyped) {
    Failure("the two passphrases differ", {"type the same passphrase twice"});
  }
  std::optional<std::string> bytes = EncodePassphrase(key.passphrase, key.encoding);
  if (!bytes) Failure("the passphrase has characters outside Windows-1252");
  std::unique_ptr<Cipher> cipher = key.cipher->cipher.Create();
  try {
    cipher->InitFromPassphrase(*bytes, key.hash->hash);
  } catch (const CipherError& e) {
    SecureZero(bytes->data(), bytes->size());
    Failure(std::string("derive key: ") + e.what());
  }
  SecureZero(bytes->data(), bytes->size());
  return cipher;
}

ProgressBar::ProgressBar(bool enabled)
    : enabled_(enabled), terminal_(::isatty(STDERR_FILENO) == 1) {}

ProgressBar::~ProgressBar() {
  if (!drawn_) return;
  // On a terminal the bar vanishes, so a success stays quiet; elsewhere the last state remains.
  std::fputs(terminal_ ? "\r\033[K" : "\n", stderr);
  std::fflush(stderr);
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

void ReadAllInto(int fd, const std::string& name, std::string& data) {
  char buffer[8192];
  struct EraseBuffer {
    char* at;
    std::size_t size;
    ~EraseBuffer() { SecureZero(at, size); }
  } eraseBuffer{buffer, sizeof buffer};
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      Failure(name + ": read: " + ErrnoText(errno));
    }
    if (got == 0) return;
    const std::size_t n = std::size_t(got);
    if (data.size() + n > data.capacity()) {
      // Grow by hand, erasing the old buffer rather than leaving it to the allocator.
      std::string larger;
      larger.reserve(std::max(2 * data.capacity(), data.size() + n));
      larger.append(data);
      EraseString(data);
      data.swap(larger);
    }
    data.append(buffer, n);
  }
}

std::string ReadAll(int fd, const std::string& name) {
  std::string data;
  try {
    ReadAllInto(fd, name, data);
  } catch (...) {
    EraseString(data);
    throw;
  }
  return data;
}

}  // namespace kryvane::cli
