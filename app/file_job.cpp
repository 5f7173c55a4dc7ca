#include "app/file_job.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "app/base/atomic_output.h"
#include "app/base/file_util.h"
#include "app/base/io.h"
#include "app/base/io_pipeline.h"
#include "app/catalogue.h"
#include "app/identify.h"
#include "app/settings_file.h"
#include "crypto/components.h"

namespace kryvane {
namespace {

// Failures inside the job are thrown and turned into its outcome in one place.
[[noreturn]] void Fail(JobErrorKind kind, std::string file, std::string operation,
                       std::string cause) {
  throw ErrorException(JobError{std::move(file), std::move(operation), std::move(cause), kind, 0});
}

[[noreturn]] void FailErrno(std::string file, std::string operation, int errnum) {
  throw ErrorException(std::move(file), std::move(operation), errnum);
}

constexpr uint64_t kProgressStep = 1 << 20;

// How often a wait for the other end of a pipe looks at the cancel flag.
constexpr int kWaitStepMs = 50;

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Runs the cipher over data in calls of kStreamChunk bytes (the last may be shorter): the chain
// of the file format is defined over those calls.
void TransformChunks(Cipher& cipher, bool encrypt, uint8_t* data, std::size_t size) {
  for (std::size_t at = 0; at < size; at += Cipher::kStreamChunk) {
    const std::size_t n = std::min(Cipher::kStreamChunk, size - at);
    if (encrypt) {
      cipher.Encrypt(data + at, data + at, n);
    } else {
      cipher.Decrypt(data + at, data + at, n);
    }
  }
}

// CBC decryption of a block needs only the ciphertext block before it, so a second keyed copy of
// the cipher on another core decrypts pieces of each buffer alongside the job's thread. The two
// take pieces as they come free rather than a half each: when a third thread (an encoder) or
// another program has a core for a while, the other thread decrypts more instead of waiting.
// Encryption and the other modes chain serially and are never split.
class SplitDecryptor {
 public:
  static std::unique_ptr<SplitDecryptor> For(Cipher& keyed, const CipherRef& ref,
                                             std::string_view key, const HashRef& hash) {
    const auto* block = dynamic_cast<const BlockCipher*>(&keyed);
    if (block == nullptr || block->CipherMode() != ChainingMode::cmCBC ||
        std::thread::hardware_concurrency() < 2) {
      return nullptr;
    }
    std::unique_ptr<Cipher> copy = ref.Create();
    copy->InitFromPassphrase(key, hash);
    auto* copyBlock = dynamic_cast<BlockCipher*>(copy.get());
    if (copyBlock == nullptr) return nullptr;
    copyBlock->SetCipherMode(ChainingMode::cmCBC);
    return std::unique_ptr<SplitDecryptor>(new SplitDecryptor(std::move(copy)));
  }

  SplitDecryptor(const SplitDecryptor&) = delete;
  SplitDecryptor& operator=(const SplitDecryptor&) = delete;
  ~SplitDecryptor() {
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
      changed_.notify_all();
    }
    worker_.join();
    helper_->Wipe();
  }

