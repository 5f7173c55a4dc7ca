// A keyed toy block cipher for exercising the modes: a keyed byte permutation plus mixing, weak
// but invertible and sensitive to every key and input byte.
#pragma once

#include <array>

#include "crypto/block_ciphers.h"

namespace kryvane::test {

// Multi adds the many-block decryption hook; it works from the last block back to the first, so
// a caller that hands it overlapping or stale blocks gets different bytes.
template <std::size_t B, bool Multi = false>
class Toy final : public BlockCipherN<Toy<B, Multi>, B> {
 public:
  static constexpr int32_t kId = 99;
  static constexpr std::string_view kAlgorithm = "Toy";
  static constexpr int32_t kMaxKeySize = 128;
  static bool SelfTest() { return true; }

  int expandCalls = 0;
  mutable int multiCalls = 0;

 private:
  friend BlockCipherN<Toy, B>;

  void ExpandKey(const uint8_t* key, uint32_t bits) override {
    ++expandCalls;
    k_.fill(0);
    for (uint32_t i = 0; i < bits / 8; ++i) k_[i % B] ^= uint8_t(key[i] + i);
  }
  void EncryptBlockImpl(const uint8_t* in, uint8_t* out) const {
    std::array<uint8_t, B> x;
    for (std::size_t r = 0; r < 3; ++r) {
      for (std::size_t i = 0; i < B; ++i) x[i] = uint8_t(in[i] ^ k_[i]);
      uint8_t acc = uint8_t(r);
      for (std::size_t i = 0; i < B; ++i) acc = x[i] = uint8_t(Rotl8(uint8_t(x[i] + acc), 3));
      for (std::size_t i = 0; i < B; ++i) out[i] = x[(i + 1) % B];
      in = out;
    }
  }
  void DecryptBlockImpl(const uint8_t* in, uint8_t* out) const {
    std::array<uint8_t, B> x;
    std::array<uint8_t, B> y;
    for (std::size_t i = 0; i < B; ++i) y[i] = in[i];
    for (std::size_t r = 3; r-- > 0;) {
      for (std::size_t i = 0; i < B; ++i) x[(i + 1) % B] = y[i];
      for (std::size_t i = B; i-- > 0;) {
        const uint8_t prev = i == 0 ? uint8_t(r) : x[i - 1];
        x[i] = uint8_t(Rotr8(x[i], 3) - prev);
      }
      for (std::size_t i = 0; i < B; ++i) y[i] = uint8_t(x[i] ^ k_[i]);
    }
    for (std::size_t i = 0; i < B; ++i) out[i] = y[i];
  }
  void DecryptBlocksImpl(const uint8_t* in, uint8_t* out, std::size_t n) const requires Multi {
    ++multiCalls;
    for (std::size_t i = n; i-- > 0;) DecryptBlockImpl(in + i * B, out + i * B);
  }
  void WipeKey() { k_.Wipe(); }

  static uint8_t Rotl8(uint8_t v, int n) { return uint8_t((v << n) | (v >> (8 - n))); }
  static uint8_t Rotr8(uint8_t v, int n) { return uint8_t((v >> n) | (v << (8 - n))); }
  WipedArray<uint8_t, B> k_{};
};

}  // namespace kryvane::test
