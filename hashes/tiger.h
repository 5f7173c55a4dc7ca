#pragma once

#include "crypto/algorithm_ids.h"
#include "crypto/block_hash.h"

namespace kryvane {

// Three passes, 192-bit digest, pad byte 01 (the original form, not the later 80 variant).
// The 64-bit bit count is the low word of the shared counter.
class Tiger final : public BlockHash<Tiger, uint64_t, 3, 64, WordOrder::kLittle> {
 public:
  static constexpr int32_t kId = ids::kTiger;
  static constexpr std::string_view kAlgorithm = "Tiger";
  static constexpr int32_t kHashSize = 192;
  static constexpr uint8_t kPad = 0x01;
  static constexpr std::size_t kThreshold = 56;
  static constexpr LengthField kLength = LengthField::kLittleEndian64;
  static constexpr std::array<uint64_t, 3> kInitial = {0x0123456789ABCDEF, 0xFEDCBA9876543210,
                                                       0xF096A5B4C3B2E187};
  static bool SelfTest();

  void Compress(const uint8_t* block);
};

}  // namespace kryvane