  // Decrypts one buffer of the stream in place, leaving keyed's chain where a serial decryption
  // would; only the data's last buffer may end in a partial block.
  void Decrypt(Cipher& keyed, uint8_t* data, std::size_t size) {
    auto& main = static_cast<BlockCipher&>(keyed);
    const std::size_t b = std::size_t(main.BlockSize() / 8);
    if (size <= kPiece) return TransformChunks(main, false, data, size);
    const std::size_t whole = size / b * b;
    uint8_t next[32];
    // Taken before any piece is decrypted in place: the block before each piece, and the last.
    const std::size_t pieces = (size + kPiece - 1) / kPiece;
    chains_.resize(pieces);
    for (std::size_t i = 1; i < pieces; ++i) {
      std::memcpy(chains_[i].data(), data + i * kPiece - b, b);
    }
    std::memcpy(next, data + whole - b, b);
    uint64_t round;
    {
      std::lock_guard lock(mutex_);
      data_ = data;
      size_ = size;
      pieces_ = pieces;
      claimed_ = 1;  // the first piece is main's: its chain is where main's cipher stands
      done_ = 0;
      error_ = nullptr;
      round = ++round_;
      changed_.notify_all();
    }
    TransformPiece(main, 0, false);
    DecryptPieces(main, round);
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return done_ == pieces_; });
    if (error_) std::rethrow_exception(error_);
    // The chain continues from the buffer's last ciphertext block; after a partial block the
    // data has ended and there is nothing to continue.
    if (whole == size) main.SetIV(next);
  }

 private:
  // Whole stream chunks, so that every piece makes the calls a serial run would; small enough
  // that the last piece of a buffer keeps the other thread waiting only briefly.
  static constexpr std::size_t kPiece = 4 * Cipher::kStreamChunk;

  explicit SplitDecryptor(std::unique_ptr<Cipher> helper)
      : helper_(std::move(helper)), worker_([this] { Work(); }) {}

  // Claims and decrypts pieces of round's buffer until none is left.
  void DecryptPieces(BlockCipher& cipher, uint64_t round) {
    for (;;) {
      std::size_t piece;
      {
        std::lock_guard lock(mutex_);
        if (round_ != round || claimed_ == pieces_) return;
        piece = claimed_++;
      }
      TransformPiece(cipher, piece, true);
    }
  }

  void TransformPiece(BlockCipher& cipher, std::size_t piece, bool chain) {
    std::exception_ptr error;
    try {
      if (chain) cipher.SetIV(chains_[piece].data());
      const std::size_t at = piece * kPiece;
      TransformChunks(cipher, false, data_ + at, std::min(kPiece, size_ - at));
    } catch (...) {
      error = std::current_exception();
    }
    std::lock_guard lock(mutex_);
    if (error && !error_) error_ = error;
    if (++done_ == pieces_) changed_.notify_all();
  }

  void Work() {
    auto& helper = static_cast<BlockCipher&>(*helper_);
    uint64_t seen = 0;
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] { return quit_ || round_ != seen; });
      if (quit_) return;
      seen = round_;
      lock.unlock();
      DecryptPieces(helper, seen);
      lock.lock();
    }
  }

  std::unique_ptr<Cipher> helper_;
  std::vector<std::array<uint8_t, 32>> chains_;  // the ciphertext block before each piece
  std::mutex mutex_;
  std::condition_variable changed_;
  // The buffer being decrypted (round counts them), its pieces handed out and finished.
  uint64_t round_ = 0;
  uint8_t* data_ = nullptr;
  std::size_t size_ = 0, pieces_ = 0, claimed_ = 0, done_ = 0;
  std::exception_ptr error_;
  bool quit_ = false;
  std::thread worker_;  // last: it starts once everything above is ready
};

// The digest of what the job wrote, to compare with what the disk gives back before a source
// goes. Not a secret and not an authenticator: it finds a target that the disk lost or changed.
class WrittenDigest {
 public:
  WrittenDigest() : hash_(FindHash("sha256")->hash.Create()) { hash_->Init(); }
  void Update(const uint8_t* data, std::size_t size) { hash_->Update(data, size); }
  std::array<uint8_t, 32> Final() {
    std::array<uint8_t, 32> out;
    hash_->Final(out.data());
    return out;
  }

 private:
  std::unique_ptr<Hash> hash_;
};

// One run of the job, step by step; each step may fail by throwing ErrorException.
class Job {
 public:
  Job(const JobRequest& request, JobOutcome& outcome)
      : request_(request),
        outcome_(outcome),
        encrypt_(request.direction == JobDirection::kEncrypt),
        saveSettings_(encrypt_ && request.saveSettings),
        settingsPath_(SettingsPathFor(request.sourcePath)) {}

  void Run() {
    CheckRequest();
    OpenSource();
    PrepareOutputs();
    DeriveKey();
    Transform();
    if (!encrypt_) CheckResult();
    Commit();
    if (request_.deleteSource) DeleteSource();
  }

