// CAST-256 (48 rounds over a 128-bit block) for keys of up to 256 bits; shorter keys are
// zero-padded to 256 bits.
#pragma once

#include <array>

#include "crypto/algorithm_ids.h"
#include "crypto/block_ciphers.h"

namespace kryvane {

class Cast256 final : public BlockCipher128<Cast256> {
 public:
  static constexpr int32_t kId = ids::kCast256;
  static constexpr std::string_view kAlgorithm = "Cast256";
  static constexpr int32_t kMaxKeySize = 256;
  static bool SelfTest();

  Cast256() { WipeKey(); }
  ~Cast256() override { WipeKey(); }

  void ExpandKey(const uint8_t* key, uint32_t bits) override;
  void EncryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  void DecryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  void WipeKey();

 private:
  static constexpr int kQuadRounds = 12;
  // Quad-round i uses entries 4i .. 4i+3.
  std::array<uint32_t, 4 * kQuadRounds> kr_;  // rotations, 0..31
  std::array<uint32_t, 4 * kQuadRounds> km_;  // masks
};

}  // namespace kryvane
