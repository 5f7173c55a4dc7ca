#include "crypto/components.h"

#include <array>
#include <vector>

#include "crypto/base64.h"
#include "crypto/bytes.h"

namespace kryvane {

void Cipher::Init(const void* /*key*/, uint32_t bits, const void* /*iv*/) {
  if (initialized_) Wipe();
  // MaxKeySize() of -1 reads as the largest unsigned value: the base cipher takes any size.
  const auto max = static_cast<uint32_t>(MaxKeySize());
  if (bits == 0 || bits % 4 != 0 || bits > max) throw CipherError(kInvalidKeySize);
  initialized_ = true;
}

std::string Cipher::EncryptText(std::string_view text) {
  std::string bytes(text);
  Encrypt(bytes.data(), bytes.data(), bytes.size());
  std::string result = EncodeBase64Text(bytes);
  SecureZero(bytes.data(), bytes.size());
  return result;
}

std::string Cipher::DecryptText(std::string_view base64) {
  std::string bytes = DecodeBase64Text(base64);
  Decrypt(bytes.data(), bytes.data(), bytes.size());
  return bytes;
}

void Cipher::InitFromPassphrase(std::string_view passphrase, const HashRef& hash) {
  if (initialized_) Wipe();
  std::vector<uint8_t> digest;
  try {
    if (hash.create == nullptr) throw CipherError(kInvalidKeySize);
    std::unique_ptr<Hash> h = hash.Create();
    // The instance, not the reference, says how many bytes Final writes.
    const int32_t digestBits = h->HashSize();
    if (digestBits < 8) throw CipherError(kInvalidKeySize);
    digest.assign(static_cast<std::size_t>(digestBits) / 8, 0);
    h->Init();
    h->UpdateText(passphrase);
    h->Final(digest.data());
    h.reset();
    const int32_t maxBits = MaxKeySize();
    Init(digest.data(), static_cast<uint32_t>(maxBits < digestBits ? maxBits : digestBits));
  } catch (...) {
    SecureFill(digest.data(), 0xFF, digest.size());
    throw CipherError(kDigestAllocationFailed);
  }
  SecureFill(digest.data(), 0xFF, digest.size());
}

template <bool kEncrypt>
uint64_t Cipher::TransformStream(ByteSource& source, ByteSink& target, uint64_t size) {
  std::array<uint8_t, kStreamChunk> buffer;
  uint64_t total = 0;
  try {
    while (total < size) {
      const std::size_t want =
          size - total < kStreamChunk ? static_cast<std::size_t>(size - total) : kStreamChunk;
      const std::size_t got = source.Read(buffer.data(), want);
      total += got;
      if constexpr (kEncrypt) {
        Encrypt(buffer.data(), buffer.data(), got);
      } else {
        Decrypt(buffer.data(), buffer.data(), got);
      }
      if (got > 0) target.Write(buffer.data(), got);
      // A short read means the source has ended; later reads would return nothing.
      if (got < want) break;
    }
  } catch (...) {
    SecureZeroObject(buffer);
    throw;
  }
  SecureZeroObject(buffer);
  return total;
}

uint64_t Cipher::EncryptStream(ByteSource& source, ByteSink& target, uint64_t size) {
  return TransformStream<true>(source, target, size);
}

uint64_t Cipher::DecryptStream(ByteSource& source, ByteSink& target, uint64_t size) {
  return TransformStream<false>(source, target, size);
}

void BlockCipher::Encrypt(const void* in, void* out, std::size_t size) {
  switch (mode_) {
    case ChainingMode::cmCBC:
      return EncryptCBC(in, out, size);
    case ChainingMode::cmCFB8bit:
      return EncryptCFB8bit(in, out, size);
    case ChainingMode::cmCFBblock:
      return EncryptCFBblock(in, out, size);
    case ChainingMode::cmOFB:
      return EncryptOFB(in, out, size);
    case ChainingMode::cmCTR:
      return EncryptCTR(in, out, size);
  }
}

void BlockCipher::Decrypt(const void* in, void* out, std::size_t size) {
  switch (mode_) {
    case ChainingMode::cmCBC:
      return DecryptCBC(in, out, size);
    case ChainingMode::cmCFB8bit:
      return DecryptCFB8bit(in, out, size);
    case ChainingMode::cmCFBblock:
      return DecryptCFBblock(in, out, size);
    case ChainingMode::cmOFB:
      return DecryptOFB(in, out, size);
    case ChainingMode::cmCTR:
      return DecryptCTR(in, out, size);
  }
}

std::string BlockCipher::EncryptText(std::string_view text) {
  std::string bytes(text);
  EncryptCFB8bit(bytes.data(), bytes.data(), bytes.size());
  std::string result = EncodeBase64Text(bytes);
  SecureZero(bytes.data(), bytes.size());
  return result;
}

std::string BlockCipher::DecryptText(std::string_view base64) {
  std::string bytes = DecodeBase64Text(base64);
  DecryptCFB8bit(bytes.data(), bytes.data(), bytes.size());
  return bytes;
}

}  // namespace kryvane