 private:
  // Everything that can be refused without touching a file is refused first.
  void CheckRequest() {
    const auto ciphers = CipherCatalogue();
    const auto hashes = HashCatalogue();
    const auto& cp = request_.cipherPosition;
    const auto& hp = request_.hashPosition;
    if (!cp || *cp < 0 || static_cast<std::size_t>(*cp) >= ciphers.size()) {
      Fail(JobErrorKind::kRefused, "", "select cipher", "no entry of the cipher menu is selected");
    }
    if (!hp || *hp < 0 || static_cast<std::size_t>(*hp) >= hashes.size()) {
      Fail(JobErrorKind::kRefused, "", "select hash", "no entry of the hash menu is selected");
    }
    cipher_ = &ciphers[static_cast<std::size_t>(*cp)];
    hash_ = &hashes[static_cast<std::size_t>(*hp)];
    if (request_.encoder != nullptr && encrypt_) {
      Fail(JobErrorKind::kRefused, "", "encrypt", "an encoded target is made from a decryption");
    }

    std::optional<Secret> key = EncodePassphrase(request_.passphrase.View(), request_.encoding);
    if (!key) {
      Fail(JobErrorKind::kRefused, "", "encode passphrase",
           "the passphrase has characters outside Windows-1252");
    }
    key_ = std::move(*key);
    if (request_.sourceFd && (saveSettings_ || request_.deleteSource)) {
      Fail(JobErrorKind::kRefused, request_.sourcePath, saveSettings_ ? "save settings" : "delete",
           "the source is not a named file");
    }
    if (saveSettings_) CheckSettingsRequest();
    if (request_.deleteSource) {
      // Only a regular file holds the result safely on disk; a device or pipe passes it on.
      // A descriptor handed in (standard output) is written directly, whatever it is. A missing
      // target becomes a regular file; a folder is refused with its own message later.
      struct stat t;
      const bool there = request_.targetFolder >= 0
                             ? ::fstatat(request_.targetFolder, request_.targetName.c_str(), &t,
                                         AT_SYMLINK_NOFOLLOW) == 0
                             : ::stat(request_.targetPath.c_str(), &t) == 0;
      const bool regular =
          !request_.targetFd && (!there || S_ISREG(t.st_mode) || S_ISDIR(t.st_mode));
      if (!regular) {
        Fail(JobErrorKind::kRefused, request_.sourcePath, "delete",
             "the target is not a regular file, so the source is kept");
      }
    }
  }

  void CheckSettingsRequest() {
    const std::string_view phrase = request_.passphrase.View();
    if (phrase.find('\0') != std::string_view::npos) {
      Fail(JobErrorKind::kRefused, settingsPath_, "write",
           "a passphrase with a NUL character cannot be stored");
    }
    if (!IsStorableProfileValue(phrase)) {
      Fail(JobErrorKind::kRefused, settingsPath_, "write",
           "a passphrase with a line break cannot be stored");
    }
    if (request_.encoding != PassphraseEncoding::kAuto) {
      // The settings file records no encoding, and whoever reads it keys with the automatic one.
      if (EncodePassphrase(phrase, PassphraseEncoding::kAuto) != key_) {
        Fail(JobErrorKind::kRefused, settingsPath_, "write",
             "the settings file cannot record the passphrase encoding, and this passphrase is "
             "keyed differently under the automatic one");
      }
    }
    // A planted link is refused by the settings writer too, but a link to the target would be
    // taken for the target below; the cause is the link.
    struct stat t, s;
    if (::lstat(settingsPath_.c_str(), &s) == 0 && S_ISLNK(s.st_mode)) {
      Fail(JobErrorKind::kRefused, settingsPath_, "open",
           "it is a symbolic link, which is never written through");
    }
    // The settings write would replace the ciphertext just written.
    const bool same = request_.targetFd ? ::fstat(*request_.targetFd, &t) == 0 &&
                                              ::stat(settingsPath_.c_str(), &s) == 0 &&
                                              S_ISREG(t.st_mode) && SameFile(t, s)
                                        : SamePlace(request_.targetPath, settingsPath_);
    if (same) {
      Fail(JobErrorKind::kSameFile, request_.targetPath, "open",
           "it is the settings file the job is to write");
    }
  }

