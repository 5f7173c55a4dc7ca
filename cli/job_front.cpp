#include "cli/job_front.h"

#include "cli/options.h"
#include "cli/report.h"
#include "cli/signals.h"

namespace kryvane::cli {

void SetJobKey(JobRequest& request, const KeyChoice& key) {
  request.passphrase = key.passphrase.Clone();
  request.retypedPassphrase = key.retyped.Clone();
  request.encoding = key.encoding;
  request.cipherPosition = key.cipher->position;
  request.hashPosition = key.hash->position;
}

void SetJobFiles(JobRequest& request, const std::string& source, const std::string& target) {
  request.sourcePath = StreamDisplayName(source, true);
  request.targetPath = StreamDisplayName(target, false);
  request.sourceFd = StreamDescriptor(source, true);
  request.targetFd = StreamDescriptor(target, false);
}

int RunSingleJob(JobRequest& request, bool progress, const std::string& sourceArg) {
  ProgressBar bar(progress);
  if (bar.Enabled()) {
    request.progress = [&bar](uint64_t done, std::optional<uint64_t> total) {
      bar.Update(done, total);
    };
  }
  request.cancel = &StopRequested();
  JobOutcome outcome;
  {
    const StopSignals stopSignals;
    outcome = RunFileJob(request);
  }
  // The bar ends after the report: a warning follows the bar's last state, a failure unwinds it
  // first.
  return ReportJobOutcome(outcome, request, sourceArg);
}

int ReportJobOutcome(const JobOutcome& outcome, const JobRequest& request,
                     const std::string& sourceArg) {
  if (outcome.result == JobResult::kMismatch) {
    Failure("the two passphrases differ; nothing was written", HintsFor(outcome.error->kind));
  }
  if (outcome.result == JobResult::kFailure) {
    Failure(outcome.error->Describe(), HintsFor(outcome.error->kind));
  }
  const bool named = !request.sourceFd;
  const std::string identifyHint =
      "'kryvane-cli identify " + sourceArg + "' finds the cipher and hash that fit the passphrase";
  if (outcome.warning && outcome.warning->kind == ErrorKind::kSourceKept && outcome.resultSuspect) {
    // Garbage is no reason to fail the decryption, but the source stays, and scripts must know.
    PrintWarning(outcome.warning->Describe());
    if (request.encoder == nullptr) PrintHint(identifyHint);
    return kExitFailed;
  }
  if (outcome.warning) {
    // The target is complete, but the source the user wanted gone is still there: scripts must
    // know.
    Failure(outcome.warning->Describe(), HintsFor(outcome.warning->kind));
  }
  if (outcome.ResultLooksRandom()) {
    PrintWarning(request.encoder != nullptr
                     ? request.sourcePath +
                           ": the decryption looks like random bytes; converted anyway (--force)"
                     : request.targetPath + ": " + std::string(kRandomResultMeaning));
    if (named && request.encoder == nullptr) PrintHint(identifyHint);
  }
  return kExitOk;
}

}  // namespace kryvane::cli
