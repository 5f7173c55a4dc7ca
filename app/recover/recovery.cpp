#include "app/recover/recovery.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <mutex>
#include <set>
#include <thread>

namespace kryvane::recover {
namespace {

using Clock = std::chrono::steady_clock;

// Candidates a batch holds: enough that the lock around the generator is rare, few enough that a
// stop waits for little.
constexpr std::size_t kBatchCandidates = 4096;
constexpr std::size_t kMaxUnconfirmed = 100;
// How far above the chance level (log2 of the keys tried) a weak head's evidence must be for it to
// be shown: a wrong key then shows it less than once in 65536 searches.
constexpr double kUnconfirmedMarginBits = 16;

// Hands out batches in order and knows the lowest position not yet tried to the end, which is
// what a restore point may record: a stop lets every batch handed out finish, so a restore tries
// nothing twice, and a crash repeats at most the batches that were running.
class Dispenser {
 public:
  Dispenser(CandidateSource& source, uint64_t end) : source_(source), end_(end) {}

  bool Next(CandidateBatch& batch, const std::atomic<bool>& found, const std::atomic<bool>* stop) {
    std::lock_guard lock(mutex_);
    if (found.load() || (stop && stop->load())) return false;
    if (!source_.Fill(batch, end_)) return false;
    running_.insert(batch.first());
    return true;
  }
  void Done(const CandidateBatch& batch) {
    std::lock_guard lock(mutex_);
    running_.erase(running_.find(batch.first()));
  }
  uint64_t Low() {
    std::lock_guard lock(mutex_);
    return running_.empty() ? source_.position() : *running_.begin();
  }

 private:
  std::mutex mutex_;
  CandidateSource& source_;
  uint64_t end_;
  std::multiset<uint64_t> running_;
};

}  // namespace

RecoveryOutcome RunRecovery(const RecoveryRequest& request) {
  Dispenser dispenser(*request.source, request.end);
  std::atomic<bool> found{false};
  std::atomic<std::size_t> currentLength{0};
  std::atomic<unsigned> alive{request.threads};
  std::mutex resultsMutex;
  RecoveryOutcome outcome;
  std::exception_ptr failure;

  auto work = [&] {
    try {
      SearchWorker worker(*request.search);
      CandidateBatch batch(kBatchCandidates);
      std::vector<Hit> hits;
      while (dispenser.Next(batch, found, request.stop)) {
        if (!batch.empty()) currentLength.store(batch[0].size(), std::memory_order_relaxed);
        hits.clear();
        // A stop lets the batch finish (the restore position then covers it); a found
        // passphrase ends every batch at once.
        const bool whole = worker.Run(batch, hits, &found);
        if (!hits.empty()) {
          std::lock_guard lock(resultsMutex);
          for (const Hit& hit : hits) {
            if (hit.confirmed && !outcome.found) {
              outcome.found = Recovered{Secret(batch[hit.candidate]), hit};
              found.store(true);
            } else if (!hit.confirmed && outcome.unconfirmed.size() < kMaxUnconfirmed) {
              outcome.unconfirmed.push_back(Recovered{Secret(batch[hit.candidate]), hit});
            }
          }
        }
        if (whole) dispenser.Done(batch);
      }
    } catch (...) {
      std::lock_guard lock(resultsMutex);
      if (!failure) failure = std::current_exception();
      found.store(true);
    }
    alive.fetch_sub(1);
  };

  const auto began = Clock::now();
  std::vector<std::thread> pool;
  for (unsigned i = 0; i < request.threads; ++i) pool.emplace_back(work);
  auto lastCheckpoint = began;
  const auto report = [&] {
    RecoveryProgress p;
    p.position = dispenser.Low();
    p.candidates = request.search->Totals().candidates;
    p.seconds = std::chrono::duration<double>(Clock::now() - began).count();
    p.currentLength = currentLength.load(std::memory_order_relaxed);
    if (request.progress) request.progress(p);
  };
  while (alive.load() > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    report();
    if (request.checkpoint &&
        std::chrono::duration<double>(Clock::now() - lastCheckpoint).count() >=
            request.checkpointSeconds) {
      request.checkpoint(dispenser.Low());
      lastCheckpoint = Clock::now();
    }
  }
  for (std::thread& t : pool) t.join();
  if (failure) std::rethrow_exception(failure);
  report();

  outcome.counters = request.search->Totals();
  // A weak plausible head turns up by chance among many keys: only what chance would hardly give
  // among all the keys tried is worth showing (when the file is long enough to tell at all).
  if (request.search->CanConfirm()) {
    const double chance = std::log2(double(std::max<uint64_t>(outcome.counters.keys, 1)));
    std::erase_if(outcome.unconfirmed, [&](const Recovered& r) {
      return r.hit.evidenceBits < chance + kUnconfirmedMarginBits;
    });
  }
  outcome.seconds = std::chrono::duration<double>(Clock::now() - began).count();
  outcome.stoppedAt = dispenser.Low();
  if (outcome.found) {
    outcome.end = RecoveryEnd::kFound;
  } else if (request.stop && request.stop->load() && outcome.stoppedAt < request.end) {
    // A stop that came after the last batch was handed out stopped nothing.
    std::optional<uint64_t> size = request.source->size();
    const bool rest = !size || outcome.stoppedAt < std::min(*size, request.end);
    outcome.end = rest ? RecoveryEnd::kStopped : RecoveryEnd::kExhausted;
    if (rest && request.checkpoint) request.checkpoint(outcome.stoppedAt);
  }
  return outcome;
}

}  // namespace kryvane::recover
