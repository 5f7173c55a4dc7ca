// The ICE family: Thin-ICE (8 rounds), ICE (16) and ICE-2 (32), one Feistel machinery with a
// keyed bit exchange in the round function. CustomIce holds the machinery; the three classes add
// only their facts, their known answer and the level they key with.
#pragma once

#include <array>
#include <cstdint>

#include "crypto/algorithm_ids.h"
#include "crypto/block_ciphers.h"

namespace kryvane {

// A keyed ICE instance's subkeys.
struct IceKeySchedule {
  uint32_t rounds = 0;                          // 8, 16 or 32 once keyed
  std::array<std::array<uint32_t, 3>, 32> k{};  // k0, k1, k2 per round; low 20 bits used
};

// The S-boxes every ICE instance shares (computed once per process).
struct IceSBoxes;

template <class Derived>
class CustomIce : public BlockCipher64<Derived> {
 public:
  // Construction is what computes the shared S-boxes, so the block operations never pay for the
  // first-use check.
  static constexpr int32_t kMinKeySize = 8;

  CustomIce();

 protected:
  // Every size is zero-padded and a trailing half byte is dropped.
  void SetupKey(const uint8_t* key, uint32_t bits, unsigned level);

 private:
  friend BlockCipher64<Derived>;

  void EncryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  void DecryptBlockImpl(const uint8_t* in, uint8_t* out) const;
  // n blocks, several at a time.
  void DecryptBlocksImpl(const uint8_t* in, uint8_t* out, std::size_t n) const;
  void WipeKey() { schedule_.Wipe(); }

  const IceSBoxes* sboxes_;
  Wiped<IceKeySchedule> schedule_{};
};

class ThinIce final : public CustomIce<ThinIce> {
 public:
  static constexpr int32_t kId = ids::kThinIce;
  static constexpr std::string_view kAlgorithm = "Thin Ice";
  static constexpr int32_t kMaxKeySize = 64;
  static bool SelfTest();

 private:
  void ExpandKey(const uint8_t* key, uint32_t bits) override { SetupKey(key, bits, 0); }
};

class Ice final : public CustomIce<Ice> {
 public:
  static constexpr int32_t kId = ids::kIce;
  static constexpr std::string_view kAlgorithm = "Ice";
  static constexpr int32_t kMaxKeySize = 64;
  static bool SelfTest();

 private:
  void ExpandKey(const uint8_t* key, uint32_t bits) override { SetupKey(key, bits, 1); }
};

class Ice2 final : public CustomIce<Ice2> {
 public:
  static constexpr int32_t kId = ids::kIce2;
  static constexpr std::string_view kAlgorithm = "Ice2";
  static constexpr int32_t kMaxKeySize = 128;
  static bool SelfTest();

 private:
  void ExpandKey(const uint8_t* key, uint32_t bits) override { SetupKey(key, bits, 2); }
};

}  // namespace kryvane
