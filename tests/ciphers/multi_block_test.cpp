// CBC decryption over runs of blocks, on every processor path the machine can run: the blocks a
// cipher deciphers at once (vector lanes, interleaved rounds, a padded short group) must give the
// same bytes as its one-block encryption chained the plain way, for every run length, in place
// and between misaligned buffers.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "ciphers/cast256.h"
#include "ciphers/idea.h"
#include "ciphers/mars.h"
#include "ciphers/serpent.h"
#include "ciphers/tea.h"
#include "ciphers/twofish.h"
#include "crypto/cpu_paths.h"
#include "tests/support/cipher_checks.h"

namespace kryvane {
namespace {

using test::Bytes;

template <class T>
class MultiBlock : public ::testing::Test {
 protected:
  void TearDown() override { LimitIsa(Isa::kAvx512); }
};

using Ciphers = ::testing::Types<Serpent, Twofish, Mars, Cast256, Idea, Tea>;
TYPED_TEST_SUITE(MultiBlock, Ciphers);

// Block counts per DecryptCBC call: every short run, runs around the vector widths (8, 16 and 32
// blocks) and the framework's run length, then the rest with a partial final block.
std::vector<std::size_t> CallBlocks() {
  std::vector<std::size_t> calls;
  for (std::size_t n = 1; n <= 40; ++n) calls.push_back(n);
  for (std::size_t n : {63, 64, 65, 127, 128, 129, 200}) calls.push_back(n);
  return calls;
}

TYPED_TEST(MultiBlock, CbcDecryptionMatchesTheOneBlockChainOnEveryPath) {
  using T = TypeParam;
  constexpr std::size_t kB = T::kBlockBytes;
  std::mt19937 rng(7);
  std::size_t total = 0;
  for (std::size_t n : CallBlocks()) total += n * kB;
  total += kB / 2;  // the final call ends in a partial block

  for (int level = 0; level <= int(MachineIsa()); ++level) {
    const auto isa = static_cast<Isa>(level);
    SCOPED_TRACE(std::string(IsaName(isa)));
    LimitIsa(isa);
    const uint32_t bits = uint32_t(std::min<int32_t>(T::kMaxKeySize, 256));
    const Bytes key = test::RandomBytes(rng, bits / 8);
    const Bytes iv = test::RandomBytes(rng, kB);
    const Bytes plain = test::RandomBytes(rng, total);

    // The reference: the one-block encryption, chained by the serial CBC loop.
    T enc;
    enc.Init(key.data(), bits, iv.data());
    Bytes cipher(total);
    enc.EncryptCBC(plain.data(), cipher.data(), total);

    T dec;
    dec.Init(key.data(), bits, iv.data());
    if constexpr (requires { dec.Path(); }) {
      ASSERT_EQ(dec.Path(), isa);
    }
    // Out of place, one byte off alignment in both buffers.
    Bytes src(total + 1), dst(total + 1);
    std::copy(cipher.begin(), cipher.end(), src.begin() + 1);
    std::size_t at = 0;
    for (std::size_t n : CallBlocks()) {
      dec.DecryptCBC(src.data() + 1 + at, dst.data() + 1 + at, n * kB);
      at += n * kB;
    }
    dec.DecryptCBC(src.data() + 1 + at, dst.data() + 1 + at, total - at);
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), dst.begin() + 1)) << "out of place";
    EXPECT_TRUE(std::equal(cipher.begin(), cipher.end(), src.begin() + 1)) << "input changed";

    // In place, in one call per run again.
    dec.Reset();
    at = 0;
    for (std::size_t n : CallBlocks()) {
      dec.DecryptCBC(src.data() + 1 + at, src.data() + 1 + at, n * kB);
      at += n * kB;
    }
    dec.DecryptCBC(src.data() + 1 + at, src.data() + 1 + at, total - at);
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), src.begin() + 1)) << "in place";
  }
}

}  // namespace
}  // namespace kryvane
