#include "app/age_convert.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include "app/atomic_output.h"
#include "app/catalogue.h"
#include "app/detector.h"
#include "app/file_util.h"
#include "crypto/components.h"

namespace kryvane {
namespace {

// A plaintext buffer that is erased however the work ends.
struct WipedBuffer {
  std::vector<uint8_t> bytes;
  explicit WipedBuffer(std::size_t n) : bytes(n) {}
  ~WipedBuffer() { SecureZero(bytes.data(), bytes.size()); }
};

struct ConvertFailure {
  JobError error;
  bool looksRandom = false;
};

[[noreturn]] void Fail(std::string file, std::string operation, std::string cause) {
  throw ConvertFailure{JobError{std::move(file), std::move(operation), std::move(cause)}};
}

JobError FromIoError(const IoError& e) {
  return JobError{e.File(), e.Operation(), e.Cause(), JobErrorKind::kIo, e.Errno()};
}

bool IsCancelled(const ConvertRequest& request) {
  return request.cancel != nullptr && request.cancel->load(std::memory_order_relaxed);
}

constexpr std::size_t kBlockSize = 1 << 20;  // plaintext handed between the threads at once
constexpr std::size_t kBlocks = 4;           // so at most 4 MiB of plaintext in flight
constexpr std::size_t kGuardSample = kAssessedBytes;
constexpr uint64_t kProgressStep = 1 << 20;

// Thrown in the decrypting thread when the other one has given up.
struct Stopped {};

// Plaintext blocks from the decrypting thread to the sealing one, through a fixed pool of
// buffers, so memory stays bounded whichever side is faster.
class BlockQueue {
 public:
  BlockQueue() {
    for (auto& b : pool_) {
      b.reserve(kBlockSize);
      free_.push_back(&b);
    }
  }
  ~BlockQueue() {
    for (auto& b : pool_) {
      b.resize(b.capacity());
      SecureZero(b.data(), b.size());
    }
  }

  std::vector<uint8_t>* TakeFree() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return stopped_ || !free_.empty(); });
    if (stopped_) throw Stopped{};
    std::vector<uint8_t>* b = free_.front();
    free_.pop_front();
    b->clear();
    return b;
  }
  void Push(std::vector<uint8_t>* b) {
    std::lock_guard lock(mutex_);
    full_.push_back(b);
    changed_.notify_all();
  }
  // Producer side: no more blocks, with the error that ended it, if any.
  void Close(std::exception_ptr error) {
    std::lock_guard lock(mutex_);
    closed_ = true;
    error_ = error;
    changed_.notify_all();
  }
  // The next full block; nullptr after the last. Rethrows the producer's error.
  std::vector<uint8_t>* Pop() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return closed_ || !full_.empty(); });
    if (!full_.empty()) {
      std::vector<uint8_t>* b = full_.front();
      full_.pop_front();
      return b;
    }
    if (error_) std::rethrow_exception(error_);
    return nullptr;
  }
  void Recycle(std::vector<uint8_t>* b) {
    SecureZero(b->data(), b->size());
    std::lock_guard lock(mutex_);
    free_.push_back(b);
    changed_.notify_all();
  }
  // Consumer side: stop the producer at its next block.
  void Stop() {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<uint8_t> pool_[kBlocks];
  std::deque<std::vector<uint8_t>*> free_, full_;
  bool closed_ = false;
  bool stopped_ = false;
  std::exception_ptr error_;
};

class QueueSink final : public ByteSink {
 public:
  explicit QueueSink(BlockQueue& queue) : queue_(queue) {}
  void Write(const void* data, std::size_t size) override {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
      if (block_ == nullptr) block_ = queue_.TakeFree();
      const std::size_t take = std::min(size, kBlockSize - block_->size());
      block_->insert(block_->end(), p, p + take);
      p += take;
      size -= take;
      if (block_->size() == kBlockSize) Flush();
    }
  }
  void Flush() {
    if (block_ != nullptr && !block_->empty()) queue_.Push(block_);
    block_ = nullptr;
  }

 private:
  BlockQueue& queue_;
  std::vector<uint8_t>* block_ = nullptr;
};

// Reads the legacy file, reporting progress and honouring the cancel flag.
class WatchedSource final : public ByteSource {
 public:
  WatchedSource(int fd, const ConvertRequest& request, std::optional<uint64_t> total)
      : inner_(fd, request.sourcePath), request_(request), total_(total) {}
  std::size_t Read(void* buffer, std::size_t n) override {
    if (IsCancelled(request_)) Fail("", "convert", "cancelled");
    std::size_t got;
    try {
      got = inner_.Read(buffer, n);
    } catch (const IoError& e) {
      throw ConvertFailure{FromIoError(e)};
    }
    done_ += got;
    if (request_.progress && done_ - reported_ >= kProgressStep) Report();
    return got;
  }
  void Report() {
    reported_ = done_;
    if (request_.progress) request_.progress(done_, total_);
  }

