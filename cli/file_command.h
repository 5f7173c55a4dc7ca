// The shared body of `encrypt` and `decrypt`: both run the file job.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/file_job.h"
#include "cli/batch.h"
#include "cli/options.h"

namespace kryvane::cli {

struct FileCommand {
  JobDirection direction = JobDirection::kEncrypt;
  // SOURCE TARGET; or, with an output folder, every SOURCE.
  std::vector<std::string> paths;
  BatchOptions batch;
  AlgorithmOptions algorithms;
  PassphraseOptions passphrase;
  ProgressOptions progress;
  bool deleteSource = false;
  bool saveSettings = false;

  int Run() const;
};

// Adds the subcommand with the options both directions share; the command lives as long as app.
CLI::App* AddFileCommand(CLI::App& app, const std::string& name, const std::string& description,
                         std::shared_ptr<FileCommand> command, int* status);

}  // namespace kryvane::cli
