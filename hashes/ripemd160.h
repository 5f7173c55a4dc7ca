#pragma once

#include "crypto/algorithm_ids.h"
#include "crypto/block_hash.h"

namespace kryvane {

class Ripemd160 final : public BlockHash<Ripemd160, uint32_t, 5, 64, WordOrder::kLittle> {
 public:
  static constexpr int32_t kId = ids::kRipemd160;
  static constexpr std::string_view kAlgorithm = "RipeMD-160";
  static constexpr int32_t kHashSize = 160;
  static constexpr uint8_t kPad = 0x80;
  static constexpr std::size_t kThreshold = 56;
  static constexpr LengthField kLength = LengthField::kLittleEndian64;
  static constexpr std::array<uint32_t, 5> kInitial = {0x67452301, 0xEFCDAB89, 0x98BADCFE,
                                                       0x10325476, 0xC3D2E1F0};
  static bool SelfTest();

  void Compress(const uint8_t* block);
};

}  // namespace kryvane
