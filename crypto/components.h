// The abstract hash, cipher and block cipher, and the class references through which callers
// reach an algorithm without an instance.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "crypto/streams.h"

namespace kryvane {

class HashError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class CipherError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class BlockCipherError : public CipherError {
 public:
  using CipherError::CipherError;
};

inline constexpr const char* kHashNotInitialized = "Hash not initialized";
inline constexpr const char* kCipherNotInitialized = "Cipher not initialized";
inline constexpr const char* kInvalidKeySize = "Invalid key size";
inline constexpr const char* kDigestAllocationFailed =
    "Unable to allocate sufficient memory for hash digest";

// ---------------------------------------------------------------------------------------------
// Hash

class Hash {
 public:
  Hash() = default;
  Hash(const Hash&) = delete;
  Hash& operator=(const Hash&) = delete;
  virtual ~Hash() = default;

  // Class facts of the actual class; the base answers the neutral values.
  virtual int32_t Id() const { return -1; }
  virtual std::string_view Algorithm() const { return {}; }
  virtual int32_t HashSize() const { return -1; }

  virtual void Init() {}
  // Writes exactly HashSize() / 8 bytes, then wipes the instance.
  virtual void Final(void* /*digest*/) {}
  virtual void Wipe() {}
  virtual void Update(const void* /*buffer*/, std::size_t /*size*/) {}

  void UpdateText(std::string_view text) { Update(text.data(), text.size()); }
  bool Initialized() const { return initialized_; }

 protected:
  bool initialized_ = false;
};

// A hash class: its facts, its known-answer test and a factory.
struct HashRef {
  int32_t id = -1;
  std::string_view algorithm;
  int32_t hashSize = -1;
  bool (*selfTest)() = nullptr;
  std::unique_ptr<Hash> (*create)() = nullptr;

  bool SelfTest() const { return selfTest != nullptr && selfTest(); }
  std::unique_ptr<Hash> Create() const { return create(); }

  // T provides static kId, kAlgorithm, kHashSize and SelfTest().
  template <class T>
  static HashRef Of() {
    return HashRef{T::kId, T::kAlgorithm, T::kHashSize, &T::SelfTest,
                   []() -> std::unique_ptr<Hash> { return std::make_unique<T>(); }};
  }
};

// Gives a concrete hash its class facts from the static constants it declares.
template <class Derived, class Base = Hash>
class HashFacts : public Base {
 public:
  int32_t Id() const override { return Derived::kId; }
  std::string_view Algorithm() const override { return Derived::kAlgorithm; }
  int32_t HashSize() const override { return Derived::kHashSize; }
};

// ---------------------------------------------------------------------------------------------
// Cipher

class Cipher {
 public:
  static constexpr std::size_t kStreamChunk = 8192;

  Cipher() = default;
  Cipher(const Cipher&) = delete;
  Cipher& operator=(const Cipher&) = delete;
  virtual ~Cipher() = default;

  virtual int32_t Id() const { return -1; }
  virtual std::string_view Algorithm() const { return {}; }
  virtual int32_t MaxKeySize() const { return -1; }

  // Keys the cipher with the first bits / 8 bytes of key. The base applies the key-size rule:
  // a keyed cipher is wiped first, then the size must be above 0, a multiple of 4 and at most
  // MaxKeySize(), or CipherError "Invalid key size" is raised and the cipher stays unkeyed.
  // iv, when given, is one block; ciphers without blocks ignore it.
  virtual void Init(const void* key, uint32_t bits, const void* iv = nullptr);
  virtual void Wipe() { initialized_ = false; }
  virtual void Reset() {}
  // Input and output may be the same buffer.
  virtual void Encrypt(const void* /*in*/, void* /*out*/, std::size_t /*size*/) {}
  virtual void Decrypt(const void* /*in*/, void* /*out*/, std::size_t /*size*/) {}
  // Encrypts the bytes of text and returns them as Base64; DecryptText reverses it.
  virtual std::string EncryptText(std::string_view text);
  virtual std::string DecryptText(std::string_view base64);

  // Key = the passphrase's digest under hash, cut to MaxKeySize(). Any failure becomes
  // CipherError "Unable to allocate sufficient memory for hash digest".
  void InitFromPassphrase(std::string_view passphrase, const HashRef& hash);

