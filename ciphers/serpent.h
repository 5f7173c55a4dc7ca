// Serpent with 32 rounds over four little-endian block words, bitslice S-boxes and keys of up
// to 256 bits. Shorter keys get the algorithm's own padding: the whole key bytes, then a single
// 1 bit, then zeros.
#pragma once

#include <array>

#include "crypto/algorithm_ids.h"
#include "crypto/block_ciphers.h"

namespace kryvane {

class Serpent final : public BlockCipher128<Serpent> {
 public:
  static constexpr int32_t kId = ids::kSerpent;
  static constexpr std::string_view kAlgorithm = "Serpent";
  static constexpr int32_t kMaxKeySize = 256;
  static constexpr int kRounds = 32;
  static bool SelfTest();

  Serpent() { WipeKey(); }
  ~Serpent() override { WipeKey(); }

  void EncryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  void DecryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  void WipeKey();

 protected:
  // Any size the base accepts is usable: a size that is not a whole number of bytes keeps only
  // its whole bytes, and the padding bit goes at the stated size.
  void ExpandKey(const uint8_t* key, uint32_t bits) override;

 private:
  std::array<std::array<uint32_t, 4>, kRounds + 1> subKeys_;
};

}  // namespace kryvane
