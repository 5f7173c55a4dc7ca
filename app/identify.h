// Finds the cipher and hash a file was encrypted with, given its passphrase: decrypts the start of
// the file under every pair of the two menus (and every way the passphrase may have become bytes)
// and ranks the results with the plausibility detector. Shared by `kryvane-cli identify` and the
// window's "Find cipher and hash" action.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/catalogue.h"
#include "app/detector.h"
#include "app/passphrase.h"

namespace kryvane {

// How much of a file is decrypted: what the detector looks at, and a whole number of blocks of
// every cipher, so the bytes are exactly the start of what a full decryption gives.
inline constexpr std::size_t kIdentifyHead = kAssessedBytes;
static_assert(kIdentifyHead % 16 == 0);

// Below one block of the smallest cipher (8 bytes) a file is left unidentified: any pair turns
// so few bytes into something that might be text.
inline constexpr uint64_t kIdentifyMinSize = 8;

// One byte string a passphrase text may have been keyed with.
struct PassphraseReading {
  std::size_t text = 0;  // which of the texts given to PassphraseReadings
  PassphraseEncoding encoding = PassphraseEncoding::kAuto;  // kCp1252 or kUtf8
  Secret bytes;  // EncodePassphrase(texts[text], encoding), or of its WindowsFieldPrefix
  // The bytes are those of the text's first kWindowsPhraseLength characters, searched only when
  // the whole texts give nothing plausible.
  bool prefix = false;
};

// The distinct byte strings of the texts (UTF-8 each): with kAuto both the Windows-1252 bytes
// (when a text has them) and the UTF-8 bytes, in that order; otherwise the one encoding asked for.
// Several texts stand for several readings of one stored passphrase. A text longer than the
// Windows program's field adds the readings of its first kWindowsPhraseLength characters, last.
std::vector<PassphraseReading> PassphraseReadings(std::span<const Secret> texts,
                                                  PassphraseEncoding encoding);
// The same for callers that still hold the texts as strings (kryvane-cli, for now).
std::vector<PassphraseReading> PassphraseReadings(std::span<const std::string> texts,
                                                  PassphraseEncoding encoding);

struct Candidate {
  const CipherEntry* cipher = nullptr;
  const HashEntry* hash = nullptr;
  std::size_t reading = 0;  // index into the readings searched
  Plausibility plausibility;
};

enum class IdentifyAnswer {
  kClear,             // one candidate is plausible
  kAmbiguous,         // several are
  kNothingPlausible,  // none is (or the key was refused for every pair)
  kEmpty,             // the file is empty: every pair decrypts it to nothing
  kTooShort,          // fewer than kIdentifyMinSize bytes
  kCancelled,
};

struct Identification {
  IdentifyAnswer answer = IdentifyAnswer::kNothingPlausible;
  uint64_t fileSize = 0;
  std::vector<Candidate> ranked;  // best first; empty for kEmpty, kTooShort and kCancelled

  const Candidate* Best() const { return ranked.empty() ? nullptr : &ranked.front(); }
};

struct IdentifyOptions {
  // Called after each candidate with the number done and the total.
  std::function<void(std::size_t done, std::size_t total)> progress;
  const std::atomic<bool>* cancel = nullptr;
};

// head: the first min(fileSize, kIdentifyHead) bytes of the encrypted file.
Identification IdentifyHead(std::span<const uint8_t> head, uint64_t fileSize,
                            std::span<const PassphraseReading> readings,
                            const IdentifyOptions& options = {});

// The same for a file on disk. Throws IoError ("FILE: OPERATION: CAUSE") when it cannot be read.
Identification IdentifyFile(const std::string& path, std::span<const PassphraseReading> readings,
                            const IdentifyOptions& options = {});

// What the detector makes of the start of a file decrypted with one pair and one byte string
// (the check `decrypt --settings` makes between two readings of a settings file).
Plausibility AssessDecryption(std::span<const uint8_t> head, uint64_t fileSize,
                              const CipherEntry& cipher, const HashEntry& hash,
                              std::string_view passphraseBytes);

// The encoding to key an ambiguous settings file's passphrase text with (see
// SavedSettings::phraseAmbiguous): kUtf8 when only the bytes a Windows-written file would have
// had decrypt the start of the file plausibly; otherwise kAuto, the reading of a file this system
// wrote, as always.
PassphraseEncoding ChooseSettingsEncoding(std::span<const uint8_t> head, uint64_t fileSize,
                                          const CipherEntry& cipher, const HashEntry& hash,
                                          std::string_view passphraseText);

// The guard's verdict on the start of a decryption's result, keyed with passphraseText in
// encoding: the detector's, except that a random-looking result that is itself a file of this
// format encrypted again under the same passphrase (its start decrypts plausibly under some pair)
// is plausible, with that pair in the evidence.
Plausibility AssessResult(std::span<const uint8_t> head, std::string_view passphraseText,
                          PassphraseEncoding encoding);

// A passphrase longer than the Windows program's field: when the whole text decrypts the start of
// the file into random-looking bytes and its first kWindowsPhraseLength characters decrypt it
// plausibly, those characters, the key that program used; nothing otherwise.
std::optional<Secret> FittingWindowsPrefix(std::span<const uint8_t> head, uint64_t fileSize,
                                           const CipherEntry& cipher, const HashEntry& hash,
                                           std::string_view passphraseText,
                                           PassphraseEncoding encoding);

// Reads the first kIdentifyHead bytes of a regular file and its size. Throws IoError
// ("FILE: OPERATION: CAUSE").
std::vector<uint8_t> ReadFileHead(const std::string& path, uint64_t* fileSize);
// The same for the entry name of an open folder; with followLink false a link there is refused.
std::vector<uint8_t> ReadFileHead(int folder, const std::string& name, const std::string& path,
                                  bool followLink, uint64_t* fileSize);

}  // namespace kryvane
