// CAST-128 (RFC 2144): 64-bit block, keys of 8 to 128 bits, 12 rounds for keys of up to ten whole
// bytes and 16 rounds above.
#pragma once

#include <array>

#include "crypto/algorithm_ids.h"
#include "crypto/block_ciphers.h"

namespace kryvane {

class Cast128 final : public BlockCipher64<Cast128> {
 public:
  static constexpr int32_t kId = ids::kCast128;
  static constexpr std::string_view kAlgorithm = "Cast128";
  static constexpr int32_t kMaxKeySize = 128;
  static bool SelfTest();

  Cast128() { WipeKey(); }
  ~Cast128() override { WipeKey(); }

  void EncryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  void DecryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  void WipeKey();

  // 12 or 16 after a key setup, 0 while unkeyed.
  uint32_t Rounds() const { return rounds_; }

 protected:
  // Zero-pads the first bits / 8 key bytes to 16; a size with no whole byte is refused.
  void ExpandKey(const uint8_t* key, uint32_t bits) override;

 private:
  std::array<uint32_t, 16> km_;  // masking keys
  std::array<uint32_t, 16> kr_;  // rotation amounts, 0..31
  uint32_t rounds_;
};

}  // namespace kryvane
