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
  static constexpr int32_t kMaxKeySize = 448;
  static bool SelfTest();

  Blowfish() { WipeKey(); }
  ~Blowfish() override { WipeKey(); }

  void EncryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  void DecryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  void WipeKey();

 protected:
  // Uses the first bits / 8 key bytes cyclically; a size with no whole byte is refused.
  void ExpandKey(const uint8_t* key, uint32_t bits) override;

 private:
  uint32_t F(uint32_t x) const {
    return ((s_[0][x >> 24] + s_[1][(x >> 16) & 0xFF]) ^ s_[2][(x >> 8) & 0xFF]) + s_[3][x & 0xFF];
  }

  std::array<std::array<uint32_t, 256>, 4> s_;
  std::array<uint32_t, 18> p_;
};

}  // namespace kryvane
