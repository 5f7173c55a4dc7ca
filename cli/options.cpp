#include "cli/options.h"

#include <fcntl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <charconv>
#include <string_view>

#include "app/base/io.h"
#include "app/passphrase.h"
#include "app/settings_schema.h"
#include "cli/report.h"

namespace kryvane::cli {
namespace {

std::optional<int> DescriptorNumber(std::string_view digits) {
  int fd = -1;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), fd);
  if (ec != std::errc() || end != digits.data() + digits.size() || digits.empty()) {
    return std::nullopt;
  }
  return fd;
}

std::optional<int> NamedDescriptor(const std::string& name, bool source) {
  if (name == "-") return source ? STDIN_FILENO : STDOUT_FILENO;
  if (name == "/dev/stdin") return STDIN_FILENO;
  if (name == "/dev/stdout") return STDOUT_FILENO;
  if (name == "/dev/stderr") return STDERR_FILENO;
  for (const std::string_view prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    if (name.starts_with(prefix))
      return DescriptorNumber(std::string_view(name).substr(prefix.size()));
  }
  return std::nullopt;
}

bool Given(const CLI::Option* option) {
  return option->count() > 0;
}

}  // namespace

bool AlgorithmOptions::CipherGiven() const {
  return Given(cipherOption);
}

bool AlgorithmOptions::HashGiven() const {
  return Given(hashOption);
}

bool PassphraseOptions::FromFile() const {
  return Given(fileOption);
}

bool PassphraseOptions::FromEnv() const {
  return Given(envOption);
}

bool PassphraseOptions::FromSettings() const {
  return Given(settingsOption);
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

std::optional<int> StreamDescriptor(const std::string& name, bool source) {
  const std::optional<int> fd = NamedDescriptor(name, source);
  if (!fd) return std::nullopt;
  const bool closed =
      (*fd <= STDERR_FILENO && StandardDescriptorWasClosed(*fd)) || ::fcntl(*fd, F_GETFD) < 0;
  if (closed) {
    Failure(
        FormatError(StreamDisplayName(name, source), source ? "read" : "write", ErrnoText(EBADF)));
  }
  return fd;
}

bool NamedStream(const std::string& name, bool source) {
  return NamedDescriptor(name, source).has_value();
}

bool IsStandardInput(const std::string& name) {
  return NamedDescriptor(name, true) == STDIN_FILENO;
}

std::string StreamDisplayName(const std::string& name, bool source) {
  if (name == "-") return source ? "standard input" : "standard output";
  return name;
}

}  // namespace kryvane::cli