  // Transforms size bytes from source to target in calls of kStreamChunk bytes, so the whole
  // stream forms one chain. Stops early when the source runs out; returns the bytes read.
  uint64_t EncryptStream(ByteSource& source, ByteSink& target, uint64_t size);
  uint64_t DecryptStream(ByteSource& source, ByteSink& target, uint64_t size);

  bool Initialized() const { return initialized_; }

 protected:
  bool initialized_ = false;

 private:
  template <bool kEncrypt>
  uint64_t TransformStream(ByteSource& source, ByteSink& target, uint64_t size);
};

struct CipherRef {
  int32_t id = -1;
  std::string_view algorithm;
  int32_t maxKeySize = -1;
  int32_t blockSize = -1;  // bits; -1 for a stream cipher
  bool (*selfTest)() = nullptr;
  std::unique_ptr<Cipher> (*create)() = nullptr;

  bool SelfTest() const { return selfTest != nullptr && selfTest(); }
  std::unique_ptr<Cipher> Create() const { return create(); }

  // T provides static kId, kAlgorithm, kMaxKeySize and SelfTest(); block ciphers also kBlockBytes.
  template <class T>
  static CipherRef Of() {
    int32_t block = -1;
    if constexpr (requires { T::kBlockBytes; }) block = static_cast<int32_t>(T::kBlockBytes * 8);
    return CipherRef{
        T::kId, T::kAlgorithm, T::kMaxKeySize,
        block,  &T::SelfTest,  []() -> std::unique_ptr<Cipher> { return std::make_unique<T>(); }};
  }
};

template <class Derived, class Base>
class CipherFacts : public Base {
 public:
  int32_t Id() const override { return Derived::kId; }
  std::string_view Algorithm() const override { return Derived::kAlgorithm; }
  int32_t MaxKeySize() const override { return Derived::kMaxKeySize; }
};

// ---------------------------------------------------------------------------------------------
// Block cipher

enum class ChainingMode : uint8_t {
  cmCBC = 0,
  cmCFB8bit = 1,
  cmCFBblock = 2,
  cmOFB = 3,
  cmCTR = 4
};

class BlockCipher : public Cipher {
 public:
  ChainingMode CipherMode() const { return mode_; }
  void SetCipherMode(ChainingMode mode) { mode_ = mode; }

  virtual int32_t BlockSize() const { return -1; }
  virtual void SetIV(const void* /*block*/) {}
  // Copies the current chaining value (not the initial vector).
  virtual void GetIV(void* /*block*/) const {}

  // One block; input and output may be the same block.
  virtual void EncryptBlock(const void* /*in*/, void* /*out*/) const {}
  virtual void DecryptBlock(const void* /*in*/, void* /*out*/) const {}

  virtual void EncryptCBC(const void*, void*, std::size_t) {}
  virtual void DecryptCBC(const void*, void*, std::size_t) {}
  virtual void EncryptCFB8bit(const void*, void*, std::size_t) {}
  virtual void DecryptCFB8bit(const void*, void*, std::size_t) {}
  virtual void EncryptCFBblock(const void*, void*, std::size_t) {}
  virtual void DecryptCFBblock(const void*, void*, std::size_t) {}
  virtual void EncryptOFB(const void*, void*, std::size_t) {}
  virtual void DecryptOFB(const void*, void*, std::size_t) {}
  virtual void EncryptCTR(const void*, void*, std::size_t) {}
  virtual void DecryptCTR(const void*, void*, std::size_t) {}

  void Encrypt(const void* in, void* out, std::size_t size) override;
  void Decrypt(const void* in, void* out, std::size_t size) override;
  // Text always uses 8-bit cipher feedback, whatever the mode.
  std::string EncryptText(std::string_view text) override;
  std::string DecryptText(std::string_view base64) override;

 protected:
  // Builds the key schedule from the first bits / 8 key bytes. Called by Init after the
  // key-size rule passed and Initialized() became true, so it may encrypt blocks. It may throw
  // CipherError to refuse a size the algorithm cannot use; Init then wipes the cipher.
  virtual void ExpandKey(const uint8_t* /*key*/, uint32_t /*bits*/) {}

 private:
  ChainingMode mode_ = ChainingMode::cmCBC;
};

}  // namespace kryvane
