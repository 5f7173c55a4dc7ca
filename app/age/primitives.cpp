#include "app/age/primitives.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include <limits>
#include <memory>
#include <stdexcept>
#include <string>

namespace kryvane::age {
namespace {

[[noreturn]] void LibraryFailure(const char* what) {
  throw std::runtime_error(std::string("OpenSSL: ") + what + " failed");
}

struct PkeyFree {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct PkeyCtxFree {
  void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree>;

Pkey PrivateKey(std::span<const uint8_t, 32> scalar) {
  Pkey key(EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, scalar.data(), 32));
  if (!key) LibraryFailure("X25519 key");
  return key;
}

EVP_CIPHER_CTX* NewCipherContext(std::span<const uint8_t, 32> key, bool encrypt) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  if (ctx == nullptr || EVP_CipherInit_ex(ctx, EVP_chacha20_poly1305(), nullptr, key.data(),
                                          nullptr, encrypt ? 1 : 0) != 1) {
    EVP_CIPHER_CTX_free(ctx);
    LibraryFailure("ChaCha20-Poly1305 key");
  }
  return ctx;
}

int AsInt(std::size_t n) {
  if (n > std::size_t(std::numeric_limits<int>::max())) LibraryFailure("message size");
  return int(n);
}

}  // namespace

void RandomBytes(std::span<uint8_t> out) {
  if (RAND_bytes(out.data(), AsInt(out.size())) != 1) LibraryFailure("random generator");
}

bool X25519(std::span<const uint8_t, 32> scalar, std::span<const uint8_t, 32> point,
            std::span<uint8_t, 32> out) {
  const Pkey mine = PrivateKey(scalar);
  const Pkey peer(EVP_PKEY_new_raw_public_key(EVP_PKEY_X25519, nullptr, point.data(), 32));
  if (!peer) LibraryFailure("X25519 point");
  const PkeyCtx ctx(EVP_PKEY_CTX_new(mine.get(), nullptr));
  std::size_t length = 32;
  if (!ctx || EVP_PKEY_derive_init(ctx.get()) != 1 ||
      EVP_PKEY_derive_set_peer_ex(ctx.get(), peer.get(), 0) != 1) {
    LibraryFailure("X25519");
  }
  // The library refuses an all-zero result; so does the format.
  if (EVP_PKEY_derive(ctx.get(), out.data(), &length) != 1 || length != 32) {
    SecureZero(out.data(), 32);
    return false;
  }
  uint8_t any = 0;
  for (const uint8_t b : out) any |= b;
  return any != 0;
}

void X25519Base(std::span<const uint8_t, 32> scalar, std::span<uint8_t, 32> out) {
  const Pkey key = PrivateKey(scalar);
  std::size_t length = 32;
  if (EVP_PKEY_get_raw_public_key(key.get(), out.data(), &length) != 1 || length != 32) {
    LibraryFailure("X25519 public key");
  }
}

void Hkdf(std::span<const uint8_t> ikm, std::span<const uint8_t> salt, std::string_view info,
          Key32& out) {
  EVP_KDF* kdf = EVP_KDF_fetch(nullptr, OSSL_KDF_NAME_HKDF, nullptr);
  EVP_KDF_CTX* ctx = kdf ? EVP_KDF_CTX_new(kdf) : nullptr;
  EVP_KDF_free(kdf);
  if (ctx == nullptr) LibraryFailure("HKDF");
  char digest[] = "SHA256";
  OSSL_PARAM params[5];
  int n = 0;
  params[n++] = OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0);
  params[n++] = OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY,
                                                  const_cast<uint8_t*>(ikm.data()), ikm.size());
  // HMAC pads its key with zeros, so leaving the salt out is the same as an empty one.
  if (!salt.empty()) {
    params[n++] = OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT,
                                                    const_cast<uint8_t*>(salt.data()), salt.size());
  }
  params[n++] = OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO,
                                                  const_cast<char*>(info.data()), info.size());
  params[n] = OSSL_PARAM_construct_end();
  const int ok = EVP_KDF_derive(ctx, out.data(), out.size(), params);
  EVP_KDF_CTX_free(ctx);
  if (ok != 1) LibraryFailure("HKDF");
}

