#include "cli/signals.h"

#include <iterator>

namespace kryvane::cli {
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

}  // namespace kryvane::cli
