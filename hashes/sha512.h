// SHA-384 and SHA-512: one compression, one 128-byte buffering with a 128-bit length; the two
// differ only in the initial value and the number of words output.
#pragma once

#include "crypto/algorithm_ids.h"
#include "crypto/block_hash.h"
#include "crypto/cpu.h"

namespace kryvane {

// Compresses n 128-byte blocks into the eight chaining words. avx2: the scalar code compiled for
// the BMI2 rotations (which keep their source and so save a move in every one); avx512: besides,
// the message schedule of the next two blocks in vector registers while the rounds run.
void Sha512Compress(std::array<uint64_t, 8>& state, const uint8_t* p, std::size_t n, cpu::Isa isa);

template <class Derived>
class Sha512Base : public BlockHash<Derived, uint64_t, 8, 128, WordOrder::kBig> {
 public:
  static constexpr uint8_t kPad = 0x80;
  static constexpr std::size_t kThreshold = 112;
  static constexpr LengthField kLength = LengthField::kBigEndian128;

  void Compress(const uint8_t* block) { CompressBlocks(block, 1); }
  void CompressBlocks(const uint8_t* p, std::size_t n) { Sha512Compress(this->state_, p, n, isa_); }
  void ChoosePath(uint32_t features) {
    const uint32_t need = cpu::kAvx2 | cpu::kBmi2;
    if ((features & need) != need) {
      isa_ = cpu::Isa::kPortable;
    } else {
      isa_ = (features & cpu::kAvx512) != 0 ? cpu::Isa::kAvx512 : cpu::Isa::kAvx2;
    }
  }
  // avx512: the vector message schedule; avx2: the BMI2 rotations; portable: plain C++.
  cpu::Isa Path() const { return isa_; }

 private:
  cpu::Isa isa_ = cpu::Isa::kPortable;
};

class Sha384 final : public Sha512Base<Sha384> {
 public:
  static constexpr int32_t kId = ids::kSha384;
  static constexpr std::string_view kAlgorithm = "SHA384";
  static constexpr int32_t kHashSize = 384;
  // clang-format off
  static constexpr std::array<uint64_t, 8> kInitial = {
    0xCBBB9D5DC1059ED8ull, 0x629A292A367CD507ull, 0x9159015A3070DD17ull, 0x152FECD8F70E5939ull,
    0x67332667FFC00B31ull, 0x8EB44A8768581511ull, 0xDB0C2E0D64F98FA7ull, 0x47B5481DBEFA4FA4ull,
  };
  // clang-format on
  static bool SelfTest();
};

class Sha512 final : public Sha512Base<Sha512> {
 public:
  static constexpr int32_t kId = ids::kSha512;
  static constexpr std::string_view kAlgorithm = "SHA512";
  static constexpr int32_t kHashSize = 512;
  // clang-format off
  static constexpr std::array<uint64_t, 8> kInitial = {
    0x6A09E667F3BCC908ull, 0xBB67AE8584CAA73Bull, 0x3C6EF372FE94F82Bull, 0xA54FF53A5F1D36F1ull,
    0x510E527FADE682D1ull, 0x9B05688C2B3E6C1Full, 0x1F83D9ABFB41BD6Bull, 0x5BE0CD19137E2179ull,
  };
  // clang-format on
  static bool SelfTest();
};

}  // namespace kryvane
