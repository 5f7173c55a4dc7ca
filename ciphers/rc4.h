// RC4 whose generator indices restart at every Encrypt or Decrypt call while the permutation
// carries over. Files written in 8192-byte calls depend on it, so it must not be "fixed".
#pragma once

#include <array>

#include "crypto/algorithm_ids.h"
#include "crypto/bytes.h"
#include "crypto/components.h"

namespace kryvane {

class Rc4 final : public CipherFacts<Rc4, Cipher> {
 public:
  static constexpr int32_t kId = ids::kRc4;
  static constexpr std::string_view kAlgorithm = "RC4";
  static constexpr int32_t kMinKeySize = 8;  // one whole key byte
  static constexpr int32_t kMaxKeySize = 2048;
  static bool SelfTest();

  void Init(const void* key, uint32_t bits, const void* iv = nullptr) override;
  void Wipe() override;
  void Reset() override;
  void Encrypt(const void* in, void* out, std::size_t size) override;
  void Decrypt(const void* in, void* out, std::size_t size) override;

 private:
  WipedArray<uint8_t, 256> state_{};
  WipedArray<uint8_t, 256> initialState_{};
};

}  // namespace kryvane
