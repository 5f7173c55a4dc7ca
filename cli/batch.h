// Many files in one command: `encrypt|decrypt|convert --output-dir DIR SOURCE...`. Every file goes
// through the same file job as a single file; the batch only walks the folders, plans the names,
// refuses collisions before anything starts, runs the jobs on worker threads and sums up. It walks
// and writes by folder descriptor: every file is opened, created and deleted relative to the folder
// it was found in (or is written to), and a folder swapped for a symbolic link at any time is
// refused, never followed.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/base/io.h"
#include "app/file_job.h"
#include "cli/common.h"

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

// One source file and what it becomes. Paths are for messages; the job reaches the files through
// root, folder and name.
struct BatchItem {
  static constexpr std::size_t kNamed = std::size_t(-1);
  std::string source;
  std::string target;
  std::string settings;       // where --use-settings looks for its key
  std::size_t root = kNamed;  // the walked folder it was found under (BatchPlan::roots), or kNamed
  std::string folder;         // its folder below the root ("" for the root itself)
  std::string name;           // its name there
  std::string targetFolder;   // the target's folder below the output folder ("" for that folder)
  std::string targetName;
  uint64_t size = 0;  // at planning time, for progress only
};

struct BatchNote {
  std::string file;
  std::string reason;
};

struct BatchPlan {
  std::vector<BatchItem> items;
  std::vector<BatchNote> skipped;
  std::vector<BatchNote> failed;  // sources that could not even be looked at
  // The folders named on the command line, opened once when the walk began.
  std::vector<std::shared_ptr<UniqueFd>> roots;
  std::vector<std::string> rootNames;
};

// Walks the sources (folders only with recursive, symbolic links inside folders not followed),
// names every target and refuses, by throwing a usage error, anything that would make the batch
// overwrite one of its sources or write two sources to one target. A file named twice (a folder
// and a file in it) is planned once. Creates nothing.
BatchPlan PlanBatch(const std::vector<std::string>& sources, const BatchOptions& options,
                    JobDirection direction);

// How one file went.
struct BatchFileResult {
  enum class Kind { kDone, kFailed, kSkipped, kNotStarted } kind = Kind::kNotStarted;
  std::string message;  // the cause for kFailed and kSkipped; a leftover warning for kDone
  std::string note;     // a warning that does not fail the batch (a result that looks random)
  uint64_t bytes = 0;
  bool sourceDeleted = false;
};

struct BatchSummary {
  std::vector<BatchFileResult> results;  // one per plan item, in plan order
  double seconds = 0;
  std::size_t Count(BatchFileResult::Kind kind) const;
  uint64_t Bytes() const;
};

// What a batch command is: the direction, the sources and the options of the command line.
struct BatchCommand {
  JobDirection direction = JobDirection::kEncrypt;
  const std::vector<std::string>& paths;
  const BatchOptions& options;
  const AlgorithmOptions& algorithms;
  const PassphraseOptions& passphrase;
  bool deleteSource = false;
  bool saveSettings = false;
};

// What a command adds to each item's request after the batch filled it (a conversion's encoder);
// returns what must live as long as the job.
using BatchExtra = std::function<std::unique_ptr<TargetEncoder>(JobRequest&)>;

// Plans, runs and prints the summary; returns the exit status. Every usage error and conflict of
// options is reported before anything is created; the output folder is made when the first file
// is written.
int RunFileBatch(const BatchCommand& command, const std::atomic<bool>* cancel, bool progress,
                 const BatchExtra& extra = {});

// Worker threads for -j N: N, or one per core for 0.
unsigned BatchThreads(unsigned jobs);
// A usage error unless there are sources, none of them standard input.
void RefuseStandardStreams(const std::vector<std::string>& sources);

}  // namespace kryvane::cli
