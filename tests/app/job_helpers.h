// Building file job requests over the catalogue's cipher and hash pairs.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "app/catalogue.h"
#include "app/file_job.h"

namespace kryvane::test {

struct Pair {
  const CipherEntry* cipher;
  const HashEntry* hash;

  std::string Name() const {
    return std::string(cipher->shortName) + "-" + std::string(hash->shortName);
  }
  // Block size in bytes; 1 for the stream cipher.
  std::size_t BlockBytes() const {
    return cipher->cipher.blockSize > 0 ? std::size_t(cipher->cipher.blockSize / 8) : 1;
  }
};

// For test names and failure messages.
inline void PrintTo(const Pair& pair, std::ostream* os) {
  *os << pair.Name();
}

inline std::vector<Pair> AllPairs() {
  std::vector<Pair> pairs;
  for (const CipherEntry& c : CipherCatalogue()) {
    for (const HashEntry& h : HashCatalogue()) pairs.push_back({&c, &h});
  }
  return pairs;
}

inline JobRequest MakeRequest(JobDirection direction, const std::string& source,
                              const std::string& target, const Pair& pair,
                              const std::string& passphrase = "correct horse") {
  JobRequest r;
  r.direction = direction;
  r.sourcePath = source;
  r.targetPath = target;
  r.passphrase = passphrase;
  r.retypedPassphrase = passphrase;
  r.cipherPosition = pair.cipher->position;
  r.hashPosition = pair.hash->position;
  return r;
}

inline JobRequest Encrypt(const std::string& source, const std::string& target, const Pair& pair,
                          const std::string& passphrase = "correct horse") {
  return MakeRequest(JobDirection::kEncrypt, source, target, pair, passphrase);
}

inline JobRequest Decrypt(const std::string& source, const std::string& target, const Pair& pair,
                          const std::string& passphrase = "correct horse") {
  return MakeRequest(JobDirection::kDecrypt, source, target, pair, passphrase);
}

}  // namespace kryvane::test
