// Twofish: 128-bit block, 16 rounds, keys of 128, 192 or 256 bits with shorter keys zero-padded.
// Full keying: the key-dependent S-boxes and the MDS matrix are folded into four word tables per
// key, so a round is eight table look-ups.
#pragma once

#include <array>
#include <cstdint>

#include "crypto/algorithm_ids.h"
#include "crypto/block_ciphers.h"
#include "crypto/cpu.h"

namespace kryvane {

class Twofish final : public BlockCipher128<Twofish> {
 public:
  static constexpr int32_t kId = ids::kTwofish;
  static constexpr std::string_view kAlgorithm = "Twofish";
  static constexpr int32_t kMaxKeySize = 256;
  // A 4-bit key, which has no whole byte, is refused.
  static constexpr int32_t kMinKeySize = 8;
  static bool SelfTest();

  Twofish();

  // The instruction set the keyed instance runs on.
  cpu::Isa Path() const { return isa_; }
  // Encryption is one CBC chain, which no vector path serves: always portable.
  cpu::Isa EncryptPath() const { return cpu::Isa::kPortable; }
  cpu::Isa DecryptPath() const { return isa_; }

  // How often this process has built the shared MDS tables: 0 before the first Twofish exists,
  // 1 ever after. For tests of the one-time build.
  static int MdsTableBuilds();

 private:
  friend BlockCipher128<Twofish>;

  // The key length follows the size in bits: up to 128 gives 128, up to 192 gives 192, above
  // that 256, zero-padded. A 132-bit key therefore runs as 192-bit Twofish with 16 key bytes.
  void ExpandKey(const uint8_t* key, uint32_t bits) override;
  void EncryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  void DecryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  // n independent blocks, several interleaved; out may equal in.
  void DecryptBlocksImpl(const uint8_t* in, uint8_t* out, std::size_t n) const;
  void WipeKey();

  static constexpr std::size_t kInterleave = 4;
  template <int kN>
  void DecryptGroup(const uint8_t* in, uint8_t* out) const;

  // The g function of bytes b0..b3 (least significant first). The indices are size_t and the
  // pair offsets sit in the base pointers, so that each look-up is one load with the byte as a
  // scaled index: computed in 32 bits, GCC spends two more instructions on every look-up.
  uint32_t G(std::size_t b0, std::size_t b1, std::size_t b2, std::size_t b3) const {
    const uint32_t* s = sBoxes_.data();
    return (s[2 * b0] ^ (s + 1)[2 * b1]) ^ ((s + 512)[2 * b2] ^ (s + 513)[2 * b3]);
  }
  uint32_t G(uint32_t x) const { return G(x & 0xFF, (x >> 8) & 0xFF, (x >> 16) & 0xFF, x >> 24); }
  // G(Rotl32(x, 8)) without the rotation.
  uint32_t G8(uint32_t x) const { return G(x >> 24, x & 0xFF, (x >> 8) & 0xFF, (x >> 16) & 0xFF); }

  WipedArray<uint32_t, 40, 0xFF> subKeys_;  // input whitening, output whitening, round keys
  // The four key-dependent S-boxes with the MDS columns folded in, stored as two interleaved
  // pairs (0 and 1 alternating, then 2 and 3) so neighbouring look-ups stay close in memory.
  WipedArray<uint32_t, 1024, 0xFF> sBoxes_;
  cpu::Isa isa_ = cpu::Isa::kPortable;
};

}  // namespace kryvane