  // The source first: a missing source must not leave a new target behind. A named source is
  // reached through its folder, opened once: the file read is the file deleted.
  void OpenSource() {
    const std::string& name = request_.sourcePath;
    if (request_.sourceFd) {
      sourceFd_ = *request_.sourceFd;
      if (::fstat(sourceFd_, &source_) != 0) FailErrno(name, "open", errno);
      if (S_ISDIR(source_.st_mode)) FailErrno(name, "open", EISDIR);
    } else {
      if (request_.sourceFolder >= 0) {
        sourceFolder_ = request_.sourceFolder;
        sourceBase_ = request_.sourceName;
      } else {
        sourceFolderOwned_ = OpenParentFolder(name);
        sourceFolder_ = sourceFolderOwned_.Get();
        sourceBase_ = BaseName(name);
        if (sourceBase_.empty()) FailErrno(name, "open", EISDIR);
      }
      // A source to be deleted is never reached through a link: deleting would remove the link
      // and keep the plaintext. Nor is one a batch found in a folder (sourceNoFollow).
      const bool noFollow = request_.deleteSource || request_.sourceNoFollow;
      OpenedSource opened;
      try {
        opened = kryvane::OpenSource(sourceFolder_, sourceBase_, name, !noFollow);
      } catch (const IoError& e) {
        if (IsLinkRefusal(e) && request_.deleteSource && !request_.sourceNoFollow &&
            request_.sourceFolder < 0) {
          Fail(JobErrorKind::kRefused, name, "delete",
               "it is a symbolic link; name the file it points to");
        }
        if (IsLinkRefusal(e)) Fail(JobErrorKind::kRefused, name, "open", e.Cause());
        throw;
      }
      sourceOwned_ = std::move(opened.fd);
      sourceFd_ = sourceOwned_.Get();
      source_ = opened.status;
    }
    if (request_.deleteSource && !S_ISREG(source_.st_mode)) {
      Fail(JobErrorKind::kRefused, name, "delete",
           "it is not a regular file, and only a regular file is deleted");
    }
    if (sourceOwned_ && !AwaitReadable(sourceFd_, source_, name, request_.cancel)) CheckCancel();
    if (S_ISREG(source_.st_mode)) {
      // A descriptor handed in may already have been read from; what is left is what counts. The
      // size is only for progress: some files (in /proc, say) report a wrong one.
      const off_t at = request_.sourceFd ? ::lseek(sourceFd_, 0, SEEK_CUR) : 0;
      const off_t start = std::min<off_t>(std::max<off_t>(at, 0), source_.st_size);
      total_ = static_cast<uint64_t>(source_.st_size - start);
    }
  }

  // The target's new file and the settings file's new content, both complete before the key is
  // even derived: whatever can fail about them fails before anything is replaced.
  void PrepareOutputs() {
    PrepareTarget();
    if (saveSettings_) {
      const std::string cipherText = request_.cipherMenuText.empty()
                                         ? std::string(cipher_->menuText)
                                         : request_.cipherMenuText;
      const std::string hashText =
          request_.hashMenuText.empty() ? std::string(hash_->menuText) : request_.hashMenuText;
      const ProfileEntries entries =
          SettingsEntries(request_.passphrase.View(), cipherText, hashText);
      // Beside the source, in the folder it was read from.
      settings_ =
          std::make_unique<ProfileUpdate>(sourceFolder_, sourceBase_ + std::string(kSettingsSuffix),
                                          settingsPath_, kSettingsSection, entries);
    }
  }

  // Whether the target is to be read back before it takes its name.
  bool Verifying() const { return request_.verifyTarget || request_.deleteSource; }

  void MakeOutput(std::unique_ptr<AtomicOutput> output) {
    output_ = std::move(output);
    // A target is never more open than its source: a private ciphertext decrypts to a private
    // plaintext, whatever the umask or the file it replaces.
    if (sourceOwned_ && S_ISREG(source_.st_mode)) output_->LimitMode(source_.st_mode & 07777);
    targetFd_ = output_->Fd();
  }

