#include "app/file_job.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <memory>
#include <utility>

#include "app/catalogue.h"
#include "app/file_util.h"
#include "app/settings_file.h"
#include "crypto/bytes.h"
#include "crypto/components.h"
#include "crypto/streams.h"

namespace kryvane {
namespace {

// Thrown inside the job and turned into its outcome in one place.
struct JobFailure {
  JobError error;
};

[[noreturn]] void Fail(std::string file, std::string operation, std::string cause) {
  throw JobFailure{JobError{std::move(file), std::move(operation), std::move(cause)}};
}

// The cause part of a StreamError raised for name ("name: read failed: cause").
std::string StreamCause(const StreamError& e, const std::string& name, std::string_view op) {
  const std::string prefix = name + ": " + std::string(op) + " failed: ";
  const std::string_view what = e.what();
  return std::string(what.starts_with(prefix) ? what.substr(prefix.size()) : what);
}

constexpr uint64_t kProgressStep = 1 << 20;

bool IsCancelled(const JobRequest& request) {
  return request.cancel != nullptr && request.cancel->load(std::memory_order_relaxed);
}

[[noreturn]] void FailCancelled(const JobRequest& request) {
  Fail("", request.direction == JobDirection::kEncrypt ? "encrypt" : "decrypt", "cancelled");
}

// How often a wait for the other end of a pipe looks at the cancel flag.
constexpr int kWaitStepMs = 50;

// A pipe or device was opened without blocking, so that waiting for its other end stays
// cancellable; from now on it reads and writes as usual.
void MakeBlocking(int fd, const std::string& name) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    Fail(name, "open", ErrnoText(errno));
  }
}

// Waits until a source that is not a regular file has something to read (for a pipe: its writer
// came), checking the cancel flag.
void AwaitReadable(int fd, const JobRequest& request) {
  for (;;) {
    if (IsCancelled(request)) FailCancelled(request);
    pollfd p = {fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, kWaitStepMs);
    if (ready > 0) break;
    if (ready < 0 && errno != EINTR) Fail(request.sourcePath, "read", ErrnoText(errno));
  }
  MakeBlocking(fd, request.sourcePath);
}

// Reads through FdSource, reporting progress and honouring the cancel flag between chunks.
class WatchedSource final : public ByteSource {
 public:
  WatchedSource(int fd, std::string name, const JobRequest& request, std::optional<uint64_t> total)
      : inner_(fd, name), name_(std::move(name)), request_(request), total_(total) {}

  std::size_t Read(void* buffer, std::size_t n) override {
    if (Cancelled()) FailCancelled(request_);
    std::size_t got;
    try {
      got = inner_.Read(buffer, n);
    } catch (const StreamError& e) {
      Fail(name_, "read", StreamCause(e, name_, "read"));
    }
    done_ += got;
    if (request_.progress && done_ - reported_ >= kProgressStep) Report();
    return got;
  }

  bool Cancelled() const { return IsCancelled(request_); }
  void Report() {
    reported_ = done_;
    if (request_.progress) request_.progress(done_, total_);
  }

 private:
  FdSource inner_;
  std::string name_;
  const JobRequest& request_;
  std::optional<uint64_t> total_;
  uint64_t done_ = 0;
  uint64_t reported_ = 0;
};

class CheckedSink final : public ByteSink {
 public:
  CheckedSink(int fd, std::string name) : inner_(fd, name), name_(std::move(name)) {}

  void Write(const void* buffer, std::size_t n) override {
    try {
      inner_.Write(buffer, n);
    } catch (const StreamError& e) {
      Fail(name_, "write", StreamCause(e, name_, "write"));
    }
  }

