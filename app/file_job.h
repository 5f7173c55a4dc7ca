// The file job behind Encrypt and Decrypt, free of any GUI toolkit: one source file becomes one
// target file under a passphrase, with a cipher and a hash from the two menus. The window and
// kryvane-cli both call RunFileJob; the window may run it on a worker thread and show progress.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/base/error.h"
#include "app/base/secret.h"
#include "app/detector.h"
#include "app/passphrase.h"
#include "app/settings_schema.h"

namespace kryvane {

// Status bar texts of the job's outcomes, exactly as the Windows program showed them.
inline constexpr std::string_view kStatusMismatch =
    "Last action: Passphrase mismatch !, retype phrase";
inline constexpr std::string_view kStatusEncrypted = "Last action: File encrypted successfully";
inline constexpr std::string_view kStatusDecrypted = "Last action: File decrypted successfully";
inline constexpr std::string_view kStatusFailed =
    "Last action: File IO error or file does not exists";

enum class JobDirection { kEncrypt, kDecrypt };

// What a decryption's plaintext becomes when the target holds something else than the plaintext
// itself (an age file, for convert). The job still opens the source, prepares, flushes, verifies
// and commits the target, guards the result and deletes the source; the encoder only turns the
// plaintext into the target's bytes. Its calls come one at a time and in order, though not all
// from one thread: Write may run on the thread that writes the target behind the decryption, so
// that encoding overlaps decrypting. Any call may throw; the job then fails with that error.
class TargetEncoder {
 public:
  virtual ~TargetEncoder() = default;
  // Once, with the target's descriptor, when the first plaintext is about to come; verified says
  // whether Verify will follow (what only the read-back needs need not be kept otherwise).
  virtual void Begin(int fd, const std::string& name, bool verified) = 0;
  virtual void Write(const uint8_t* data, std::size_t size) = 0;
  // After the last plaintext; the target is then complete.
  virtual void End() = 0;
  // Reads the flushed target back from its start through fd and throws unless it holds exactly
  // what was written.
  virtual void Verify(int fd, const std::string& name) = 0;
};

struct JobRequest {
  JobDirection direction = JobDirection::kEncrypt;
  std::string sourcePath;
  std::string targetPath;
  // Read from these descriptors instead of opening the paths (standard input and output, for
  // example); the paths then only name them in messages. Not owned. A source descriptor is read to
  // its end; a target descriptor is written directly.
  std::optional<int> sourceFd;
  std::optional<int> targetFd;
  // The folders that hold the source and the target (not owned), when the caller walked to them,
  // and the names within: the job then opens, creates and deletes only relative to them, and never
  // through a symbolic link. -1: the folders of the paths, opened once.
  int sourceFolder = -1;
  std::string sourceName;
  int targetFolder = -1;
  std::string targetName;

  // Text as typed, UTF-8 (text that is not valid UTF-8 is taken as bytes); see EncodePassphrase.
  Secret passphrase;
  Secret retypedPassphrase;
  PassphraseEncoding encoding = PassphraseEncoding::kAuto;

  // Menu positions (cipher 0-16, hash 0-9); nothing when an edited menu has no selected entry.
  std::optional<int> cipherPosition;
  std::optional<int> hashPosition;
  // The menu texts as displayed, for the settings file; empty means the catalogue's text.
  std::string cipherMenuText;
  std::string hashMenuText;

  bool deleteSource = false;
  // The source path's last step is never followed: a symbolic link there is refused (a batch
  // found a regular file there, and a link put in its place since must not redirect the job).
  bool sourceNoFollow = false;
  // Likewise for the target: a symbolic link there is refused, not replaced through (a batch
  // names its own targets, and never means the files their links point to).
  bool targetNoFollow = false;
  // The target's data is flushed, but its name in the folder is left for the caller to make
  // durable (a batch flushes each folder once, at its end). Ignored with deleteSource: a source
  // goes only once its target would survive a crash.
  bool folderFlushedLater = false;
  bool saveSettings = false;  // encryption only; ignored when decrypting

  // Decryption only: what the plaintext becomes instead (not owned). See TargetEncoder.
  TargetEncoder* encoder = nullptr;
  // A decryption that looks random stops before anything reaches the target, as kSuspectResult.
  bool refuseSuspectResult = false;
  // The target is read back from the disk before it takes its name. Always done, whatever this
  // says, before a source is deleted.
  bool verifyTarget = false;

  // Called now and then from the job's thread with the bytes done and the total (nothing for a
  // source of unknown size, such as a pipe).
  std::function<void(uint64_t done, std::optional<uint64_t> total)> progress;
  // Set from any thread to stop the job; it then fails and leaves no target behind.
  const std::atomic<bool>* cancel = nullptr;
};

enum class JobResult { kSuccess, kMismatch, kFailure };

// The job's errors are the program's one error (app/base/error.h); the old names stay for callers.
using JobErrorKind = ErrorKind;
using JobError = Error;

struct JobOutcome {
  JobResult result = JobResult::kFailure;
  std::string_view statusText;      // one of the status texts above
  std::optional<JobError> error;    // set for kFailure and kMismatch
  std::optional<JobError> warning;  // a success with a leftover problem (source not deleted)
  bool targetWritten = false;       // the target is complete on disk
  bool settingsWritten = false;     // the settings file holds this job's passphrase and menus
  bool sourceDeleted = false;
  bool verified = false;  // the target was read back from the disk and matched
  uint64_t bytes = 0;     // bytes transformed (the plaintext's, for an encoder)

  // A file records no check value, so a wrong passphrase, cipher or hash decrypts into garbage
  // without an error. What the plausibility detector made of the start of a decryption's result
  // (nothing for encryptions and failures):
  std::optional<Plausibility> resultCheck;
  // The result looks like what a wrong passphrase, cipher or hash gives: random-looking bytes, or
  // too few bytes to tell them from such garbage. A source to be deleted was kept (the warning
  // says so, kind kSourceKept); the target was written all the same.
  bool resultSuspect = false;

  bool Succeeded() const { return result == JobResult::kSuccess; }
  // The decrypted result is random-looking: worth a warning even when no source was to be deleted.
  bool ResultLooksRandom() const {
    return resultCheck && resultCheck->verdict == Verdict::kRandomLooking;
  }
};

// Runs the job; safe to call from several threads at once for different files.
JobOutcome RunFileJob(const JobRequest& request);

}  // namespace kryvane
