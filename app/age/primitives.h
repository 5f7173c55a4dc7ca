// The modern primitives the age files need, all from OpenSSL's libcrypto: X25519,
// ChaCha20-Poly1305, HKDF-SHA-256, HMAC-SHA-256, SHA-256, scrypt and its random generator.
// Failures of the library itself throw std::runtime_error; authentication failures are results.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "app/base/secret.h"
#include "crypto/bytes.h"

namespace kryvane::age {

using Key32 = SecretBytes<32>;

void RandomBytes(std::span<uint8_t> out);

// X25519(scalar, point); false when the result is all zeros (a point of small order).
bool X25519(std::span<const uint8_t, 32> scalar, std::span<const uint8_t, 32> point,
            std::span<uint8_t, 32> out);
// X25519(scalar, base point): the public key of a secret.
void X25519Base(std::span<const uint8_t, 32> scalar, std::span<uint8_t, 32> out);

// HKDF-SHA-256 with 32 bytes of output; an empty salt is the RFC's default salt.
void Hkdf(std::span<const uint8_t> ikm, std::span<const uint8_t> salt, std::string_view info,
          Key32& out);

void HmacSha256(std::span<const uint8_t> key, std::span<const uint8_t> data,
                std::span<uint8_t, 32> out);

// scrypt with r = 8, p = 1, N = 2^logN, 32 bytes of output.
void Scrypt(std::string_view passphrase, std::span<const uint8_t> salt, int logN, Key32& out);

bool EqualConstantTime(std::span<const uint8_t> a, std::span<const uint8_t> b);

inline constexpr std::size_t kTagSize = 16;

// ChaCha20-Poly1305 under one key, for many messages with 12-byte nonces and no associated data.
class ChaChaPoly {
 public:
  explicit ChaChaPoly(std::span<const uint8_t, 32> key);
  ~ChaChaPoly();
  ChaChaPoly(const ChaChaPoly&) = delete;
  ChaChaPoly& operator=(const ChaChaPoly&) = delete;

  // out receives size bytes of ciphertext and the 16-byte tag; in and out may be the same.
  void Seal(std::span<const uint8_t, 12> nonce, const uint8_t* in, std::size_t size, uint8_t* out);
  // in holds size bytes of ciphertext then the tag; false (out erased) when it does not
  // authenticate.
  bool Open(std::span<const uint8_t, 12> nonce, const uint8_t* in, std::size_t size, uint8_t* out);

 private:
  void* encrypt_;  // EVP_CIPHER_CTX
  void* decrypt_;
};

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  void Update(const void* data, std::size_t size);
  std::array<uint8_t, 32> Final();

 private:
  void* ctx_;  // EVP_MD_CTX
};

}  // namespace kryvane::age
