// Rijndael with a 128-bit block (AES) for keys of up to 256 bits. The key length is chosen by
// whole key bytes and the key is zero-padded to the next of 16, 24 or 32 bytes, so a 160-bit key
// runs as AES-192 with four zero bytes appended.
//
// Two code paths give identical bytes: the processor's AES instructions where present, and a
// table-driven path everywhere else. Both use the same round keys, kept in key-schedule byte
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
  static bool SelfTest();

  // True when this processor has the AES instructions.
  static bool HardwareAvailable();
  // Makes ciphers keyed from now on use the table-driven path even where the instructions
  // exist (for comparing the two paths). Process-wide; keyed instances keep their path.
  static void ForcePortable(bool portable);
  // Whether this keyed instance runs on the AES instructions.
  bool UsesHardware() const { return hardware_; }

  ~Rijndael() override { WipeKey(); }

  void ExpandKey(const uint8_t* key, uint32_t bits) override;
  void EncryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  void DecryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  void WipeKey();

  // With the AES instructions, CBC (the file format's mode) runs in tight loops outside the
  // generic mode, and decryption, whose blocks do not depend on each other, deciphers several
  // blocks at once. Same results as the generic mode.
  void EncryptCBC(const void* in, void* out, std::size_t size) override;
  void DecryptCBC(const void* in, void* out, std::size_t size) override;

 private:
  static constexpr int kMaxRounds = 14;
  using RoundKeys = std::array<uint32_t, 4 * (kMaxRounds + 1)>;

  int rounds_ = 0;
  bool hardware_ = false;
  // Words hold four consecutive schedule bytes, the first in the low byte, so on the
  // (little-endian) processors with AES instructions the arrays are the instructions' round keys.
  alignas(16) RoundKeys enc_{};
  alignas(16) RoundKeys dec_{};
};

}  // namespace kryvane
