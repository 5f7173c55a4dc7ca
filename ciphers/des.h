// DES (FIPS 46-3) and two- or three-key triple DES in encrypt-decrypt-encrypt form (ANSI X9.52).
#pragma once

#include <array>
#include <cstdint>

#include "crypto/algorithm_ids.h"
#include "crypto/block_ciphers.h"

namespace kryvane {

// One DES key schedule: a pair of words per round, rounds 1 to 16, each pair holding the round's
// 48 subkey bits in the layout the round tables expect.
using DesKeySchedule = std::array<uint32_t, 32>;

// The DES machinery that single and triple DES share. It has no key of its own and is never
// offered to the user. Input and output blocks may be the same buffer.
template <class Derived>
class CustomDes : public BlockCipher64<Derived> {
 public:
  // Uses 8 key bytes. The parity bits (the low bit of every byte) are ignored, not checked, and
  // weak keys are accepted: stored files may have been written with any key.
  static void MakeKeySchedule(const uint8_t* key, DesKeySchedule& schedule);
  static void EncryptWithSchedule(const uint8_t* in, uint8_t* out, const DesKeySchedule& k);
  static void DecryptWithSchedule(const uint8_t* in, uint8_t* out, const DesKeySchedule& k);
};

class Des final : public CustomDes<Des> {
 public:
  static constexpr int32_t kId = ids::kDes;
  static constexpr std::string_view kAlgorithm = "DES";
  static constexpr int32_t kMinKeySize = 8;
  static constexpr int32_t kMaxKeySize = 64;
  static bool SelfTest();

 private:
  friend BlockCipher64<Des>;

  // Keys shorter than 64 bits are padded with zero bytes; a trailing half byte is dropped.
  void ExpandKey(const uint8_t* key, uint32_t bits) override;
  void EncryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  void DecryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  // n blocks, several at a time.
  void DecryptBlocksImpl(const uint8_t* in, uint8_t* out, std::size_t n) const;
  void EncryptCbcImpl(const uint8_t* in, uint8_t* out, std::size_t n, uint8_t* cv) const;
  void WipeKey() { key_.Wipe(); }

  Wiped<DesKeySchedule> key_{};
};

class TripleDes final : public CustomDes<TripleDes> {
 public:
  static constexpr int32_t kId = ids::kTripleDes;
  static constexpr std::string_view kAlgorithm = "3DES";
  static constexpr int32_t kMinKeySize = 8;
  static constexpr int32_t kMaxKeySize = 192;
  static bool SelfTest();

 private:
  friend BlockCipher64<TripleDes>;

  // The whole key bytes, zero-padded to 24, are K1 || K2 || K3. Up to 128 bits K3 is K1
  // (two-key triple DES); above 128 bits K3 comes from bytes 16..23, so a 132-bit key has an
  // all-zero K3 and a 160-bit key's K3 is its last four bytes and four zero bytes.
  void ExpandKey(const uint8_t* key, uint32_t bits) override;
  // Encrypt with K1, decrypt with K2, encrypt with K3, and the inverse.
  void EncryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  void DecryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  void DecryptBlocksImpl(const uint8_t* in, uint8_t* out, std::size_t n) const;
  void EncryptCbcImpl(const uint8_t* in, uint8_t* out, std::size_t n, uint8_t* cv) const;
  void WipeKey() {
    k1_.Wipe();
    k2_.Wipe();
    k3_.Wipe();
  }

  Wiped<DesKeySchedule> k1_{};
  Wiped<DesKeySchedule> k2_{};
  Wiped<DesKeySchedule> k3_{};
};

}  // namespace kryvane
