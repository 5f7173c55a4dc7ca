// Many files in one command, whatever is done to each (cli/file_batch.h runs the file job on
// them): the batch walks the folders, plans the names, refuses collisions before anything starts,
// runs the items on worker threads and sums up. It walks and writes by folder descriptor: every
// file is opened, created and deleted relative to the folder it was found in (or is written to),
// and a folder swapped for a symbolic link at any time is refused, never followed.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/base/io.h"
#include "app/file_job.h"

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
  std::vector<Error> failed;  // sources that could not even be looked at
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
  // Why it failed (kFailed), or what was left undone after its target was written (kDone: a
  // warning, such as a source that was kept); reported with the hints of its kind.
  std::optional<Error> error;
  std::string skipped;  // why it was left alone (kSkipped)
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

// The output folder and the folders below it, made when the first file goes there and kept open,
// so that every target is created in the folder that was made (never through a link put in its
// place) and each folder is flushed once, at the end.
class OutputTree {
 public:
  explicit OutputTree(std::string root) : root_(std::move(root)) {}

  // The folder rel below the output folder; throws IoError naming what could not be made.
  std::shared_ptr<UniqueFd> Folder(const std::string& rel);

  // Flushes every folder still open; the errno of each that failed (and of those flushed early),
  // by folder below the output folder.
  std::map<std::string, int> Flush();

 private:
  static constexpr std::size_t kKeptOpen = 256;

  void MakeRoot();

  std::mutex mutex_;
  const std::string root_;
  std::shared_ptr<UniqueFd> rootFd_;
  std::map<std::string, std::shared_ptr<UniqueFd>> folders_;
  std::map<std::string, int> errors_;
};

// What the batch does with one item, on a worker thread: its result. progress(done) tells the
// bar how many of the item's bytes are done. A CommandError or exception thrown is the item's
// failure (a CommandError as kRefused, an ErrorException as its own error, anything else as
// kInternal).
using BatchProcess =
    std::function<BatchFileResult(const BatchItem&, const std::function<void(uint64_t)>&)>;

// Runs process for every item of the plan on `threads` workers, with Ctrl-C, SIGTERM and SIGHUP
// stopping the batch through cancel (running items cancel and leave nothing, the rest are not
// started); then flushes the output folders (a target counts as done only once its name is
// durable) and prints what became of every file and the summary. Returns the exit status.
int RunBatch(const BatchPlan& plan, OutputTree& output, unsigned threads,
             const std::atomic<bool>* cancel, bool progress, bool deleteSource,
             const BatchProcess& process);

// Worker threads for -j N: N, or one per core for 0.
unsigned BatchThreads(unsigned jobs);
// A usage error unless there are sources, none of them standard input.
void RefuseStandardStreams(const std::vector<std::string>& sources);

}  // namespace kryvane::cli
