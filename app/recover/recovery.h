// One passphrase search from start to end, for the command line and the window alike: candidates
// from a source, tried on every core against the start of a file, with progress, a stop that
// leaves a clean restore position, and the passphrase found.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "app/base/secret.h"
#include "app/recover/candidates.h"
#include "app/recover/search.h"

namespace kryvane::recover {

struct RecoveryProgress {
  uint64_t position = 0;          // every position below this one was tried
  uint64_t candidates = 0;        // candidates tried so far
  double seconds = 0;             // since the start
  std::size_t currentLength = 0;  // of the candidates being tried now
};

struct RecoveryRequest {
  const Search* search = nullptr;
  // Positioned where the search starts; searched up to end. Used from the calling thread and the
  // workers, one at a time.
  CandidateSource* source = nullptr;
  uint64_t end = kNoEnd;
  unsigned threads = 1;
  // From the calling thread, about five times a second.
  std::function<void(const RecoveryProgress&)> progress;
  // From the calling thread, every checkpointSeconds and once at a stop: the position a restore
  // point may record.
  std::function<void(uint64_t position)> checkpoint;
  double checkpointSeconds = 30;
  // Set from anywhere: the batches being tried finish, nothing more is started.
  const std::atomic<bool>* stop = nullptr;
};

struct Recovered {
  Secret passphrase;  // the candidate's text (UTF-8, as the source gave it)
  Hit hit;
};

enum class RecoveryEnd {
  kFound,      // a confirmed passphrase
  kExhausted,  // the whole space was tried
  kStopped,    // stop was set first; stoppedAt says where to go on
};

struct RecoveryOutcome {
  RecoveryEnd end = RecoveryEnd::kExhausted;
  std::optional<Recovered> found;
  // Candidates whose decryption looked plausible but too short to be sure of (at most 100).
  std::vector<Recovered> unconfirmed;
  uint64_t stoppedAt = 0;
  Counters counters;
  double seconds = 0;
};

// Runs the search; returns when it found, went through its space or was stopped. Rethrows the
// first failure of a worker.
RecoveryOutcome RunRecovery(const RecoveryRequest& request);

}  // namespace kryvane::recover
