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

namespace des_detail {
void MakeKeySchedule(const uint8_t* key, DesKeySchedule& schedule);
void Encrypt(const uint8_t* in, uint8_t* out, const DesKeySchedule& k);
void Decrypt(const uint8_t* in, uint8_t* out, const DesKeySchedule& k);
// Encrypt with k1, decrypt with k2, encrypt with k3 (and the inverse), without the permutations
// between the three stages, which cancel out.
void EncryptEde(const uint8_t* in, uint8_t* out, const DesKeySchedule& k1, const DesKeySchedule& k2,
                const DesKeySchedule& k3);
void DecryptEde(const uint8_t* in, uint8_t* out, const DesKeySchedule& k1, const DesKeySchedule& k2,
                const DesKeySchedule& k3);
// CBC over n whole blocks from the chaining value cv, which ends as the last ciphertext block.
void EncryptCbc(const uint8_t* in, uint8_t* out, std::size_t n, uint8_t* cv,
                const DesKeySchedule& k);
void EncryptEdeCbc(const uint8_t* in, uint8_t* out, std::size_t n, uint8_t* cv,
                   const DesKeySchedule& k1, const DesKeySchedule& k2, const DesKeySchedule& k3);
// n blocks, several at a time.
void DecryptBlocks(const uint8_t* in, uint8_t* out, std::size_t n, const DesKeySchedule& k);
void DecryptEdeBlocks(const uint8_t* in, uint8_t* out, std::size_t n, const DesKeySchedule& k1,
                      const DesKeySchedule& k2, const DesKeySchedule& k3);
}  // namespace des_detail

// The DES machinery that single and triple DES share. It has no key of its own and is never
// offered to the user. Input and output blocks may be the same buffer.
template <class Derived>
class CustomDes : public BlockCipher64<Derived> {
 public:
  // Uses 8 key bytes. The parity bits (the low bit of every byte) are ignored, not checked, and
  // weak keys are accepted: stored files may have been written with any key.
  static void MakeKeySchedule(const uint8_t* key, DesKeySchedule& schedule) {
    des_detail::MakeKeySchedule(key, schedule);
  }
  static void EncryptWithSchedule(const uint8_t* in, uint8_t* out, const DesKeySchedule& k) {
    des_detail::Encrypt(in, out, k);
  }
  static void DecryptWithSchedule(const uint8_t* in, uint8_t* out, const DesKeySchedule& k) {
    des_detail::Decrypt(in, out, k);
  }
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
  void EncryptBlockImpl(const uint8_t* in, uint8_t* out) const {
    EncryptWithSchedule(in, out, key_);
  }
  void DecryptBlockImpl(const uint8_t* in, uint8_t* out) const {
    DecryptWithSchedule(in, out, key_);
  }
  void DecryptBlocksImpl(const uint8_t* in, uint8_t* out, std::size_t n) const {
    des_detail::DecryptBlocks(in, out, n, key_);
  }
  void EncryptCbcImpl(const uint8_t* in, uint8_t* out, std::size_t n, uint8_t* cv) const {
    des_detail::EncryptCbc(in, out, n, cv, key_);
  }
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
  void EncryptBlockImpl(const uint8_t* in, uint8_t* out) const {
    des_detail::EncryptEde(in, out, k1_, k2_, k3_);
  }
  void DecryptBlockImpl(const uint8_t* in, uint8_t* out) const {
    des_detail::DecryptEde(in, out, k1_, k2_, k3_);
  }
  void DecryptBlocksImpl(const uint8_t* in, uint8_t* out, std::size_t n) const {
    des_detail::DecryptEdeBlocks(in, out, n, k1_, k2_, k3_);
  }
  void EncryptCbcImpl(const uint8_t* in, uint8_t* out, std::size_t n, uint8_t* cv) const {
    des_detail::EncryptEdeCbc(in, out, n, cv, k1_, k2_, k3_);
  }
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
