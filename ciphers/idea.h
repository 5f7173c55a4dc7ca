// IDEA: 64-bit block of four 16-bit words, eight rounds and an output transformation, keys of up
// to 128 bits (shorter keys are zero-padded).
#pragma once

#include <array>

#include "crypto/algorithm_ids.h"
#include "crypto/block_ciphers.h"
#include "crypto/cpu.h"

namespace kryvane {

class Idea final : public BlockCipher64<Idea> {
 public:
  static constexpr int32_t kId = ids::kIdea;
  static constexpr std::string_view kAlgorithm = "IDEA";
  static constexpr int32_t kMaxKeySize = 128;
  // A size with no whole byte is refused.
  static constexpr int32_t kMinKeySize = 8;
  static bool SelfTest();

  // The instruction set the keyed instance runs on.
  cpu::Isa Path() const { return isa_; }
  // Encryption is one CBC chain, which no vector path serves: always portable.
  cpu::Isa EncryptPath() const { return cpu::Isa::kPortable; }
  cpu::Isa DecryptPath() const { return isa_; }

  // The group operations: multiplication modulo 65537 with 0 standing for 65536, and its inverse.
  static uint16_t Mul(uint16_t a, uint16_t b) {
    const uint32_t p = uint32_t(a) * b;
    if (p == 0) return uint16_t(1 - a - b);
    const uint16_t lo = uint16_t(p), hi = uint16_t(p >> 16);
    return uint16_t(lo - hi + (lo < hi ? 1 : 0));
  }
  static uint16_t MulInverse(uint16_t x);

 private:
  friend BlockCipher64<Idea>;

  // Zero-pads the first bits / 8 key bytes to 16.
  void ExpandKey(const uint8_t* key, uint32_t bits) override;
  void EncryptBlockImpl(const uint8_t* in, uint8_t* out) const { Crypt(z_.data(), in, out); }
  void DecryptBlockImpl(const uint8_t* in, uint8_t* out) const { Crypt(d_.data(), in, out); }
  // n independent blocks, one per 16-bit vector lane where the processor allows (8, 16 or 32 at
  // once); out may equal in.
  void DecryptBlocksImpl(const uint8_t* in, uint8_t* out, std::size_t n) const;
  void WipeKey();

  static void Crypt(const uint16_t* k, const uint8_t* in, uint8_t* out);

  WipedArray<uint16_t, 52> z_;  // encryption subkeys
  WipedArray<uint16_t, 52> d_;  // decryption subkeys
  cpu::Isa isa_ = cpu::Isa::kPortable;
};

}  // namespace kryvane
