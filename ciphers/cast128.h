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
  static constexpr int32_t kMinKeySize = 8;
  static constexpr int32_t kMaxKeySize = 128;
  static bool SelfTest();

  // 12 or 16 after a key setup, 0 while unkeyed.
  uint32_t Rounds() const { return rounds_; }

 private:
  friend BlockCipher64<Cast128>;

  // Zero-pads the first bits / 8 key bytes to 16.
  void ExpandKey(const uint8_t* key, uint32_t bits) override;
  void EncryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  void DecryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  void DecryptBlocksImpl(const uint8_t* in, uint8_t* out, std::size_t n) const;
  void EncryptCbcImpl(const uint8_t* in, uint8_t* out, std::size_t n, uint8_t* cv) const;
  // The rounds on the two halves; the result block is (r, l).
  inline void EncryptWords(uint32_t& l, uint32_t& r) const;
  void WipeKey();

  // N independent blocks with their rounds interleaved.
  template <std::size_t N>
  void DecryptLanes(const uint8_t* in, uint8_t* out) const;

  WipedArray<uint32_t, 16> km_{};   // masking keys
  WipedArray<uint32_t, 16> kr_{};   // rotation amounts, 0..31
  WipedArray<uint32_t, 16> kr8_{};  // the same plus 8, mod 32, for the encryption rounds
  uint32_t rounds_ = 0;
};

}  // namespace kryvane
