#include "cli/job_front.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>

#include "app/base/io.h"
#include "cli/commands.h"

namespace kryvane::cli {
namespace {

std::optional<int> DescriptorNumber(std::string_view digits) {
  int fd = -1;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), fd);
  if (ec != std::errc() || end != digits.data() + digits.size() || digits.empty()) {
    return std::nullopt;
  }
  return fd;
}

std::optional<int> NamedDescriptor(const std::string& name, bool source) {
  if (name == "-") return source ? STDIN_FILENO : STDOUT_FILENO;
  if (name == "/dev/stdin") return STDIN_FILENO;
  if (name == "/dev/stdout") return STDOUT_FILENO;
  if (name == "/dev/stderr") return STDERR_FILENO;
  for (const std::string_view prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    if (name.starts_with(prefix))
      return DescriptorNumber(std::string_view(name).substr(prefix.size()));
  }
  return std::nullopt;
}

std::string DisplayName(const std::string& name, bool source) {
  if (name == "-") return source ? "standard input" : "standard output";
  return name;
}

}  // namespace

std::optional<int> StreamDescriptor(const std::string& name, bool source) {
  const std::optional<int> fd = NamedDescriptor(name, source);
  if (!fd) return std::nullopt;
  const bool closed =
      (*fd <= STDERR_FILENO && StandardDescriptorWasClosed(*fd)) || ::fcntl(*fd, F_GETFD) < 0;
  if (closed) {
    Failure(FormatError(DisplayName(name, source), source ? "read" : "write", ErrnoText(EBADF)));
  }
  return fd;
}

bool NamedStream(const std::string& name, bool source) {
  return NamedDescriptor(name, source).has_value();
}

bool IsStandardInput(const std::string& name) {
  return NamedDescriptor(name, true) == STDIN_FILENO;
}

void SetJobKey(JobRequest& request, const KeyChoice& key) {
  request.passphrase = key.passphrase.Clone();
  request.retypedPassphrase = key.retyped.Clone();
  request.encoding = key.encoding;
  request.cipherPosition = key.cipher->position;
  request.hashPosition = key.hash->position;
}

void SetJobFiles(JobRequest& request, const std::string& source, const std::string& target) {
  request.sourcePath = DisplayName(source, true);
  request.targetPath = DisplayName(target, false);
  request.sourceFd = StreamDescriptor(source, true);
  request.targetFd = StreamDescriptor(target, false);
}

std::vector<std::string> HintsFor(const JobError& error) {
  switch (error.kind) {
    case JobErrorKind::kMismatch:
      return {"type the same passphrase twice"};
    case JobErrorKind::kSameFile:
      return {"write to another file; it replaces the target once it is complete"};
    case JobErrorKind::kCancelled:
      return {"stopped by a signal; the target was left as it was and the source kept"};
    case JobErrorKind::kSuspectResult:
      return {"check the passphrase, -c and -H; the source was kept",
              "--force converts anyway, for a file that is itself random-looking"};
    case JobErrorKind::kSourceKept:
      return {"the target was written; the source was kept"};
    case JobErrorKind::kSourceChanged:
      return {"the target was written"};
    case JobErrorKind::kRefused:
    case JobErrorKind::kIo:
    case JobErrorKind::kInternal:
    case JobErrorKind::kKeys:
    case JobErrorKind::kHeader:
    case JobErrorKind::kArmor:
    case JobErrorKind::kNoMatch:
    case JobErrorKind::kHmac:
    case JobErrorKind::kPayload:
      break;
  }
  return {};
}

int ReportJobOutcome(const JobOutcome& outcome, const JobRequest& request,
                     const std::string& sourceArg) {
  if (outcome.result == JobResult::kMismatch) {
    Failure("the two passphrases differ; nothing was written", HintsFor(*outcome.error));
  }
  if (outcome.result == JobResult::kFailure) {
    Failure(outcome.error->Describe(), HintsFor(*outcome.error));
  }
  const bool named = !request.sourceFd;
  const std::string identifyHint =
      "'kryvane-cli identify " + sourceArg + "' finds the cipher and hash that fit the passphrase";
  if (outcome.warning && outcome.warning->kind == JobErrorKind::kSourceKept &&
      outcome.resultSuspect) {
    // Garbage is no reason to fail the decryption, but the source stays, and scripts must know.
    PrintWarning(outcome.warning->Describe());
    if (request.encoder == nullptr) PrintHint(identifyHint);
    return kExitFailed;
  }
  if (outcome.warning) {
    // The target is complete, but the source the user wanted gone is still there: scripts must
    // know.
    Failure(outcome.warning->Describe(), HintsFor(*outcome.warning));
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
