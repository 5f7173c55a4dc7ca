// The passphrase search behind `recover`: tries batches of candidate passphrases against the start
// of an encrypted file under a set of cipher and hash pairs, and reports the candidates whose
// decryption the plausibility detector accepts. No file I/O: the caller reads the start of the file.
//
// Each key is judged in steps, each far cheaper than the next. The first 16 bytes of its
// decryption (and the 8 bytes at offset 256, where a TAR header keeps its magic) go through a start
// rule that drops all but about one wrong key in 500; a survivor has its whole head decrypted and
// bounded exactly (no head the bound drops could be plausible); the detector judges what is left;
// and a plausible head is reported as confirmed only when its evidence is strong enough that no
// wrong key among all a search can try would show it by chance (kConfirmBits). A plausible but weak
// head (a short signature followed by random-looking bytes, or a tiny file) is reported
// unconfirmed.
//
// The start rule is exact for signatures, OpenPGP packets and TAR, but for text, UTF-16 and
// structure it asks the first 16 bytes to look like them already, which every real file tried
// does; a file whose content shows only over thousands of bytes behind a start like noise needs
// SearchOptions::exhaustive. A file whose right decryption is itself random-looking (compressed or
// encrypted content the detector does not know) cannot be recognised at all: the search then ends
// without a hit. The caller can ask upfront whether the head is long enough for any confirmation
// (CanConfirm).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "app/catalogue.h"
#include "app/detector.h"
#include "app/passphrase.h"
#include "app/recover/candidates.h"

namespace kryvane::recover {

// What the caller reads: the first min(fileSize, kSearchHead) bytes of the file.
inline constexpr std::size_t kSearchHead = kAssessedBytes;

// Evidence, in bits, that a confirmed head needs: a wrong key shows as much by chance less than
// once in 2^64 tries, far more than any search makes.
inline constexpr double kConfirmBits = 64;

struct Pair {
  const CipherEntry* cipher = nullptr;
  const HashEntry* hash = nullptr;
};

// Every pair of the two menus, cipher by cipher.
std::vector<Pair> AllPairs();

struct SearchOptions {
  std::vector<Pair> pairs;  // empty: all 170
  // As the file job encodes a passphrase; kAuto tries the Windows-1252 bytes and, where they
  // differ, the UTF-8 bytes (the readings `identify` tries, see PassphraseReadings). A text longer
  // than the Windows program's field is tried whole and as its first kWindowsPhraseLength
  // characters.
  PassphraseEncoding encoding = PassphraseEncoding::kAuto;
  // Skips the start rule for text, UTF-16 and structure: every key has its whole head decrypted
  // and bounded exactly, so no head the detector calls plausible is missed, at a fraction of the
  // speed. For files whose content shows itself only over many bytes (binary data with a slight
  // skew of byte values, behind a start that looks like noise).
  bool exhaustive = false;
};

struct Hit {
  std::size_t candidate = 0;  // index into the batch
  Pair pair;
  PassphraseEncoding encoding = PassphraseEncoding::kAuto;  // kCp1252 or kUtf8: the bytes keyed
  bool prefix = false;  // keyed with the first kWindowsPhraseLength characters only
  bool confirmed = false;
  double evidenceBits = 0;
  Plausibility plausibility;  // the detector's verdict on the whole head
};

// Counted per worker; Search::Totals adds up every worker's counts after each batch.
struct Counters {
  uint64_t candidates = 0;  // texts taken from batches
  uint64_t keys = 0;        // keys tried: readings x pairs
  uint64_t survivors = 0;   // keys through the prefilter
  uint64_t assessed = 0;    // heads the detector judged (survivors whose whole head may pass)
  uint64_t plausible = 0;   // heads the detector accepted
  uint64_t confirmed = 0;
  uint64_t refused = 0;  // keys a cipher refused (key size rules)
};

// The file head, the pairs and the encoding: shared by every worker, read-only while they run.
class Search {
 public:
  // head: the first min(fileSize, kSearchHead) bytes of the file; copied.
  Search(std::span<const uint8_t> head, uint64_t fileSize, SearchOptions options);
  ~Search();
  Search(const Search&) = delete;
  Search& operator=(const Search&) = delete;

  // False when the head is too short for any decryption of it to be confirmed (a file of a few
  // dozen bytes): every hit would be unconfirmed.
  bool CanConfirm() const;
  // The most evidence any decryption of this head could show.
  double MaxEvidenceBits() const;

  std::span<const uint8_t> Head() const { return head_; }
  uint64_t FileSize() const { return fileSize_; }
  const SearchOptions& Options() const { return options_; }
  Counters Totals() const;

 private:
  friend class SearchWorker;
  void Add(const Counters& c) const;

  std::vector<uint8_t> head_;
  uint64_t fileSize_ = 0;
  SearchOptions options_;
  static constexpr std::size_t kCounters = 7;
  mutable std::atomic<uint64_t> totals_[kCounters] = {};
};

// One per thread: its own buffers, hashes and ciphers.
class SearchWorker {
 public:
  explicit SearchWorker(const Search& search);
  ~SearchWorker();
  SearchWorker(const SearchWorker&) = delete;
  SearchWorker& operator=(const SearchWorker&) = delete;

  // Tries every candidate of the batch under every pair and appends the hits (confirmed and
  // unconfirmed) to hits, in no particular order. Returns false when stop was set, in which case
  // part of the batch may be untried.
  bool Run(const CandidateBatch& batch, std::vector<Hit>& hits,
           const std::atomic<bool>* stop = nullptr);

  const Counters& Count() const { return counters_; }

 private:
  struct State;
  const Search& search_;
  std::unique_ptr<State> state_;
  Counters counters_;
};

}  // namespace kryvane::recover
