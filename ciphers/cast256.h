// CAST-256 (48 rounds over a 128-bit block) for keys of up to 256 bits; shorter keys are
// zero-padded to 256 bits.
#pragma once

#include <array>

#include "crypto/algorithm_ids.h"
#include "crypto/block_ciphers.h"
#include "crypto/cpu.h"

namespace kryvane {

class Cast256 final : public BlockCipher128<Cast256> {
 public:
  static constexpr int32_t kId = ids::kCast256;
  static constexpr std::string_view kAlgorithm = "Cast256";
  static constexpr int32_t kMaxKeySize = 256;
  // A 4-bit key would leave no key byte at all and run under the all-zero key.
  static constexpr int32_t kMinKeySize = 8;
  static bool SelfTest();

  // The instruction set the keyed instance runs on.
  cpu::Isa Path() const { return isa_; }
  // Encryption is one CBC chain, which no vector path serves: always portable.
  cpu::Isa EncryptPath() const { return cpu::Isa::kPortable; }
  cpu::Isa DecryptPath() const { return isa_; }

 private:
  friend BlockCipher128<Cast256>;

  // Uses the whole key bytes, zero-padded to 32.
  void ExpandKey(const uint8_t* key, uint32_t bits) override;
  void EncryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  void DecryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  // n independent blocks, one per 32-bit vector lane where the processor allows (8 or 16 at
  // once, with gathered S-box look-ups); out may equal in.
  void DecryptBlocksImpl(const uint8_t* in, uint8_t* out, std::size_t n) const;
  void WipeKey();

  static constexpr int kQuadRounds = 12;
  // Quad-round i uses entries 4i .. 4i+3.
  WipedArray<uint32_t, 4 * kQuadRounds, 0xFF> kr_;  // rotations, 0..31
  WipedArray<uint32_t, 4 * kQuadRounds, 0xFF> km_;  // masks
  cpu::Isa isa_ = cpu::Isa::kPortable;
};

}  // namespace kryvane
