// Serpent with 32 rounds over four little-endian block words, bitslice S-boxes and keys of up
// to 256 bits. Shorter keys get the algorithm's own padding: the whole key bytes, then a single
// 1 bit, then zeros.
#pragma once

#include <array>

#include "crypto/algorithm_ids.h"
#include "crypto/block_ciphers.h"
#include "crypto/cpu.h"

namespace kryvane {

class Serpent final : public BlockCipher128<Serpent> {
 public:
  static constexpr int32_t kId = ids::kSerpent;
  static constexpr std::string_view kAlgorithm = "Serpent";
  static constexpr int32_t kMaxKeySize = 256;
  static constexpr int kRounds = 32;
  static bool SelfTest();

  // The instruction set the keyed instance runs on.
  cpu::Isa Path() const { return isa_; }
  // One block at a time (the CBC chain): 512-bit registers (avx512), or the scalar rounds with
  // BMI (avx2) or in plain C++.
  cpu::Isa EncryptPath() const { return encIsa_; }
  cpu::Isa DecryptPath() const { return isa_; }

 private:
  friend BlockCipher128<Serpent>;

  // Any size the base accepts is usable: a size that is not a whole number of bytes keeps only
  // its whole bytes, and the padding bit goes at the stated size.
  void ExpandKey(const uint8_t* key, uint32_t bits) override;
  void EncryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  void DecryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  // The CBC chain with the block in registers from one block to the next.
  void EncryptCbcImpl(const uint8_t* in, uint8_t* out, std::size_t n, uint8_t* cv) const;
  // n independent blocks, bitsliced over vector lanes where the processor allows (eight blocks
  // per 256-bit register, sixteen per 512-bit one); out may equal in.
  void DecryptBlocksImpl(const uint8_t* in, uint8_t* out, std::size_t n) const;
  void WipeKey();

  WipedArray<uint32_t, 4 * (kRounds + 1)> subKeys_;  // four words per round, and the last
  WipedArray<uint32_t, 4 * (kRounds + 1)> encKeys_;  // the same prepared for the scalar rounds
  cpu::Isa isa_ = cpu::Isa::kPortable;               // decryption of many blocks
  cpu::Isa encIsa_ = cpu::Isa::kPortable;            // encryption of one block
};

}  // namespace kryvane
