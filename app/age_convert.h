// Converting a legacy file to an age file in one stream: the legacy decryption runs on one
// thread, sealing and writing on another, and no plaintext reaches a disk. The age file replaces
// the target once complete and flushed; before the source may go, it is also read back from the
// disk (every chunk authenticates, the plaintext digest equals that of the legacy decryption). A
// legacy decryption that looks random (a wrong passphrase, cipher or hash) stops the job before
// anything is written, unless forced.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/age_format.h"
#include "app/file_job.h"
#include "app/passphrase.h"

namespace kryvane {

struct ConvertRequest {
  std::string sourcePath;  // opened unless sourceFd is given; names the source in messages
  std::string targetPath;  // likewise for targetFd
  std::optional<int> sourceFd;
  std::optional<int> targetFd;  // written directly (standard output): no read-back is possible

  // The legacy file's key: passphrase text (UTF-8), its encoding, and the menu positions.
  std::string passphrase;
  PassphraseEncoding encoding = PassphraseEncoding::kAuto;
  int cipherPosition = 0;
  int hashPosition = 0;

  // Who can open the age file: X25519 recipients, or else a new passphrase (bytes for scrypt).
  std::vector<age::Recipient> recipients;
  std::optional<std::string> newPassphrase;
  int workFactor = age::kDefaultWorkFactor;
  bool armor = false;

  // Read the age file back from the disk before it replaces the target; always done before the
  // source is deleted.
  bool verify = false;
  bool deleteSource = false;
  // A symbolic link at the source or the target path is refused, as in the file job.
  bool sourceNoFollow = false;
  bool targetNoFollow = false;
  bool force = false;  // convert even a decryption that looks random

  std::function<void(uint64_t done, std::optional<uint64_t> total)> progress;
  const std::atomic<bool>* cancel = nullptr;

  ConvertRequest() = default;
  ConvertRequest(const ConvertRequest&) = default;
  ConvertRequest& operator=(const ConvertRequest&) = default;
  ~ConvertRequest() {
    SecureZero(passphrase.data(), passphrase.size());
    if (newPassphrase) SecureZero(newPassphrase->data(), newPassphrase->size());
  }
};

struct ConvertOutcome {
  std::optional<JobError> error;
  std::optional<JobError> warning;  // a success with a leftover problem (source not deleted)
  bool looksRandom = false;         // the legacy decryption looked random (refused unless forced)
  bool verified = false;            // the age file was read back and matched
  bool sourceDeleted = false;
  uint64_t bytes = 0;  // plaintext bytes

  bool Succeeded() const { return !error; }
};

ConvertOutcome RunConvert(const ConvertRequest& request);

struct CheckOutcome {
  std::optional<JobError> error;
  uint64_t bytes = 0;
  bool armored = false;
};

// Authenticates a whole age file (path, or fd when given) without writing any plaintext.
CheckOutcome CheckAgeFile(const std::string& path, std::optional<int> fd,
                          const age::Unlock& unlock);

}  // namespace kryvane
