#pragma once

#include "crypto/algorithm_ids.h"
#include "crypto/block_hash.h"

namespace kryvane {

// Five passes, 256-bit digest. The pad byte is 80, as files written by earlier releases
// expect; with it the digests differ from the published HAVAL test values.
class Haval final : public BlockHash<Haval, uint32_t, 8, 128, WordOrder::kLittle> {
 public:
  static constexpr int32_t kId = ids::kHaval;
  static constexpr std::string_view kAlgorithm = "Haval (256bit, 5 passes)";
  static constexpr int32_t kHashSize = 256;
  static constexpr uint8_t kPad = 0x80;
  static constexpr std::size_t kThreshold = 118;
  // Byte 118 = version 1, 5 passes, digest length 256 mod 4; byte 119 = 256 / 4.
  static constexpr LengthField kLength = LengthField::kHaval;
  // clang-format off
  static constexpr std::array<uint32_t, 8> kInitial = {
      0x243F6A88, 0x85A308D3, 0x13198A2E, 0x03707344, 0xA4093822, 0x299F31D0, 0x082EFA98, 0xEC4E6C89};
  // clang-format on
  static bool SelfTest();

  void Compress(const uint8_t* block);
};

}  // namespace kryvane
