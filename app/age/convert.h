// Converting a legacy file to an age file: the file job decrypts the legacy file and hands the
// plaintext to an age encoder, which seals it into the target, so the job's rules (how the source
// is opened, the target prepared and committed, the guard, the verified read-back, when the source
// may go) are the same for a conversion as for a decryption, and no plaintext reaches a disk.
// `convert --check` authenticates an age file without writing its plaintext.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/age/format.h"
#include "app/base/secret.h"
#include "app/file_job.h"

namespace kryvane {

// Who can open the age file, and its form.
struct AgeTarget {
  // X25519 recipients, or else a new passphrase (bytes for scrypt).
  std::vector<age::Recipient> recipients;
  std::optional<Secret> newPassphrase;
  int workFactor = age::kDefaultWorkFactor;
  bool armor = false;
};

// An encoder for JobRequest::encoder: a fresh file key, the stanzas for target, and the STREAM
// payload; its Verify reads the file back (every chunk authenticates, the header is the one
// written, the plaintext has the SHA-256 of what was sealed). Throws age::AgeError for a target
// without recipients or passphrase.
std::unique_ptr<TargetEncoder> MakeAgeEncoder(const AgeTarget& target);

struct CheckOutcome {
  std::optional<JobError> error;
  uint64_t bytes = 0;
  bool armored = false;
};

// Authenticates a whole age file (path, or fd when given) without writing any plaintext.
CheckOutcome CheckAgeFile(const std::string& path, std::optional<int> fd,
                          const age::Unlock& unlock);

}  // namespace kryvane
