// The ICE family: Thin-ICE (8 rounds), ICE (16) and ICE-2 (32), one Feistel machinery with a
// keyed bit exchange in the round function. CustomIce holds the machinery; the three classes add
// only their facts, their known answer and the level they key with.
#pragma once

#include <array>
#include <cstdint>

#include "crypto/algorithm_ids.h"
#include "crypto/block_ciphers.h"

namespace kryvane {

namespace ice_detail {

// S1..S4 with the P-box already applied, indexed by a 10-bit half of a 20-bit round input.
struct SBoxes {
  uint32_t s[4][1024];
};

// The program-wide S-boxes, computed on the first call (safely if several threads make it at
// once) and read-only afterwards.
const SBoxes& SharedSBoxes();

// How many times the S-boxes have been computed in this process; lets tests prove it is once.
int SBoxBuildCount();

struct Schedule {
  uint32_t rounds = 0;                          // 8, 16 or 32 once keyed
  std::array<std::array<uint32_t, 3>, 32> k{};  // k0, k1, k2 per round; low 20 bits used
};

// Key bytes are the first bits / 8 bytes of key, zero-padded to the level's length.
void SetupKey(Schedule& schedule, const uint8_t* key, uint32_t bits, unsigned level);
void Encrypt(const SBoxes& sb, const Schedule& schedule, const uint8_t* in, uint8_t* out);
void Decrypt(const SBoxes& sb, const Schedule& schedule, const uint8_t* in, uint8_t* out);
// n blocks, several at a time.
void DecryptBlocks(const SBoxes& sb, const Schedule& schedule, const uint8_t* in, uint8_t* out,
                   std::size_t n);

}  // namespace ice_detail

template <class Derived>
class CustomIce : public BlockCipher64<Derived> {
 public:
  // Construction is what computes the shared S-boxes, so the block operations never pay for the
  // first-use check.
  static constexpr int32_t kMinKeySize = 8;

  CustomIce() : sboxes_(&ice_detail::SharedSBoxes()) {}

 protected:
  // Every size is zero-padded and a trailing half byte is dropped.
  void SetupKey(const uint8_t* key, uint32_t bits, unsigned level) {
    ice_detail::SetupKey(schedule_, key, bits, level);
  }

 private:
  friend BlockCipher64<Derived>;

  void EncryptBlockImpl(const uint8_t* in, uint8_t* out) const {
    ice_detail::Encrypt(*sboxes_, schedule_, in, out);
  }
  void DecryptBlockImpl(const uint8_t* in, uint8_t* out) const {
    ice_detail::Decrypt(*sboxes_, schedule_, in, out);
  }
  void DecryptBlocksImpl(const uint8_t* in, uint8_t* out, std::size_t n) const {
    ice_detail::DecryptBlocks(*sboxes_, schedule_, in, out, n);
  }
  void WipeKey() { schedule_.Wipe(); }

  const ice_detail::SBoxes* sboxes_;
  Wiped<ice_detail::Schedule> schedule_{};
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
