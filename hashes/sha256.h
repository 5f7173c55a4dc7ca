#pragma once

#include "crypto/algorithm_ids.h"
#include "crypto/block_hash.h"
#include "crypto/cpu.h"

namespace kryvane {

class Sha256 final : public BlockHash<Sha256, uint32_t, 8, 64, WordOrder::kBig> {
 public:
  static constexpr int32_t kId = ids::kSha256;
  static constexpr std::string_view kAlgorithm = "SHA256";
  static constexpr int32_t kHashSize = 256;
  static constexpr uint8_t kPad = 0x80;
  static constexpr std::size_t kThreshold = 56;
  static constexpr LengthField kLength = LengthField::kBigEndian64;
  // clang-format off
  static constexpr std::array<uint32_t, 8> kInitial = {
    0x6A09E667u, 0xBB67AE85u, 0x3C6EF372u, 0xA54FF53Au,
    0x510E527Fu, 0x9B05688Cu, 0x1F83D9ABu, 0x5BE0CD19u,
  };
  // clang-format on
  static bool SelfTest();

  void Compress(const uint8_t* block) { CompressBlocks(block, 1); }
  // With the SHA instructions where the processor has them and they were measured faster.
  void CompressBlocks(const uint8_t* p, std::size_t n);
  void ChoosePath(uint32_t features);
  // sse: the SHA instructions; portable: plain C++.
  cpu::Isa Path() const { return isa_; }

 private:
  void PortableCompress(const uint8_t* block);

  cpu::Isa isa_ = cpu::Isa::kPortable;
};

}  // namespace kryvane
