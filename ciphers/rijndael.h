// Rijndael with a 128-bit block (AES) for keys of up to 256 bits. The key length is chosen by
// whole key bytes and the key is zero-padded to the next of 16, 24 or 32 bytes, so a 160-bit key
// runs as AES-192 with four zero bytes appended.
//
// Three code paths give identical bytes: the table-driven path everywhere, the processor's AES
// instructions one block per register where present, and with VAES on 512-bit registers four
// blocks per register for CBC decryption. All use the same round keys, kept in key-schedule byte
// order; the decryption keys are those of the equivalent inverse cipher.
#pragma once

#include <array>

#include "crypto/algorithm_ids.h"
#include "crypto/block_ciphers.h"

namespace kryvane {

class Rijndael final : public BlockCipher128<Rijndael> {
 public:
  static constexpr int32_t kId = ids::kRijndael;
  static constexpr std::string_view kAlgorithm = "Rijndael";
  static constexpr int32_t kMaxKeySize = 256;
  // A 4-bit key would leave no key byte at all and run under the all-zero key.
  static constexpr int32_t kMinKeySize = 8;
  static bool SelfTest();

  // The path of the keyed instance: kPortable (tables), kSse2 (AES instructions) or kAvx512
  // (AES instructions on 512-bit registers for CBC decryption).
  cpu::Isa Path() const { return isa_; }
  // The AES instructions or the tables for the CBC chain; for decryption also VAES.
  cpu::Isa EncryptPath() const { return encIsa_; }
  cpu::Isa DecryptPath() const { return isa_; }

 private:
  friend BlockCipher128<Rijndael>;

  void ExpandKey(const uint8_t* key, uint32_t bits) override;
  // The path the given features allow.
  static cpu::Isa PathFor(uint32_t features);
  void EncryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  void DecryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  // CBC (the file format's mode) runs in tight loops with the chain in a register, and
  // decryption, whose blocks do not depend on each other, deciphers many blocks at once.
  void EncryptCbcImpl(const uint8_t* in, uint8_t* out, std::size_t n, uint8_t* cv) const;
  void DecryptCbcImpl(const uint8_t* in, uint8_t* out, std::size_t n, uint8_t* cv) const;
  void WipeKey();

  static constexpr int kMaxRounds = 14;
  using RoundKeys = std::array<uint32_t, 4 * (kMaxRounds + 1)>;

  int rounds_ = 0;
  cpu::Isa isa_ = cpu::Isa::kPortable;     // decryption
  cpu::Isa encIsa_ = cpu::Isa::kPortable;  // encryption
  // Words hold four consecutive schedule bytes, the first in the low byte, so on the
  // (little-endian) processors with AES instructions the arrays are the instructions' round keys.
  alignas(16) Wiped<RoundKeys> enc_;
  alignas(16) Wiped<RoundKeys> dec_;
};

}  // namespace kryvane
