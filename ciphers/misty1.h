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
  static constexpr int32_t kMinKeySize = 8;
  static constexpr int32_t kMaxKeySize = 128;
  static bool SelfTest();

 private:
  friend BlockCipher64<Misty1>;

  // Shorter keys are zero-padded and a trailing half byte is dropped.
  void ExpandKey(const uint8_t* key, uint32_t bits) override;
  void EncryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  void DecryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  void DecryptBlocksImpl(const uint8_t* in, uint8_t* out, std::size_t n) const;
  void EncryptCbcImpl(const uint8_t* in, uint8_t* out, std::size_t n, uint8_t* cv) const;
  // The rounds on the two halves; the result block is (d1, d0).
  inline void EncryptWords(uint32_t& d0, uint32_t& d1) const;
  // N independent blocks with their rounds interleaved.
  template <std::size_t N>
  void DecryptLanes(const uint8_t* in, uint8_t* out) const;
  void WipeKey() { ek_.Wipe(); }

  // FL and FO on a word's two 16-bit halves; FO's result is XORed into (xhi, xlo).
  inline void FlHalves(uint32_t& hi, uint32_t& lo, unsigned k) const;
  inline void FoInto(uint32_t hi, uint32_t lo, unsigned k, uint32_t& xhi, uint32_t& xlo) const;
  uint32_t FO(uint32_t x, unsigned k) const;
  uint32_t FLInverse(uint32_t x, unsigned k) const;

  // K1..K8 from the key, then the derived K'1..K'8; 16-bit values.
  WipedArray<uint32_t, 16> ek_{};
};

}  // namespace kryvane
