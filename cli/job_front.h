// The one way a command turns what the user chose (the key, the file names) into a file job's
// request, and the one way it reads the job's outcome: every command that touches files (encrypt,
// decrypt, their batches, convert, identify --decrypt) goes through here, so that a rule written
// once holds for all of them.
#pragma once

#include <string>

#include "app/file_job.h"
#include "cli/keys.h"

namespace kryvane::cli {

// The request's key: passphrase, retyped copy, encoding and menus.
void SetJobKey(JobRequest& request, const KeyChoice& key);
// The request's source and target as the user named them; a descriptor name (see
// StreamDescriptor) becomes that descriptor.
void SetJobFiles(JobRequest& request, const std::string& source, const std::string& target);

// Runs a single file's job, with a progress bar when enabled and Ctrl-C, SIGTERM or SIGHUP
// stopping it (the target is left as it was), and reports its outcome as ReportJobOutcome does.
int RunSingleJob(JobRequest& request, bool progress, const std::string& sourceArg);

// Reads a single job's outcome: throws the CommandError of a failure, prints the warnings, and
// returns the exit status. sourceArg is the source as the user named it (for the identify hint).
int ReportJobOutcome(const JobOutcome& outcome, const JobRequest& request,
                     const std::string& sourceArg);

}  // namespace kryvane::cli