void HmacSha256(std::span<const uint8_t> key, std::span<const uint8_t> data,
                std::span<uint8_t, 32> out) {
  std::size_t length = 0;
  if (EVP_Q_mac(nullptr, "HMAC", nullptr, "SHA256", nullptr, key.data(), key.size(), data.data(),
                data.size(), out.data(), out.size(), &length) == nullptr ||
      length != 32) {
    LibraryFailure("HMAC");
  }
}

void Scrypt(std::string_view passphrase, std::span<const uint8_t> salt, int logN, Key32& out) {
  if (logN < 1 || logN > 30) LibraryFailure("scrypt work factor");
  const uint64_t n = uint64_t(1) << logN;
  constexpr uint64_t r = 8;
  // The library's own bound: 128 r (N + 2) bytes for V plus 128 r p for B.
  const uint64_t memory = 128 * r * (n + 3) + 4096;
  if (EVP_PBE_scrypt(passphrase.data(), passphrase.size(), salt.data(), salt.size(), n, r, 1,
                     memory, out.data(), out.size()) != 1) {
    LibraryFailure("scrypt");
  }
}

bool EqualConstantTime(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

ChaChaPoly::ChaChaPoly(std::span<const uint8_t, 32> key)
    : encrypt_(NewCipherContext(key, true)), decrypt_(nullptr) {
  try {
    decrypt_ = NewCipherContext(key, false);
  } catch (...) {
    EVP_CIPHER_CTX_free(static_cast<EVP_CIPHER_CTX*>(encrypt_));
    throw;
  }
}

ChaChaPoly::~ChaChaPoly() {
  // Freeing a context erases its key schedule.
  EVP_CIPHER_CTX_free(static_cast<EVP_CIPHER_CTX*>(encrypt_));
  EVP_CIPHER_CTX_free(static_cast<EVP_CIPHER_CTX*>(decrypt_));
}

void ChaChaPoly::Seal(std::span<const uint8_t, 12> nonce, const uint8_t* in, std::size_t size,
                      uint8_t* out) {
  auto* ctx = static_cast<EVP_CIPHER_CTX*>(encrypt_);
  int length = 0;
  if (EVP_EncryptInit_ex(ctx, nullptr, nullptr, nullptr, nonce.data()) != 1 ||
      (size > 0 && EVP_EncryptUpdate(ctx, out, &length, in, AsInt(size)) != 1) ||
      EVP_EncryptFinal_ex(ctx, out + size, &length) != 1 ||
      EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_GET_TAG, int(kTagSize), out + size) != 1) {
    LibraryFailure("ChaCha20-Poly1305 seal");
  }
}

bool ChaChaPoly::Open(std::span<const uint8_t, 12> nonce, const uint8_t* in, std::size_t size,
                      uint8_t* out) {
  auto* ctx = static_cast<EVP_CIPHER_CTX*>(decrypt_);
  uint8_t tag[kTagSize];
  std::copy(in + size, in + size + kTagSize, tag);
  int length = 0;
  if (EVP_DecryptInit_ex(ctx, nullptr, nullptr, nullptr, nonce.data()) != 1 ||
      (size > 0 && EVP_DecryptUpdate(ctx, out, &length, in, AsInt(size)) != 1) ||
      EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_SET_TAG, int(kTagSize), tag) != 1) {
    LibraryFailure("ChaCha20-Poly1305 open");
  }
  if (EVP_DecryptFinal_ex(ctx, out + size, &length) != 1) {
    SecureZero(out, size);
    return false;
  }
  return true;
}

Sha256::Sha256() : ctx_(EVP_MD_CTX_new()) {
  if (ctx_ == nullptr ||
      EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(ctx_), EVP_sha256(), nullptr) != 1) {
    EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(ctx_));
    LibraryFailure("SHA-256");
  }
}

Sha256::~Sha256() {
  EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(ctx_));
}

void Sha256::Update(const void* data, std::size_t size) {
  if (EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(ctx_), data, size) != 1) {
    LibraryFailure("SHA-256");
  }
}

std::array<uint8_t, 32> Sha256::Final() {
  std::array<uint8_t, 32> out{};
  unsigned length = 0;
  if (EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(ctx_), out.data(), &length) != 1) {
    LibraryFailure("SHA-256");
  }
  return out;
}

}  // namespace kryvane::age