  void PrepareTarget() {
    const std::string& name = request_.targetPath;
    if (request_.targetFd) {
      targetFd_ = *request_.targetFd;
      if (::fstat(targetFd_, &target_) != 0) FailErrno(name, "open", errno);
      RefuseSourceAsTarget();
      return;
    }
    if (request_.targetFolder >= 0) {
      // The output refuses a link, or anything but a regular file, at the target itself.
      if (::fstatat(request_.targetFolder, request_.targetName.c_str(), &target_,
                    AT_SYMLINK_NOFOLLOW) == 0) {
        RefuseSourceAsTarget();
      }
      MakeOutput(std::make_unique<AtomicOutput>(request_.targetFolder, request_.targetName, 0666,
                                                name, Verifying()));
      return;
    }
    if (request_.targetNoFollow) {
      if (::lstat(name.c_str(), &target_) == 0) RefuseSourceAsTarget();
      MakeOutput(std::make_unique<AtomicOutput>(name, 0666, std::string(), Verifying()));
      return;
    }
    if (::stat(name.c_str(), &target_) != 0) {
      if (errno != ENOENT) FailErrno(name, "open", errno);
      MakeOutput(std::make_unique<AtomicOutput>(name, 0666, std::string(), Verifying()));
      return;
    }
    RefuseSourceAsTarget();
    if (S_ISDIR(target_.st_mode)) FailErrno(name, "open", EISDIR);
    if (S_ISREG(target_.st_mode)) {
      // Replace what a symbolic link points at, not the link.
      MakeOutput(std::make_unique<AtomicOutput>(ResolveLinks(name), 0666, name, Verifying()));
      return;
    }
    // A device, FIFO or socket is written as it is, like standard output. A FIFO without a
    // reader refuses a non-blocking open; wait for one, cancellably.
    for (;;) {
      targetOwned_ = UniqueFd(::open(name.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
      if (targetOwned_) break;
      if (errno != ENXIO || !S_ISFIFO(target_.st_mode)) FailErrno(name, "open", errno);
      CheckCancel();
      ::poll(nullptr, 0, kWaitStepMs);
    }
    targetFd_ = targetOwned_.Get();
    ClearNonBlocking(targetFd_, name);
  }

  void RefuseSourceAsTarget() {
    // Only regular files lose content; a terminal may well be both ends.
    if (S_ISREG(target_.st_mode) && SameFile(target_, source_)) {
      Fail(JobErrorKind::kSameFile, request_.targetPath, "open",
           "it is the same file as the source");
    }
  }

  void DeriveKey() {
    cipher_->cipher.Create().swap(keyed_);
    try {
      keyed_->InitFromPassphrase(key_.View(), hash_->hash);
      if (!encrypt_)
        splitter_ = SplitDecryptor::For(*keyed_, cipher_->cipher, key_.View(), hash_->hash);
    } catch (const CipherError& e) {
      Fail(JobErrorKind::kInternal, "", "derive key", e.what());
    }
    key_ = Secret();
  }

  // Reads to the end of the source, whatever size it reported, through large buffers read ahead
  // and written behind on their own threads; the cipher still sees the stream in calls of
  // kStreamChunk bytes, since its chain is defined over those calls.
  void Transform() {
    try {
      Pipe();
    } catch (...) {
      WipeCiphers();
      throw;
    }
    WipeCiphers();
    CheckCancel();
    if (total_ && outcome_.bytes > *total_) total_ = outcome_.bytes;
    if (request_.progress) request_.progress(outcome_.bytes, total_);
    struct stat now;
    if (S_ISREG(source_.st_mode) &&
        (::fstat(sourceFd_, &now) != 0 || !SameContentState(now, source_))) {
      sourceChanged_ = true;
      outcome_.warning = JobError{request_.sourcePath, "read",
                                  "the file changed while it was read; the target holds what was "
                                  "read, which may be a mix of old and new content",
                                  JobErrorKind::kSourceChanged, 0};
    }
  }

  void Pipe() {
    TargetEncoder* const encoder = request_.encoder;
    // An encoder gets the plaintext on the pipeline's writer thread, so that sealing a buffer
    // overlaps decrypting the next. Write-back starts early only for the job's own new file,
    // which is flushed before commit.
    std::optional<IoPipeline> pipe;
    if (encoder != nullptr) {
      pipe.emplace(
          sourceFd_, request_.sourcePath,
          [encoder](const uint8_t* data, std::size_t size) { encoder->Write(data, size); },
          targetFd_, request_.targetPath, output_ != nullptr, Cipher::kStreamChunk);
    } else {
      pipe.emplace(sourceFd_, request_.sourcePath, targetFd_, request_.targetPath,
                   output_ != nullptr, Cipher::kStreamChunk);
    }
    if (output_ && Verifying() && encoder == nullptr) digest_.emplace();
    if (encoder != nullptr && !request_.refuseSuspectResult) BeginEncoder();
    uint64_t reported = 0;
    for (;;) {
      CheckCancel();
      IoPipeline::Buffer buffer = pipe->Take();
      if (buffer.size == 0) break;
      TransformBuffer(buffer.data, buffer.size);
      if (encoder != nullptr) {
        if (!PassToEncoder(buffer.data, buffer.size)) buffer.size = 0;
      } else if (digest_) {
        digest_->Update(buffer.data, buffer.size);
      }
      pipe->Put(buffer);
      if (request_.progress && outcome_.bytes - reported >= kProgressStep) {
        reported = outcome_.bytes;
        request_.progress(reported, total_);
      }
    }
    pipe->Finish();
    if (encoder != nullptr) {
      if (!encoderBegun_) BeginEncoder();
      encoder->End();
    }
  }

  // Runs the cipher over one buffer in place, keeping the start of the result for the guard.
  void TransformBuffer(uint8_t* data, std::size_t size) {
    if (splitter_) {
      splitter_->Decrypt(*keyed_, data, size);
    } else {
      TransformChunks(*keyed_, encrypt_, data, size);
    }
    if (resultHead_.size() < kResultHead) {
      const std::size_t take = std::min(size, kResultHead - resultHead_.size());
      resultHead_.Append(std::string_view(reinterpret_cast<const char*>(data), take));
    }
    outcome_.bytes += size;
  }

  // Until the guard has seen the start of the result, an encoder gets nothing: a refused result
  // must leave nothing anywhere, standard output included. The plaintext waits in a Secret, and
  // is written here, before the buffer that completes the start goes on through the pipeline.
  // False: the buffer is held, and the pipeline must not pass it on.
  bool PassToEncoder(const uint8_t* data, std::size_t size) {
    if (encoderBegun_) return true;
    if (resultHead_.size() < kResultHead) {
      encoderHeld_.Append(std::string_view(reinterpret_cast<const char*>(data), size));
      return false;
    }
    BeginEncoder();
    return true;
  }

  void BeginEncoder() {
    Guard();
    request_.encoder->Begin(targetFd_, request_.targetPath, output_ != nullptr && Verifying());
    encoderBegun_ = true;
    if (encoderHeld_.empty()) return;
    request_.encoder->Write(encoderHeld_.Bytes().data(), encoderHeld_.size());
    encoderHeld_ = Secret();
  }

  // A result that looks random stops here when the request says so, before the encoder writes.
  void Guard() {
    if (!request_.refuseSuspectResult) return;
    CheckResult();
    if (!outcome_.ResultLooksRandom()) return;
    Fail(JobErrorKind::kSuspectResult, request_.sourcePath, "decrypt",
         "the decryption looks like random bytes (" + outcome_.resultCheck->evidence +
             "): the passphrase, cipher or hash is probably wrong; nothing was written");
  }

  void WipeCiphers() {
    keyed_->Wipe();
    keyed_.reset();
    splitter_.reset();
  }

  // The target first, then the settings file; both were flushed already, so only the renames are
  // left, and a failure between them is named exactly. A target to be verified is read back from
  // the disk before it takes its name.
  void Commit() {
    if (output_) {
      const bool verifying = Verifying();
      output_->Flush(verifying);
      if (verifying) VerifyTarget();
      try {
        output_->Commit(true, !request_.folderFlushedLater || request_.deleteSource);
      } catch (const IoError& e) {
        if (!output_->Committed()) throw;
        JobError error = e.Get();
        error.cause += "; the new target is in place but may not survive a crash";
        throw ErrorException(std::move(error));
      }
    } else if (S_ISREG(target_.st_mode) && ::fsync(targetFd_) != 0) {
      FailErrno(request_.targetPath, "write", errno);
    }
    if (const int err = targetOwned_.Close(); err != 0) {
      FailErrno(request_.targetPath, "write", err);
    }
    outcome_.targetWritten = true;
    if (settings_) {
      try {
        settings_->Commit();
      } catch (const IoError& e) {
        JobError error = e.Get();
        error.cause += "; " + request_.targetPath +
                       " was written, but the settings file was left as it was (it does not "
                       "hold this passphrase)";
        throw ErrorException(std::move(error));
      }
      outcome_.settingsWritten = true;
    }
  }

  void VerifyTarget() {
    const std::string& name = request_.targetPath;
    if (request_.encoder != nullptr) {
      request_.encoder->Verify(targetFd_, name);
    } else {
      if (::lseek(targetFd_, 0, SEEK_SET) != 0) FailErrno(name, "verify", errno);
      WrittenDigest back;
      // What comes back is the plaintext of a decryption: kept where it is wiped.
      Secret buffer;
      buffer.Resize(std::size_t(1) << 16);
      uint64_t total = 0;
      for (;;) {
        int err = 0;
        const std::size_t got = ReadFd(targetFd_, buffer.data(), buffer.size(), &err);
        if (err != 0) FailErrno(name, "verify", err);
        back.Update(reinterpret_cast<const uint8_t*>(buffer.data()), got);
        total += got;
        if (got < buffer.size()) break;
      }
      if (total != outcome_.bytes || back.Final() != digest_->Final()) {
        Fail(JobErrorKind::kIo, name, "verify", "the file read back differs from what was written");
      }
    }
    outcome_.verified = true;
  }

  // Deletes only the file that was read, as it was read, from the folder it was read in: a source
  // that grew, was replaced or was changed while the job ran is kept, and so is the source of a
  // result that looks random (even one forced through); the outcome says why.
  void DeleteSource() {
    const std::string& name = request_.sourcePath;
    const auto keep = [&](std::string why) {
      outcome_.warning = JobError{name, "delete", std::move(why), JobErrorKind::kSourceKept, 0};
    };
    struct stat there;
    if (sourceChanged_) {
      return keep("the file changed while it was read, so the target may not hold all of it");
    }
    if (outcome_.bytes != static_cast<uint64_t>(source_.st_size)) {
      return keep("the file held " + std::to_string(outcome_.bytes) + " bytes, not the " +
                  std::to_string(source_.st_size) + " it reported, so it is kept");
    }
    if (!outcome_.verified) return keep("the target could not be read back, so it is kept");
    if (::fstatat(sourceFolder_, sourceBase_.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0) {
      return keep(ErrnoText(errno));
    }
    if (!SameContentState(there, source_)) {
      return keep("another file took its place, or it changed, while the job ran");
    }
    if (auto why = ReasonToKeepSource()) return keep(std::move(*why));
    if (::unlinkat(sourceFolder_, sourceBase_.c_str(), 0) != 0) {
      const int err = errno;
      outcome_.warning = JobError{name, "delete", ErrnoText(err), JobErrorKind::kSourceKept, err};
      return;
    }
    outcome_.sourceDeleted = true;
  }

  // Asks the detector about the start of a decryption's result. An encryption is never judged:
  // its source may well be compressed or encrypted already.
  void CheckResult() {
    const std::string_view head = resultHead_.View();
    outcome_.resultCheck =
        AssessResult(std::span(reinterpret_cast<const uint8_t*>(head.data()), head.size()),
                     request_.passphrase.View(), request_.encoding);
    // An empty result is right under any key. Below kShortResult bytes, garbage is often too
    // short to be called random-looking (one in five at 8 bytes), so only a plausible verdict
    // counts as good there.
    const Verdict verdict = outcome_.resultCheck->verdict;
    outcome_.resultSuspect =
        !head.empty() && (verdict == Verdict::kRandomLooking ||
                          (verdict != Verdict::kPlausible && head.size() < kShortResult));
  }

  // The last word before the source goes: a reason here keeps it (the job still succeeds, with a
  // warning).
  std::optional<std::string> ReasonToKeepSource() const {
    if (!outcome_.resultSuspect) return std::nullopt;
    const Plausibility& check = *outcome_.resultCheck;
    const std::string what = check.verdict == Verdict::kRandomLooking
                                 ? std::string(kRandomResultMeaning)
                                 : "the result is too short to tell from garbage (" +
                                       check.evidence +
                                       "), so the passphrase, cipher or hash is probably wrong";
    return what + "; the source is kept and " + request_.targetPath + " holds the result";
  }

  void CheckCancel() const {
    if (request_.cancel != nullptr && request_.cancel->load(std::memory_order_relaxed)) {
      Fail(JobErrorKind::kCancelled, "", encrypt_ ? "encrypt" : "decrypt", "cancelled");
    }
  }

  const JobRequest& request_;
  JobOutcome& outcome_;
  const bool encrypt_;
  const bool saveSettings_;
  const std::string settingsPath_;

  const CipherEntry* cipher_ = nullptr;
  const HashEntry* hash_ = nullptr;
  Secret key_;  // the passphrase's bytes until the cipher is keyed
  std::unique_ptr<Cipher> keyed_;
  std::unique_ptr<SplitDecryptor> splitter_;  // set when decryption can use a second core

  UniqueFd sourceFolderOwned_;
  int sourceFolder_ = AT_FDCWD;
  std::string sourceBase_;  // the source's name in sourceFolder_
  UniqueFd sourceOwned_;
  int sourceFd_ = -1;
  struct stat source_ {};
  std::optional<uint64_t> total_;
  bool sourceChanged_ = false;

  std::unique_ptr<AtomicOutput> output_;
  UniqueFd targetOwned_;
  int targetFd_ = -1;
  struct stat target_ {};
  std::unique_ptr<ProfileUpdate> settings_;
  std::optional<WrittenDigest> digest_;

  static constexpr std::size_t kResultHead = kAssessedBytes;
  static constexpr std::size_t kShortResult = 32;
  Secret resultHead_;  // the first bytes of the result; plaintext when decrypting
  bool encoderBegun_ = false;
  Secret encoderHeld_;  // plaintext for an encoder that waits for the guard
};

}  // namespace

JobOutcome RunFileJob(const JobRequest& request) {
  JobOutcome outcome;
  const char* const operation = request.direction == JobDirection::kEncrypt ? "encrypt" : "decrypt";
  const auto fail = [&](JobError error) {
    outcome.result = JobResult::kFailure;
    outcome.statusText = kStatusFailed;
    outcome.error = std::move(error);
    outcome.warning.reset();
    return outcome;
  };
  try {
    // A mismatch is reported before anything else, as the window always did.
    if (request.passphrase != request.retypedPassphrase) {
      outcome.result = JobResult::kMismatch;
      outcome.statusText = kStatusMismatch;
      outcome.error = JobError{"", "compare passphrases", "the two passphrases differ",
                               JobErrorKind::kMismatch};
      return outcome;
    }
    Job(request, outcome).Run();
  } catch (const ErrorException& e) {
    JobError error = e.Get();
    // An encoder's error names neither file nor operation: the job's own names it.
    if (error.file.empty() && error.operation.empty()) error.operation = operation;
    return fail(std::move(error));
  } catch (const std::exception& e) {
    // A cipher error or an allocation failure: the job fails like any other.
    return fail(JobError{"", operation, e.what(), JobErrorKind::kInternal});
  }
  outcome.result = JobResult::kSuccess;
  outcome.statusText =
      request.direction == JobDirection::kEncrypt ? kStatusEncrypted : kStatusDecrypted;
  return outcome;
}

}  // namespace kryvane
