// The batch of encrypt, decrypt and convert (`--output-dir DIR SOURCE...`): every planned file
// goes through the same file job as a single file, keyed once or from the settings file beside
// it.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/file_job.h"
#include "cli/batch.h"
#include "cli/keys.h"

namespace kryvane::cli {

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

}  // namespace kryvane::cli