 private:
  FdReader inner_;
  const ConvertRequest& request_;
  std::optional<uint64_t> total_;
  uint64_t done_ = 0, reported_ = 0;
};

// The age file being written: an AtomicOutput beside the target, renamed over it once verified;
// or standard output as it is.
class Output {
 public:
  Output(const ConvertRequest& request, const struct stat& source) : name_(request.targetPath) {
    if (request.targetFd) {
      fd_ = *request.targetFd;
      return;
    }
    struct stat st;
    std::string path = name_;
    if (::stat(name_.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode)) Fail(name_, "open", ErrnoText(EISDIR));
      if (!S_ISREG(st.st_mode)) {
        Fail(name_, "open", "not a regular file (\"-\" writes to standard output)");
      }
      if (st.st_dev == source.st_dev && st.st_ino == source.st_ino) {
        Fail(name_, "open", "it is the same file as the source");
      }
      // Replace what a symbolic link points at, not the link (or, when links are not followed,
      // let the output refuse it).
      if (!request.targetNoFollow) path = ResolveLinks(name_);
    } else if (errno != ENOENT) {
      Fail(name_, "open", ErrnoText(errno));
    }
    try {
      file_ = std::make_unique<AtomicOutput>(path, 0666, name_, /*readable=*/true);
    } catch (const IoError& e) {
      throw ConvertFailure{FromIoError(e)};
    }
    fd_ = file_->Fd();
  }

  int Fd() const { return fd_; }
  const std::string& Name() const { return name_; }
  bool IsFile() const { return file_ != nullptr; }
  // Whether a file is there that the new one replaces.
  bool Replaces() const { return file_ && file_->Replaces(); }

  // Makes the data durable; with dropCache, later reads come from the disk, not from memory.
  void Flush(bool dropCache) {
    if (file_) Guard([&] { file_->Flush(dropCache); });
  }
  // Puts the file in the target's place; with durable, the rename is flushed too.
  void Commit(bool durable) {
    if (file_) Guard([&] { file_->Commit(durable); });
  }

 private:
  template <class Step>
  static void Guard(Step step) {
    try {
      step();
    } catch (const IoError& e) {
      throw ConvertFailure{FromIoError(e)};
    }
  }

  std::string name_;
  std::unique_ptr<AtomicOutput> file_;
  int fd_ = -1;
};

class OutputSink final : public ByteSink {
 public:
  explicit OutputSink(const Output& out) : inner_(out.Fd(), out.Name()) {}
  void Write(const void* data, std::size_t size) override {
    try {
      inner_.Write(data, size);
    } catch (const IoError& e) {
      throw ConvertFailure{FromIoError(e)};
    }
  }

 private:
  FdWriter inner_;
};

// Reads the written file back from its start and compares it with what was meant.
void Verify(const Output& out, const std::vector<age::Stanza>& stanzas, const age::FileKey& key,
            const std::array<uint8_t, 32>& digest, uint64_t size) {
  if (::lseek(out.Fd(), 0, SEEK_SET) != 0) Fail(out.Name(), "verify", ErrnoText(errno));
  FdReader file(out.Fd(), out.Name());
  age::Unlock unlock;
  unlock.fileKey = key;
  try {
    age::Reader reader(file, unlock);
    bool sameStanzas = reader.Stanzas().size() == stanzas.size();
    for (std::size_t i = 0; sameStanzas && i < stanzas.size(); ++i) {
      sameStanzas = reader.Stanzas()[i].args == stanzas[i].args &&
                    reader.Stanzas()[i].body == stanzas[i].body;
    }
    if (!sameStanzas)
      Fail(out.Name(), "verify", "the header read back differs from the one written");
    age::Sha256 hash;
    WipedBuffer buffer(age::kChunkSize);
    uint64_t total = 0;
    while (const std::size_t got = reader.Read(buffer.bytes.data(), buffer.bytes.size())) {
      hash.Update(buffer.bytes.data(), got);
      total += got;
    }
    if (total != size || hash.Final() != digest) {
      Fail(out.Name(), "verify", "the plaintext read back differs from the legacy decryption");
    }
  } catch (const age::AgeError& e) {
    Fail(out.Name(), "verify", e.what());
  } catch (const IoError& e) {
    Fail(out.Name(), "verify", FormatError("", e.Operation(), e.Cause()));
  }
}

