#include "app/age/convert.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "app/base/file_util.h"
#include "app/base/io.h"

namespace kryvane {
namespace {

// A buffer for a chunk of plaintext, erased however the work ends.
Secret PlaintextBuffer() {
  Secret buffer;
  buffer.Resize(age::kChunkSize);
  return buffer;
}

class AgeEncoder final : public TargetEncoder {
 public:
  explicit AgeEncoder(const AgeTarget& target) {
    if (target.recipients.empty() && !target.newPassphrase) {
      throw age::AgeError(age::AgeErrorKind::kKeys, "no recipient and no new passphrase");
    }
    if (target.newPassphrase && target.newPassphrase->empty()) {
      throw age::AgeError(age::AgeErrorKind::kKeys, "the new passphrase is empty");
    }
    age::RandomBytes(fileKey_.bytes);
    if (target.newPassphrase) {
      stanzas_.push_back(
          age::WrapForPassphrase(fileKey_, target.newPassphrase->View(), target.workFactor));
    } else {
      for (const age::Recipient& r : target.recipients) {
        stanzas_.push_back(age::WrapForRecipient(fileKey_, r));
      }
    }
    armor_ = target.armor;
  }

  void Begin(int fd, const std::string& name, bool verified) override {
    // The digest serves the read-back only, and costs more than the sealing.
    if (verified) digest_.emplace();
    sink_ = std::make_unique<FdWriter>(fd, name);
    writer_ = std::make_unique<age::Writer>(*sink_, stanzas_, fileKey_,
                                            age::Writer::Options{.armor = armor_, .nonce = {}});
  }

  void Write(const uint8_t* data, std::size_t size) override {
    writer_->Write(data, size);
    if (digest_) digest_->Update(data, size);
    size_ += size;
  }

  void End() override {
    writer_->Finish();
    if (digest_) sealed_ = digest_->Final();
  }

  void Verify(int fd, const std::string& name) override {
    const auto fail = [&](const std::string& cause) { throw IoError(name, "verify", cause); };
    if (!digest_) throw std::logic_error("a read-back that Begin was not told of");
    if (::lseek(fd, 0, SEEK_SET) != 0) throw IoError(name, "verify", errno);
    FdReader file(fd, name);
    age::Unlock unlock;
    unlock.fileKey = fileKey_;
    try {
      age::Reader reader(file, unlock);
      if (reader.Stanzas() != stanzas_) fail("the header read back differs from the one written");
      age::Sha256 hash;
      Secret buffer = PlaintextBuffer();
      uint64_t total = 0;
      while (const std::size_t got = reader.Read(buffer.data(), buffer.size())) {
        hash.Update(buffer.data(), got);
        total += got;
      }
      if (total != size_ || hash.Final() != sealed_) {
        fail("the plaintext read back differs from the legacy decryption");
      }
    } catch (const ErrorException& e) {
      // The file is named once, by this error; an age error has no operation of its own.
      fail(FormatError("", e.Operation(), e.Cause()));
    }
  }

 private:
  age::FileKey fileKey_;
  std::vector<age::Stanza> stanzas_;
  bool armor_ = false;
  std::unique_ptr<FdWriter> sink_;
  std::unique_ptr<age::Writer> writer_;
  std::optional<age::Sha256> digest_;  // of the plaintext, when it is to be read back
  std::array<uint8_t, 32> sealed_{};
  uint64_t size_ = 0;
};

}  // namespace

std::unique_ptr<TargetEncoder> MakeAgeEncoder(const AgeTarget& target) {
  return std::make_unique<AgeEncoder>(target);
}

CheckOutcome CheckAgeFile(const std::string& path, std::optional<int> fd,
                          const age::Unlock& unlock) {
  CheckOutcome outcome;
  try {
    UniqueFd owned;
    if (!fd) {
      // The same open as a job's source: no wait for good on a FIFO, no folder.
      OpenedSource opened = OpenSource(AT_FDCWD, path, path, true);
      AwaitReadable(opened.fd.Get(), opened.status, path, nullptr);
      owned = std::move(opened.fd);
      fd = owned.Get();
    }
    FdReader file(*fd, path);
    age::Reader reader(file, unlock);
    outcome.armored = reader.Armored();
    Secret buffer = PlaintextBuffer();
    while (const std::size_t got = reader.Read(buffer.data(), buffer.size())) {
      outcome.bytes += got;
    }
  } catch (const ErrorException& e) {
    outcome.error = e.Get();
    // An age error names neither file nor operation.
    if (e.Kind() != ErrorKind::kIo) outcome.error = Error{path, "check", e.Cause(), e.Kind()};
  } catch (const std::exception& e) {
    outcome.error = JobError{path, "check", e.what()};
  }
  return outcome;
}

}  // namespace kryvane
