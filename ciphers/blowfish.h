// Blowfish: 64-bit block, 16 rounds, key-dependent S-boxes, keys of 8 to 448 bits.
#pragma once

#include <array>

#include "crypto/algorithm_ids.h"
#include "crypto/block_ciphers.h"

namespace kryvane {

class Blowfish final : public BlockCipher64<Blowfish> {
 public:
  static constexpr int32_t kId = ids::kBlowfish;
  static constexpr std::string_view kAlgorithm = "Blowfish";
  static constexpr int32_t kMinKeySize = 8;
  static constexpr int32_t kMaxKeySize = 448;
  static bool SelfTest();

  // The instruction set the keyed instance runs on: with AVX-512, CBC decryption deciphers
  // sixteen blocks at once in vector lanes.
  cpu::Isa Path() const { return isa_; }
  // Encryption is one CBC chain, which no vector path serves: always portable.
  cpu::Isa EncryptPath() const { return cpu::Isa::kPortable; }
  cpu::Isa DecryptPath() const { return isa_; }

 private:
  friend BlockCipher64<Blowfish>;

  // Uses the first bits / 8 key bytes cyclically.
  void ExpandKey(const uint8_t* key, uint32_t bits) override;
  void EncryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  void DecryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  void DecryptBlocksImpl(const uint8_t* in, uint8_t* out, std::size_t n) const;
  void EncryptCbcImpl(const uint8_t* in, uint8_t* out, std::size_t n, uint8_t* cv) const;

  // The sixteen rounds and the output whitening on the two halves, in place.
  inline void EncryptWords(uint32_t& l, uint32_t& r) const;
  void WipeKey();

  // N independent blocks with their rounds interleaved, so the table lookups of one block fill
  // the wait for another's.
  template <std::size_t N>
  void DecryptLanes(const uint8_t* in, uint8_t* out) const;

  uint32_t F(uint32_t x) const {
    return ((s_[0][x >> 24] + s_[1][(x >> 16) & 0xFF]) ^ s_[2][(x >> 8) & 0xFF]) + s_[3][x & 0xFF];
  }

  Wiped<std::array<std::array<uint32_t, 256>, 4>> s_{};
  WipedArray<uint32_t, 18> p_{};
  cpu::Isa isa_ = cpu::Isa::kPortable;
};

}  // namespace kryvane
