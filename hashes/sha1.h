#pragma once

#include "crypto/algorithm_ids.h"
#include "crypto/block_hash.h"
#include "crypto/cpu.h"

namespace kryvane {

class Sha1 final : public BlockHash<Sha1, uint32_t, 5, 64, WordOrder::kBig> {
 public:
  static constexpr int32_t kId = ids::kSha1;
  static constexpr std::string_view kAlgorithm = "SHA1";
  static constexpr int32_t kHashSize = 160;
  static constexpr uint8_t kPad = 0x80;
  static constexpr std::size_t kThreshold = 56;
  static constexpr LengthField kLength = LengthField::kBigEndian64;
  static constexpr std::array<uint32_t, 5> kInitial = {0x67452301, 0xEFCDAB89, 0x98BADCFE,
                                                       0x10325476, 0xC3D2E1F0};
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