 private:
  FdSink inner_;
  std::string name_;
};

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The target being written: either a temporary file beside it that replaces it on Commit, or,
// for a device, pipe or terminal, the target itself. The temporary file has no name until Commit
// where the system allows it, so even a kill leaves nothing; a named one that was not committed is
// removed, so a failure never leaves a partial target.
class TargetFile {
 public:
  TargetFile(const JobRequest& request, const struct stat& source) : name_(request.targetPath) {
    if (request.targetFd) {
      fd_ = *request.targetFd;
      if (::fstat(fd_, &stat_) != 0) Fail(name_, "open", ErrnoText(errno));
      RefuseSameFile(source);
      return;
    }
    if (::stat(name_.c_str(), &stat_) != 0) {
      if (errno != ENOENT) Fail(name_, "open", ErrnoText(errno));
      CreateTemp(name_, 0666);
      return;
    }
    RefuseSameFile(source);
    if (S_ISDIR(stat_.st_mode)) Fail(name_, "open", ErrnoText(EISDIR));
    if (S_ISREG(stat_.st_mode)) {
      // Replacing goes by rename, which ignores the file's own permissions: a file its owner made
      // read-only is refused as a write to it would be.
      if (::faccessat(AT_FDCWD, name_.c_str(), W_OK, AT_EACCESS) != 0) {
        Fail(name_, "open", ErrnoText(errno));
      }
      // Replace what a symbolic link points at, not the link, and keep the file's permissions.
      CreateTemp(ResolveLinks(name_), stat_.st_mode & 07777);
      if (::fchown(fd_, stat_.st_uid, stat_.st_gid) != 0) {
        // Only possible for our own files or as root; otherwise the new file is simply ours.
      }
      if (::fchmod(fd_, stat_.st_mode & 07777) != 0) Fail(name_, "create", ErrnoText(errno));
      return;
    }
    // A device, FIFO or socket is written as it is, like standard output. A FIFO without a
    // reader refuses a non-blocking open; wait for one, cancellably.
    for (;;) {
      owned_ = UniqueFd(::open(name_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
      if (owned_) break;
      if (errno != ENXIO || !S_ISFIFO(stat_.st_mode)) Fail(name_, "open", ErrnoText(errno));
      if (IsCancelled(request)) FailCancelled(request);
      ::poll(nullptr, 0, kWaitStepMs);
    }
    fd_ = owned_.Get();
    MakeBlocking(fd_, name_);
  }

  TargetFile(const TargetFile&) = delete;
  TargetFile& operator=(const TargetFile&) = delete;

  ~TargetFile() {
    // An unnamed temporary file vanishes with its descriptor.
    if (!tempPath_.empty() && !committed_) {
      owned_.Close();
      ::unlink(tempPath_.c_str());
    }
  }

  int Fd() const { return fd_; }
  const std::string& Name() const { return name_; }

  // Makes the written data durable and, for a temporary file, puts it in the target's place.
  void Commit() {
    const bool regular = replacing_ || S_ISREG(stat_.st_mode);
    if (regular && ::fsync(fd_) != 0) Fail(name_, "write", ErrnoText(errno));
    if (unnamed_) {
      // A fresh name first, then the same atomic rename over the target as for a named one.
      if (const int err = LinkUnnamedBeside(fd_, finalPath_, &tempPath_); err != 0) {
        Fail(name_, "replace", ErrnoText(err));
      }
    }
    if (const int err = owned_.Close(); err != 0) Fail(name_, "write", ErrnoText(err));
    if (!replacing_) return;
    if (::rename(tempPath_.c_str(), finalPath_.c_str()) != 0) {
      Fail(name_, "replace", ErrnoText(errno));
    }
    committed_ = true;
    if (const int err = SyncParentFolder(finalPath_); err != 0) {
      Fail(name_, "write", ErrnoText(err));
    }
  }

 private:
  void RefuseSameFile(const struct stat& source) {
    // Only regular files lose content; a terminal may well be both ends.
    if (S_ISREG(stat_.st_mode) && SameFile(stat_, source)) {
      Fail(name_, "open", "it is the same file as the source");
    }
  }

  void CreateTemp(const std::string& finalPath, mode_t mode) {
    finalPath_ = finalPath;
    replacing_ = true;
    owned_ = UniqueFd(CreateUnnamedBeside(finalPath_, mode));
    unnamed_ = static_cast<bool>(owned_);
    // Some file systems refuse unnamed files; a named one does as well short of a kill.
    if (!owned_) owned_ = UniqueFd(CreateTempBeside(finalPath_, mode, &tempPath_));
    if (!owned_) Fail(name_, "create", ErrnoText(errno));
    fd_ = owned_.Get();
  }

  std::string name_;
  struct stat stat_ {};
  int fd_ = -1;
  UniqueFd owned_;
  std::string finalPath_;
  std::string tempPath_;
  bool replacing_ = false;  // writing a temporary file that takes the target's place
  bool unnamed_ = false;    // that file has no name yet
  bool committed_ = false;
};

// Wipes the cipher when the job ends, however it ends.
struct CipherGuard {
  std::unique_ptr<Cipher> cipher;
  ~CipherGuard() {
    if (cipher) cipher->Wipe();
  }
};

struct Choice {
  const CipherEntry* cipher;
  const HashEntry* hash;
};

Choice Choose(const JobRequest& request) {
  const auto ciphers = CipherCatalogue();
  const auto hashes = HashCatalogue();
  const auto& cp = request.cipherPosition;
  const auto& hp = request.hashPosition;
  if (!cp || *cp < 0 || static_cast<std::size_t>(*cp) >= ciphers.size()) {
    Fail("", "select cipher", "no entry of the cipher menu is selected");
  }
  if (!hp || *hp < 0 || static_cast<std::size_t>(*hp) >= hashes.size()) {
    Fail("", "select hash", "no entry of the hash menu is selected");
  }
  const CipherEntry& c = ciphers[static_cast<std::size_t>(*cp)];
  const HashEntry& h = hashes[static_cast<std::size_t>(*hp)];
  return {&c, &h};
}

void Run(const JobRequest& request, const Choice& choice, JobOutcome& outcome) {
  const bool encrypt = request.direction == JobDirection::kEncrypt;
  const bool saveSettings = encrypt && request.saveSettings;
  const std::string settingsPath = request.sourcePath + std::string(kSettingsSuffix);

  // Everything that can be refused without touching a file is refused first.
  std::optional<std::string> key = EncodePassphrase(request.passphrase, request.encoding);
  if (!key) Fail("", "encode passphrase", "the passphrase has characters outside Windows-1252");
  struct Wiper {
    std::string& s;
    ~Wiper() { SecureZero(s.data(), s.size()); }
  } wipeKey{*key};
  if (request.sourceFd && (saveSettings || request.deleteSource)) {
    Fail(request.sourcePath, saveSettings ? "save settings" : "delete",
         "the source is not a named file");
  }
  if (saveSettings && !IsStorableProfileValue(request.passphrase)) {
    Fail(settingsPath, "write", "a passphrase with a line break cannot be stored");
  }
  if (saveSettings && request.encoding != PassphraseEncoding::kAuto) {
    // The settings file records no encoding, and whoever reads it keys with the automatic one.
    std::optional<std::string> automatic =
        EncodePassphrase(request.passphrase, PassphraseEncoding::kAuto);
    const bool same = automatic == key;
    if (automatic) SecureZero(automatic->data(), automatic->size());
    if (!same) {
      Fail(settingsPath, "write",
           "the settings file cannot record the passphrase encoding, and this passphrase is "
           "keyed differently under the automatic one");
    }
  }
  if (saveSettings) {
    // The settings write would replace the ciphertext just written.
    struct stat t, s;
    const bool same = request.targetFd ? ::fstat(*request.targetFd, &t) == 0 &&
                                             ::stat(settingsPath.c_str(), &s) == 0 &&
                                             S_ISREG(t.st_mode) && SameFile(t, s)
                                       : SamePlace(request.targetPath, settingsPath);
    if (same) Fail(request.targetPath, "open", "it is the settings file the job is to write");
  }
  if (request.deleteSource) {
    // Only a regular file holds the result safely on disk; a device or pipe passes it on.
    // A descriptor handed in (standard output) is written directly, whatever it is. A missing
    // target becomes a regular file; a folder is refused with its own message below.
    struct stat t;
    const bool regular = !request.targetFd && (::stat(request.targetPath.c_str(), &t) != 0 ||
                                               S_ISREG(t.st_mode) || S_ISDIR(t.st_mode));
    if (!regular) {
      Fail(request.sourcePath, "delete", "the target is not a regular file, so the source is kept");
    }
  }

  // The source first: a missing source must not leave a new target behind.
  UniqueFd sourceOwned;
  int sourceFd;
  if (request.sourceFd) {
    sourceFd = *request.sourceFd;
  } else {
    // Without blocking, so that a FIFO waiting for its writer stays cancellable.
    sourceOwned =
        UniqueFd(::open(request.sourcePath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!sourceOwned) Fail(request.sourcePath, "open", ErrnoText(errno));
    sourceFd = sourceOwned.Get();
  }
  struct stat source;
  if (::fstat(sourceFd, &source) != 0) Fail(request.sourcePath, "open", ErrnoText(errno));
  if (S_ISDIR(source.st_mode)) Fail(request.sourcePath, "open", ErrnoText(EISDIR));
  if (sourceOwned) {
    if (S_ISREG(source.st_mode)) {
      MakeBlocking(sourceFd, request.sourcePath);
    } else {
      AwaitReadable(sourceFd, request);
    }
  }
  std::optional<uint64_t> total;
  if (S_ISREG(source.st_mode)) {
    // A descriptor handed in may already have been read from; what is left is what counts.
    const off_t at = request.sourceFd ? ::lseek(sourceFd, 0, SEEK_CUR) : 0;
    total = static_cast<uint64_t>(source.st_size -
                                  std::min<off_t>(std::max<off_t>(at, 0), source.st_size));
  }

  TargetFile target(request, source);

  CipherGuard guard{choice.cipher->cipher.Create()};
  try {
    guard.cipher->InitFromPassphrase(*key, choice.hash->hash);
  } catch (const CipherError& e) {
    Fail("", "derive key", e.what());
  }

  WatchedSource reader(sourceFd, request.sourcePath, request, total);
  CheckedSink writer(target.Fd(), target.Name());
  const uint64_t size = total.value_or(std::numeric_limits<uint64_t>::max());
  const uint64_t done = encrypt ? guard.cipher->EncryptStream(reader, writer, size)
                                : guard.cipher->DecryptStream(reader, writer, size);
  if (total && done != *total) {
    Fail(request.sourcePath, "read",
         "the file ended after " + std::to_string(done) + " of " + std::to_string(*total) +
             " bytes (was it changed while being read?)");
  }
  guard.cipher->Wipe();
  guard.cipher.reset();
  if (reader.Cancelled()) Fail("", encrypt ? "encrypt" : "decrypt", "cancelled");
  outcome.bytes = done;
  reader.Report();

  target.Commit();
  outcome.targetWritten = true;
  sourceOwned.Close();

  if (saveSettings) {
    const std::string cipherText = request.cipherMenuText.empty()
                                       ? std::string(choice.cipher->menuText)
                                       : request.cipherMenuText;
    const std::string hashText =
        request.hashMenuText.empty() ? std::string(choice.hash->menuText) : request.hashMenuText;
    try {
      WriteProfileStrings(
          settingsPath, kSettingsSection,
          {{"Phrase", request.passphrase}, {"Cipher", cipherText}, {"Hash", hashText}});
    } catch (const SettingsError& e) {
      Fail(e.File(), e.Operation(), e.Cause());
    }
  }

  if (request.deleteSource && ::unlink(request.sourcePath.c_str()) != 0) {
    outcome.warning = JobError{request.sourcePath, "delete", ErrnoText(errno)};
  }
}

}  // namespace

std::string JobError::Describe() const {
  std::string text;
  for (const std::string* part : {&file, &operation, &cause}) {
    if (part->empty()) continue;
    if (!text.empty()) text += ": ";
    text += *part;
  }
  return text;
}

JobOutcome RunFileJob(const JobRequest& request) {
  JobOutcome outcome;
  try {
    // A mismatch is reported before anything else, as the window always did.
    if (request.passphrase != request.retypedPassphrase) {
      outcome.result = JobResult::kMismatch;
      outcome.statusText = kStatusMismatch;
      outcome.error = JobError{"", "compare passphrases", "the two passphrases differ"};
      return outcome;
    }
    const Choice choice = Choose(request);
    Run(request, choice, outcome);
  } catch (const JobFailure& f) {
    outcome.result = JobResult::kFailure;
    outcome.statusText = kStatusFailed;
    outcome.error = f.error;
    outcome.warning.reset();
    return outcome;
  } catch (const std::exception& e) {
    // A cipher error or an allocation failure: the job fails like any other.
    outcome.result = JobResult::kFailure;
    outcome.statusText = kStatusFailed;
    outcome.error =
        JobError{"", request.direction == JobDirection::kEncrypt ? "encrypt" : "decrypt", e.what()};
    return outcome;
  }
  outcome.result = JobResult::kSuccess;
  outcome.statusText =
      request.direction == JobDirection::kEncrypt ? kStatusEncrypted : kStatusDecrypted;
  return outcome;
}

}  // namespace kryvane
