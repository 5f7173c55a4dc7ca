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
#include "cli/common.h"

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
  // Conversion to age: targets are the source names less legacySuffix, plus suffix.
  bool convert = false;
  std::string legacySuffix = ".kry";
};

// The target's file name for a source's file name: encryption appends the suffix; decryption
// removes it, or appends ".dec" when the name does not end in it.
std::string BatchTargetName(std::string_view name, JobDirection direction, std::string_view suffix);
// A conversion's target name: the legacy suffix removed when the name ends in it, suffix added.
std::string ConvertTargetName(std::string_view name, std::string_view legacySuffix,
                              std::string_view suffix);

// One source file and what it becomes.
struct BatchItem {
  std::string source;
  std::string target;
  std::string settings;   // where --use-settings looks for its key
  uint64_t size = 0;      // at planning time, for progress only
  bool inFolder = false;  // found in a folder, as a regular file: a link there is not followed
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

// Creates the folders between the output folder and the target's, refusing a symbolic link or a
// file in the way, so that nothing is written outside the output folder; the error, if any.
std::optional<std::string> MakeTargetFolders(const std::string& outputDir,
                                             const std::string& target);

// How one file went.
struct BatchFileResult {
  enum class Kind { kDone, kFailed, kSkipped, kNotStarted } kind = Kind::kNotStarted;
  std::string message;  // the cause for kFailed and kSkipped; a leftover warning for kDone
  std::string note;     // a warning that does not fail the batch (a result that looks random)
  uint64_t bytes = 0;
};

struct BatchSummary {
  std::vector<BatchFileResult> results;  // one per plan item, in plan order
  double seconds = 0;
  std::size_t Count(BatchFileResult::Kind kind) const;
  uint64_t Bytes() const;
};

// Runs process for each item on `threads` workers (it makes the target's folders with
// MakeTargetFolders once it will write); process may be called from any worker, reports the bytes
// it has done so far, and may throw a CommandError for a failure of that file alone. A set cancel
// flag stops the batch: running items cancel and leave nothing, the rest are not started. progress,
// when set, is called from the calling thread about ten times a second. At the end every folder
// that received a target is flushed once, so that the targets' names outlast a crash; a failure
// there fails the files in that folder.
struct BatchRun {
  std::string outputDir;  // folders below it are made as the targets need them
  unsigned threads = 1;
  const std::atomic<bool>* cancel = nullptr;
  std::function<BatchFileResult(const BatchItem&, const std::function<void(uint64_t)>& progress)>
      process;
  std::function<void(uint64_t bytesDone, uint64_t bytesTotal, std::size_t filesDone,
                     std::size_t filesTotal)>
      progress;
};
BatchSummary RunBatch(const BatchPlan& plan, const BatchRun& run);

// The `encrypt|decrypt --output-dir DIR SOURCE...` command: plans, runs and prints the summary;
// returns the exit status.
int RunBatchCommand(const FileCommand& command, const std::atomic<bool>* cancel);

// What the batch commands share around RunBatch: the key each file takes, the progress bar, and
// the summary at the end.
struct BatchKeys {
  // Without --use-settings one key serves every file; with it, a key given on the command line
  // serves the files that have no settings file beside them. Obtains the common key.
  BatchKeys(const AlgorithmOptions& algorithms, const PassphraseOptions& passphrase,
            bool useSettings);
  // The key for an item, or nothing when it has none (the caller skips it).
  std::optional<KeyChoice> For(const BatchItem& item) const;

 private:
  const AlgorithmOptions& algorithms_;
  bool useSettings_;
  PassphraseEncoding encoding_;
  std::optional<KeyChoice> common_;
};

// Runs the plan with a progress bar when enabled, prints notes, failures and the summary, and
// returns the exit status (1 when any file failed or was not done).
int RunAndReport(const BatchPlan& plan, BatchRun run, bool progress);

// The run of a batch command: each item takes its key from keys (and is skipped with a note
// without one), its target's folders are made, then process writes it. options and keys must
// outlive the run.
using KeyedProcess = std::function<BatchFileResult(const BatchItem&, const KeyChoice&,
                                                   const std::function<void(uint64_t)>& progress)>;
BatchRun KeyedBatchRun(const BatchOptions& options, const BatchKeys& keys,
                       const std::atomic<bool>* cancel, KeyedProcess process);

// What every batch item sets in its file request (a JobRequest or a ConvertRequest): the key's
// encoding and menus, the paths, with no link followed where the batch found a regular file or
// names the target itself, the stop flag and the progress.
template <class Request>
void SetBatchItem(Request& request, const BatchItem& item, const KeyChoice& key,
                  const std::atomic<bool>* cancel, const std::function<void(uint64_t)>& progress) {
  request.encoding = key.encoding;
  request.cipherPosition = key.cipher->position;
  request.hashPosition = key.hash->position;
  request.sourcePath = item.source;
  request.sourceNoFollow = item.inFolder;
  request.targetPath = item.target;
  request.targetNoFollow = true;
  request.cancel = cancel;
  request.progress = [&progress](uint64_t done, std::optional<uint64_t>) { progress(done); };
}

// Worker threads for -j N: N, or one per core for 0.
unsigned BatchThreads(unsigned jobs);
// A usage error unless there are sources, none of them "-".
void RefuseStandardStreams(const std::vector<std::string>& sources);

}  // namespace kryvane::cli
