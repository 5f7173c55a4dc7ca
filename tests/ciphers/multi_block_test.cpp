// CBC decryption over runs of blocks, on every processor path the machine can run: the blocks a
// cipher deciphers at once (vector lanes, interleaved rounds, a padded short group) must give the
// same bytes as its one-block decryption chained by hand, for every run length, in place and
// between misaligned buffers.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "ciphers/blowfish.h"
#include "ciphers/cast256.h"
#include "ciphers/idea.h"
#include "ciphers/mars.h"
#include "ciphers/rijndael.h"
#include "ciphers/serpent.h"
#include "ciphers/tea.h"
#include "ciphers/twofish.h"
#include "crypto/cpu.h"
#include "tests/support/cipher_checks.h"

namespace kryvane {
namespace {

using test::Bytes;

template <class T>
class MultiBlock : public ::testing::Test {};

using Ciphers = ::testing::Types<Serpent, Twofish, Mars, Cast256, Idea, Tea, Rijndael, Blowfish>;
TYPED_TEST_SUITE(MultiBlock, Ciphers);

// Block counts per DecryptCBC call: every short run, runs around the vector widths (8, 16 and 32
// blocks) and the framework's run length, then the rest with a partial final block.
std::vector<std::size_t> CallBlocks() {
  std::vector<std::size_t> calls;
  for (std::size_t n = 1; n <= 40; ++n) calls.push_back(n);
  for (std::size_t n : {63, 64, 65, 127, 128, 129, 200}) calls.push_back(n);
  return calls;
}

// Random ciphertext with about one 16-bit word in eight zeroed, so that the word arithmetic's
// special cases (IDEA's 0 standing for 65536) come up in every lane.
Bytes SparseCiphertext(std::mt19937& rng, std::size_t n) {
  Bytes c = test::RandomBytes(rng, n);
  for (std::size_t i = 0; i + 1 < n; i += 2) {
    if (rng() % 8 == 0) c[i] = c[i + 1] = 0;
  }
  return c;
}

TYPED_TEST(MultiBlock, CbcDecryptionMatchesOneBlockDecryptionOnEveryPath) {
  using T = TypeParam;
  constexpr std::size_t kB = T::kBlockBytes;
  std::mt19937 rng(7);
  std::size_t total = 0;
  for (std::size_t n : CallBlocks()) total += n * kB;
  const std::size_t whole = total;
  total += kB / 2;  // the final call ends in a partial block
  const uint32_t bits = uint32_t(std::min<int32_t>(T::kMaxKeySize, 256));

  // A random key, and the all-zero key (zero multiplication subkeys in IDEA).
  for (const Bytes& key : {test::RandomBytes(rng, bits / 8), Bytes(bits / 8, 0)}) {
    const Bytes iv = test::RandomBytes(rng, kB);
    const Bytes cipher = SparseCiphertext(rng, total);
    Bytes portableEncryption;
    for (uint32_t level : cpu::Levels()) {
      cpu::ScopedLimit limit(level);
      const cpu::Isa isa = cpu::VectorIsa();
      SCOPED_TRACE(std::string(cpu::IsaName(isa)) + (key[0] == 0 ? " zero key" : " random key"));

      T c;
      c.Init(key.data(), bits, iv.data());
      if constexpr (std::is_same_v<T, Rijndael>) {
        // AES instructions, or VAES with AVX-512: no path of its own at the AVX2 level.
        ASSERT_LE(c.Path(), isa);
        ASSERT_EQ(c.Path() == cpu::Isa::kPortable, !cpu::Has(cpu::kAesNi | cpu::kSse41));
      } else if constexpr (std::is_same_v<T, Blowfish>) {
        ASSERT_EQ(c.Path(), isa == cpu::Isa::kAvx512 ? isa : cpu::Isa::kPortable);
      } else {
        ASSERT_EQ(c.Path(), isa) << "the cipher ignores the processor limit";
      }
      // The reference: one block at a time, chained by hand; the partial block is the
      // framework's (checked elsewhere), taken from a whole-buffer call.
      Bytes expected(total);
      c.DecryptCBC(cipher.data(), expected.data(), total);
      for (std::size_t i = 0; i < whole; i += kB) {
        c.DecryptBlock(cipher.data() + i, expected.data() + i);
        const uint8_t* prev = i == 0 ? iv.data() : cipher.data() + i - kB;
        for (std::size_t j = 0; j < kB; ++j) expected[i + j] ^= prev[j];
      }

      // Out of place, one byte off alignment in both buffers, one call per run.
      c.Reset();
      Bytes src(total + 1), dst(total + 1);
      std::copy(cipher.begin(), cipher.end(), src.begin() + 1);
      std::size_t at = 0;
      for (std::size_t n : CallBlocks()) {
        c.DecryptCBC(src.data() + 1 + at, dst.data() + 1 + at, n * kB);
        at += n * kB;
      }
      c.DecryptCBC(src.data() + 1 + at, dst.data() + 1 + at, total - at);
      EXPECT_TRUE(std::equal(expected.begin(), expected.end(), dst.begin() + 1)) << "out of place";
      EXPECT_TRUE(std::equal(cipher.begin(), cipher.end(), src.begin() + 1)) << "input changed";

      // In place.
      c.Reset();
      at = 0;
      for (std::size_t n : CallBlocks()) {
        c.DecryptCBC(src.data() + 1 + at, src.data() + 1 + at, n * kB);
        at += n * kB;
      }
      c.DecryptCBC(src.data() + 1 + at, src.data() + 1 + at, total - at);
      EXPECT_TRUE(std::equal(expected.begin(), expected.end(), src.begin() + 1)) << "in place";

      // Encryption (whose one-block function may have a path of its own) gives the portable
      // path's bytes.
      Bytes encrypted(total);
      c.SetIV(iv.data());
      c.EncryptCBC(expected.data(), encrypted.data(), total);
      if (level == 0) portableEncryption = encrypted;
      EXPECT_EQ(encrypted, portableEncryption) << "encryption";
    }
  }
}

}  // namespace
}  // namespace kryvane
