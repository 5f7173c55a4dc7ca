// MISTY1 (RFC 2994): 64-bit block, 128-bit key, eight rounds of the nested FO/FI functions with
// key-dependent FL layers.
#pragma once

#include <array>

#include "crypto/algorithm_ids.h"
#include "crypto/block_ciphers.h"

namespace kryvane {

class Misty1 final : public BlockCipher64<Misty1> {
 public:
  static constexpr int32_t kId = ids::kMisty1;
  static constexpr std::string_view kAlgorithm = "Misty1";
  static constexpr int32_t kMaxKeySize = 128;
  static bool SelfTest();

  ~Misty1() override { WipeKey(); }

  void EncryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  void DecryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  void WipeKey() { SecureZeroObject(ek_); }

 protected:
  // Shorter keys are zero-padded and a trailing half byte is dropped; a size below one byte is
  // refused.
  void ExpandKey(const uint8_t* key, uint32_t bits) override;

 private:
  uint32_t FO(uint32_t x, unsigned k) const;
  uint32_t FL(uint32_t x, unsigned k) const;
  uint32_t FLInverse(uint32_t x, unsigned k) const;

  // K1..K8 from the key, then the derived K'1..K'8; 16-bit values.
  std::array<uint32_t, 16> ek_{};
};

}  // namespace kryvane