void Run(const ConvertRequest& request, ConvertOutcome& outcome) {
  const auto ciphers = CipherCatalogue();
  const auto hashes = HashCatalogue();
  if (request.cipherPosition < 0 || std::size_t(request.cipherPosition) >= ciphers.size() ||
      request.hashPosition < 0 || std::size_t(request.hashPosition) >= hashes.size()) {
    Fail("", "select cipher", "no such cipher or hash");
  }
  if (request.recipients.empty() && !request.newPassphrase) {
    Fail("", "convert", "no recipient and no new passphrase");
  }
  if (request.newPassphrase && request.newPassphrase->empty()) {
    Fail("", "convert", "the new passphrase is empty");
  }
  if (request.deleteSource && (request.sourceFd || request.targetFd)) {
    Fail(request.sourcePath, "delete", "the source and the target must be named files");
  }
  const std::optional<Secret> key = EncodePassphrase(request.passphrase, request.encoding);
  if (!key) Fail("", "encode passphrase", "the passphrase has characters outside Windows-1252");

  UniqueFd sourceOwned;
  int sourceFd;
  if (request.sourceFd) {
    sourceFd = *request.sourceFd;
  } else {
    const int noFollow = request.sourceNoFollow ? O_NOFOLLOW : 0;
    sourceOwned =
        UniqueFd(::open(request.sourcePath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | noFollow));
    if (!sourceOwned && errno == ELOOP && request.sourceNoFollow) {
      Fail(request.sourcePath, "open", "it is a symbolic link now, which is not followed");
    }
    if (!sourceOwned) Fail(request.sourcePath, "open", ErrnoText(errno));
    sourceFd = sourceOwned.Get();
  }
  struct stat source;
  if (::fstat(sourceFd, &source) != 0) Fail(request.sourcePath, "open", ErrnoText(errno));
  if (S_ISDIR(source.st_mode)) Fail(request.sourcePath, "open", ErrnoText(EISDIR));
  std::optional<uint64_t> total;
  if (S_ISREG(source.st_mode)) {
    const off_t at = request.sourceFd ? std::max<off_t>(::lseek(sourceFd, 0, SEEK_CUR), 0) : 0;
    total = uint64_t(source.st_size - std::min<off_t>(at, source.st_size));
  }

  std::unique_ptr<Cipher> cipher = ciphers[std::size_t(request.cipherPosition)].cipher.Create();
  struct CipherWiper {
    Cipher& c;
    ~CipherWiper() { c.Wipe(); }
  } wipeCipher{*cipher};
  try {
    cipher->InitFromPassphrase(key->View(), hashes[std::size_t(request.hashPosition)].hash);
  } catch (const CipherError& e) {
    Fail("", "derive key", e.what());
  }

  // The legacy decryption runs on its own thread, ahead of the sealing by at most the pool.
  BlockQueue queue;
  WatchedSource reader(sourceFd, request, total);
  uint64_t decrypted = 0;
  std::thread producer([&] {
    try {
      QueueSink sink(queue);
      decrypted =
          cipher->DecryptStream(reader, sink, total.value_or(std::numeric_limits<uint64_t>::max()));
      sink.Flush();
      queue.Close(nullptr);
    } catch (const Stopped&) {
      queue.Close(nullptr);
    } catch (...) {
      queue.Close(std::current_exception());
    }
  });
  struct Joiner {
    BlockQueue& q;
    std::thread& t;
    ~Joiner() {
      q.Stop();
      if (t.joinable()) t.join();
    }
  } joiner{queue, producer};

  // The first blocks wait until the guard has seen the start of the decryption.
  std::vector<std::vector<uint8_t>*> held;
  std::size_t heldBytes = 0;
  while (heldBytes < kGuardSample) {
    std::vector<uint8_t>* b = queue.Pop();
    if (b == nullptr) break;
    held.push_back(b);
    heldBytes += b->size();
  }
  if (!held.empty()) {
    const std::vector<uint8_t>& first = *held.front();
    const Plausibility verdict = Assess({first.data(), std::min(first.size(), kGuardSample)});
    outcome.looksRandom = verdict.verdict == Verdict::kRandomLooking;
    if (outcome.looksRandom && !request.force) {
      throw ConvertFailure{
          JobError{request.sourcePath, "decrypt",
                   "the decryption looks like random bytes (" + verdict.evidence +
                       "): the passphrase, cipher or hash is probably wrong; nothing was written"},
          true};
    }
  }

  Output out(request, source);
  age::FileKey fileKey;
  age::RandomBytes(fileKey.bytes);
  std::vector<age::Stanza> stanzas;
  if (request.newPassphrase) {
    stanzas.push_back(age::WrapForPassphrase(fileKey, *request.newPassphrase, request.workFactor));
  } else {
    for (const age::Recipient& r : request.recipients) {
      stanzas.push_back(age::WrapForRecipient(fileKey, r));
    }
  }
  OutputSink sink(out);
  age::Writer writer(sink, stanzas, fileKey, {.armor = request.armor, .nonce = std::nullopt});
  // The digest serves the read-back only.
  const bool verify = out.IsFile() && (request.verify || request.deleteSource);
  age::Sha256 digest;
  const auto consume = [&](std::vector<uint8_t>* b) {
    writer.Write(b->data(), b->size());
    if (verify) digest.Update(b->data(), b->size());
    queue.Recycle(b);
  };
  for (std::vector<uint8_t>* b : held) consume(b);
  held.clear();
  while (std::vector<uint8_t>* b = queue.Pop()) {
    if (IsCancelled(request)) Fail("", "convert", "cancelled");
    consume(b);
  }
  producer.join();
  if (total && decrypted != *total) {
    Fail(request.sourcePath, "read",
         "the file ended after " + std::to_string(decrypted) + " of " + std::to_string(*total) +
             " bytes (was it changed while being read?)");
  }
  if (IsCancelled(request)) Fail("", "convert", "cancelled");
  writer.Finish();
  outcome.bytes = writer.PlaintextSize();
  reader.Report();

  // A new age file next to a kept source needs no flush: a crash can only cut it short, and a
  // reader refuses a file cut short. Replacing a file, or deleting the source, waits for the disk.
  const bool durable = verify || out.Replaces();
  if (durable) out.Flush(verify);
  if (verify) {
    Verify(out, stanzas, fileKey, digest.Final(), outcome.bytes);
    outcome.verified = true;
  }
  out.Commit(durable);

  if (request.deleteSource) {
    // Only the file that was read goes: not one that took its name meanwhile.
    struct stat now;
    if (::lstat(request.sourcePath.c_str(), &now) != 0) {
      outcome.warning = JobError{request.sourcePath, "delete", ErrnoText(errno)};
    } else if (S_ISLNK(now.st_mode)) {
      outcome.warning = JobError{request.sourcePath, "delete",
                                 "it is a symbolic link; neither it nor its file was deleted"};
    } else if (now.st_dev != source.st_dev || now.st_ino != source.st_ino) {
      outcome.warning = JobError{request.sourcePath, "delete", "the file was replaced meanwhile"};
    } else if (::unlink(request.sourcePath.c_str()) != 0) {
      outcome.warning = JobError{request.sourcePath, "delete", ErrnoText(errno)};
    } else {
      outcome.sourceDeleted = true;
    }
  }
}

}  // namespace

