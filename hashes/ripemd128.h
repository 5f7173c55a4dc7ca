#pragma once

#include "crypto/algorithm_ids.h"
#include "crypto/block_hash.h"

namespace kryvane {

class Ripemd128 final : public BlockHash<Ripemd128, uint32_t, 4, 64, WordOrder::kLittle> {
 public:
  static constexpr int32_t kId = ids::kRipemd128;
  static constexpr std::string_view kAlgorithm = "RipeMD-128";
  static constexpr int32_t kHashSize = 128;
  static constexpr uint8_t kPad = 0x80;
  static constexpr std::size_t kThreshold = 56;
  static constexpr LengthField kLength = LengthField::kLittleEndian64;
  static constexpr std::array<uint32_t, 4> kInitial = {0x67452301, 0xEFCDAB89, 0x98BADCFE,
                                                       0x10325476};
  static bool SelfTest();

  void Compress(const uint8_t* block);
};

}  // namespace kryvane
