// Many files in one command: `encrypt|decrypt --output-dir DIR SOURCE...`. Every file goes
// through the same file job as a single file; the batch only plans the names, refuses collisions
// before anything starts, runs the jobs on worker threads and sums up.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/file_job.h"

namespace kryvane::cli {
struct FileCommand;
}

namespace kryvane::cli {

struct BatchOptions {
  std::string outputDir;
  bool recursive = false;
  std::string suffix = ".kry";
  unsigned jobs = 0;         // worker threads; 0 means one per core
  bool force = false;        // replace existing targets
  bool useSettings = false;  // decryption: key from NAME-settings.txt beside the source
};

// The target's file name for a source's file name: encryption appends the suffix; decryption
// removes it, or appends ".dec" when the name does not end in it.
std::string BatchTargetName(std::string_view name, JobDirection direction, std::string_view suffix);

// One source file and what it becomes.
struct BatchItem {
  std::string source;
  std::string target;
  std::string settings;  // where --use-settings looks for its key
  uint64_t size = 0;     // at planning time, for progress only
};

struct BatchNote {
  std::string file;
  std::string reason;
};

struct BatchPlan {
  std::vector<BatchItem> items;
  std::vector<BatchNote> skipped;
  std::vector<BatchNote> failed;  // sources that could not even be looked at
};

// Walks the sources (folders only with recursive, symbolic links inside folders not followed),
// names every target and refuses, by throwing a usage error, anything that would make the batch
// overwrite one of its sources or write two sources to one target. Creates the output folder.
BatchPlan PlanBatch(const std::vector<std::string>& sources, const BatchOptions& options,
                    JobDirection direction);

// How one file went.
struct BatchFileResult {
  enum class Kind { kDone, kFailed, kSkipped, kNotStarted } kind = Kind::kNotStarted;
  std::string message;  // the cause for kFailed and kSkipped; a leftover warning for kDone
  uint64_t bytes = 0;
};

struct BatchSummary {
  std::vector<BatchFileResult> results;  // one per plan item, in plan order
  double seconds = 0;
  std::size_t Count(BatchFileResult::Kind kind) const;
  uint64_t Bytes() const;
};

// Runs each item's job on `threads` workers. makeRequest fills a request for an item (key,
// algorithms, flags) or returns a reason to skip it; it may be called from any worker. A set
// cancel flag stops the batch: running jobs cancel and leave nothing, the rest are not started.
// progress, when set, is called from the calling thread about ten times a second.
struct BatchRun {
  std::string outputDir;  // folders below it are made as the targets need them
  unsigned threads = 1;
  const std::atomic<bool>* cancel = nullptr;
  std::function<std::optional<std::string>(const BatchItem&, JobRequest&)> makeRequest;
  std::function<void(uint64_t bytesDone, uint64_t bytesTotal, std::size_t filesDone,
                     std::size_t filesTotal)>
      progress;
};
BatchSummary RunBatch(const BatchPlan& plan, const BatchRun& run);

// The `encrypt|decrypt --output-dir DIR SOURCE...` command: plans, runs and prints the summary;
// returns the exit status.
int RunBatchCommand(const FileCommand& command, const std::atomic<bool>* cancel);

}  // namespace kryvane::cli
