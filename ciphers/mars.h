// MARS: 8 rounds of unkeyed forward mixing, 16 keyed core rounds and 8 rounds of unkeyed
// backward mixing over four little-endian words, with 40 subkey words. The key schedule is the
// 47-word form with seven stirring passes (keys of 1 to 39 whole words); it is not the later
// 15-word schedule, and keys made for one do not work with the other.
#pragma once

#include <array>

#include "crypto/algorithm_ids.h"
#include "crypto/block_ciphers.h"
#include "crypto/cpu.h"

namespace kryvane {

class Mars final : public BlockCipher128<Mars> {
 public:
  static constexpr int32_t kId = ids::kMars;
  static constexpr std::string_view kAlgorithm = "Mars";
  static constexpr int32_t kMaxKeySize = 1248;
  // Only whole key words count; a key of less than one word is refused.
  static constexpr int32_t kMinKeySize = 32;
  static constexpr std::size_t kSubKeyWords = 40;
  using SubKeyArray = std::array<uint32_t, kSubKeyWords>;
  static bool SelfTest();

  // The instruction set the keyed instance runs on.
  cpu::Isa Path() const { return isa_; }
  // Encryption is one CBC chain, which no vector path serves: always portable.
  cpu::Isa EncryptPath() const { return cpu::Isa::kPortable; }
  cpu::Isa DecryptPath() const { return isa_; }

  // K0..K39 as built by the key schedule (all FF bytes while unkeyed); for inspection only.
  const SubKeyArray& SubKeys() const { return subKeys_; }

  // The mask of the multiplication-key fix-up: bits of w that lie inside a run of at least ten
  // equal bits and equal both neighbours (bits outside the word count as 0), except bits 0 and 1.
  static uint32_t FixupMask(uint32_t w);

 private:
  friend BlockCipher128<Mars>;

  // Uses the whole key words only.
  void ExpandKey(const uint8_t* key, uint32_t bits) override;
  void EncryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  void DecryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  // n independent blocks, one per 32-bit vector lane where the processor allows (8 or 16 at
  // once, with gathered table look-ups); out may equal in.
  void DecryptBlocksImpl(const uint8_t* in, uint8_t* out, std::size_t n) const;
  void WipeKey();

  Wiped<SubKeyArray, 0xFF> subKeys_;
  cpu::Isa isa_ = cpu::Isa::kPortable;
};

}  // namespace kryvane
