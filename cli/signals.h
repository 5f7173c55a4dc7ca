// Ctrl-C, SIGTERM and SIGHUP while a job runs: the first asks it to stop, so that it removes its
// temporary files and keeps its source; a second ends the program at once.
#pragma once

#include <signal.h>

#include <atomic>

namespace kryvane::cli {

// Set once one of those signals arrives while a StopSignals lives; jobs poll it.
const std::atomic<bool>& StopRequested();

// While it lives, those signals ask the running jobs to stop; the handler resets itself, so a
// second signal ends the program at once.
class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  struct sigaction saved_[3]{};
};

}  // namespace kryvane::cli
