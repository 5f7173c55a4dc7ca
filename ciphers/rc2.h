// RC2 (RFC 2268) with the effective key length fixed at 1024 bits: 64-bit block of four 16-bit
// words, keys of 8 to 1024 bits.
#pragma once

#include <array>

#include "crypto/algorithm_ids.h"
#include "crypto/block_ciphers.h"

namespace kryvane {

class Rc2 final : public BlockCipher64<Rc2> {
 public:
  static constexpr int32_t kId = ids::kRc2;
  static constexpr std::string_view kAlgorithm = "RC2";
  static constexpr int32_t kMinKeySize = 8;
  static constexpr int32_t kMaxKeySize = 1024;
  static bool SelfTest();

 private:
  friend BlockCipher64<Rc2>;

  // Expands the first bits / 8 key bytes to 128.
  void ExpandKey(const uint8_t* key, uint32_t bits) override;
  void EncryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  void DecryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  void WipeKey() { k_.Wipe(); }

  WipedArray<uint16_t, 64> k_{};  // expanded key words, little-endian pairs of expanded bytes
};

}  // namespace kryvane
