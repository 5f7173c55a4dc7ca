// A TEA-family cipher: 64-bit block, 128-bit key, 32 cycles. Its mixing term swaps the roles of
// addition and exclusive-or against the published TEA, so it matches no published TEA vector;
// stored files depend on this exact term, so it must never be "corrected".
#pragma once

#include <array>

#include "crypto/algorithm_ids.h"
#include "crypto/block_ciphers.h"
#include "crypto/cpu.h"

namespace kryvane {

class Tea final : public BlockCipher64<Tea> {
 public:
  static constexpr int32_t kId = ids::kTea;
  static constexpr std::string_view kAlgorithm = "Tea";
  static constexpr int32_t kMaxKeySize = 128;
  // A size below one byte is refused.
  static constexpr int32_t kMinKeySize = 8;
  static bool SelfTest();

  // The instruction set the keyed instance runs on.
  cpu::Isa Path() const { return isa_; }
  // Encryption is one CBC chain, which no vector path serves: always portable.
  cpu::Isa EncryptPath() const { return cpu::Isa::kPortable; }
  cpu::Isa DecryptPath() const { return isa_; }

 private:
  friend BlockCipher64<Tea>;

  // Big-endian key words from the zero-padded key; a trailing half byte is dropped.
  void ExpandKey(const uint8_t* key, uint32_t bits) override;
  void EncryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  void DecryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  // n independent blocks, one per 32-bit vector lane where the processor allows (8, 16 or 32 at
  // once, two blocks interleaved otherwise); out may equal in.
  void DecryptBlocksImpl(const uint8_t* in, uint8_t* out, std::size_t n) const;
  void WipeKey() {
    k_.Wipe();
    isa_ = cpu::Isa::kPortable;
  }

  WipedArray<uint32_t, 4> k_;
  cpu::Isa isa_ = cpu::Isa::kPortable;
};

}  // namespace kryvane
