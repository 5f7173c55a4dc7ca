// The one way a command turns what the user chose (the key, the file names) into a file job's
// request, and the one way it reads the job's outcome: every command that touches files (encrypt,
// decrypt, their batches, convert, identify --decrypt) goes through here, so that a rule written
// once holds for all of them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/file_job.h"
#include "cli/common.h"

namespace kryvane::cli {

// The descriptor a name stands for: "-" (standard input for a source, output for a target),
// /dev/stdin, /dev/stdout, /dev/stderr, /dev/fd/N and /proc/self/fd/N. Such a name is used as the
// open descriptor it names, never as a file to replace. A standard descriptor that was closed when
// the program started fails with "Bad file descriptor", as cat does; so does one not open now.
std::optional<int> StreamDescriptor(const std::string& name, bool source);
// Whether name stands for a descriptor (without checking it).
bool NamedStream(const std::string& name, bool source);
// Whether name stands for standard input.
bool IsStandardInput(const std::string& name);

// The request's key: passphrase, retyped copy, encoding and menus.
void SetJobKey(JobRequest& request, const KeyChoice& key);
// The request's source and target as the user named them; a descriptor name (see
// StreamDescriptor) becomes that descriptor.
void SetJobFiles(JobRequest& request, const std::string& source, const std::string& target);

// The hints for an error of this kind; chosen from the kind, never from the text.
std::vector<std::string> HintsFor(const JobError& error);

// Reads a single job's outcome: throws the CommandError of a failure, prints the warnings, and
// returns the exit status. sourceArg is the source as the user named it (for the identify hint).
int ReportJobOutcome(const JobOutcome& outcome, const JobRequest& request,
                     const std::string& sourceArg);

}  // namespace kryvane::cli