ConvertOutcome RunConvert(const ConvertRequest& request) {
  ConvertOutcome outcome;
  try {
    Run(request, outcome);
  } catch (const ConvertFailure& f) {
    outcome.error = f.error;
    outcome.looksRandom = f.looksRandom || outcome.looksRandom;
    outcome.warning.reset();
  } catch (const age::AgeError& e) {
    outcome.error = JobError{request.targetPath, "convert", e.what()};
  } catch (const std::exception& e) {
    outcome.error = JobError{"", "convert", e.what()};
  }
  return outcome;
}

CheckOutcome CheckAgeFile(const std::string& path, std::optional<int> fd,
                          const age::Unlock& unlock) {
  CheckOutcome outcome;
  UniqueFd owned;
  if (!fd) {
    owned = UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!owned) {
      outcome.error = JobError{path, "open", ErrnoText(errno)};
      return outcome;
    }
    fd = owned.Get();
  }
  try {
    FdReader file(*fd, path);
    age::Reader reader(file, unlock);
    outcome.armored = reader.Armored();
    WipedBuffer buffer(age::kChunkSize);
    while (const std::size_t got = reader.Read(buffer.bytes.data(), buffer.bytes.size())) {
      outcome.bytes += got;
    }
  } catch (const age::AgeError& e) {
    outcome.error = JobError{path, "check", e.what()};
  } catch (const IoError& e) {
    outcome.error = FromIoError(e);
  } catch (const std::exception& e) {
    outcome.error = JobError{path, "check", e.what()};
  }
  return outcome;
}

}  // namespace kryvane
