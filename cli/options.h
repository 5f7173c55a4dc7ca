// The options several commands share (cipher, hash, passphrase source, progress), how their names
// resolve, and what a file name on the command line stands for. Only options.cpp and the command
// files that register options need the command-line parser itself.
#pragma once

#include <optional>
#include <string>

#include "app/catalogue.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace kryvane::cli {

inline constexpr const char* kListHint =
    "'kryvane-cli list' shows the names, positions and menu texts";

struct AlgorithmOptions {
  CLI::Option* cipherOption = nullptr;
  CLI::Option* hashOption = nullptr;
  std::string cipher = "blowfish";
  std::string hash = "haval";

  // Whether -c or -H was on the command line (a default is no choice).
  bool CipherGiven() const;
  bool HashGiven() const;
};

struct PassphraseOptions {
  std::string file;
  std::string env;
  std::string settings;
  std::string encoding = "auto";
  CLI::Option* fileOption = nullptr;
  CLI::Option* envOption = nullptr;
  CLI::Option* settingsOption = nullptr;

  // Which source was given (at most one: the parser refuses two).
  bool FromFile() const;
  bool FromEnv() const;
  bool FromSettings() const;
};

// -c/--cipher; and -H/--hash, which `hash` shares.
void AddCipherOption(CLI::App& cmd, AlgorithmOptions& options);
void AddHashOption(CLI::App& cmd, AlgorithmOptions& options);
// --passphrase-file, --passphrase-env, --settings, --encoding.
void AddPassphraseOptions(CLI::App& cmd, PassphraseOptions& options);

// --progress / --no-progress; nothing when neither was given.
struct ProgressOptions {
  bool on = false;
  bool off = false;
  bool Enabled() const;
};
void AddProgressOptions(CLI::App& cmd, ProgressOptions& options);

// A cipher or hash from a short name, a menu position or a menu text; a usage error when unknown.
const CipherEntry& ResolveCipher(const std::string& name);
const HashEntry& ResolveHash(const std::string& name);
// The same, giving nothing for an unknown name.
const CipherEntry* FindCipherName(const std::string& name);
const HashEntry* FindHashName(const std::string& name);

// The descriptor a name stands for: "-" (standard input for a source, output for a target),
// /dev/stdin, /dev/stdout, /dev/stderr, /dev/fd/N and /proc/self/fd/N. Such a name is used as the
// open descriptor it names, never as a file to replace. A standard descriptor that was closed when
// the program started fails with "Bad file descriptor", as cat does; so does one not open now.
std::optional<int> StreamDescriptor(const std::string& name, bool source);
// Whether name stands for a descriptor (without checking it).
bool NamedStream(const std::string& name, bool source);
// Whether name stands for standard input.
bool IsStandardInput(const std::string& name);
// How messages name a source or target: "-" is "standard input" or "standard output".
std::string StreamDisplayName(const std::string& name, bool source);

}  // namespace kryvane::cli
