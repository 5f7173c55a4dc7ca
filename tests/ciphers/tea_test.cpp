#include "ciphers/tea.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/support/cipher_checks.h"
#include "tests/support/hex.h"
#include "tests/support/vec_file.h"

namespace kryvane {
namespace {

TEST(Tea, ShorterKeysAreZeroPadded) {
  test::ExpectZeroPaddedKeys(CipherRef::Of<Tea>());
}

// This variant written out from its definition: big-endian words, 32 cycles, the key
// zero-padded to 16 bytes, and the mixing term (z << 4) + (z ^ k0) + ((z >> 5) ^ sum) + k1.
test::Bytes ModelEncrypt(const test::Bytes& key, uint32_t bits, const test::Bytes& block) {
  test::Bytes k16 = test::PaddedKey(key, bits, 16);
  const auto word = [](const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
  };
  const uint32_t k0 = word(&k16[0]), k1 = word(&k16[4]), k2 = word(&k16[8]), k3 = word(&k16[12]);
  uint32_t y = word(&block[0]), z = word(&block[4]), sum = 0;
  for (int cycle = 0; cycle < 32; ++cycle) {
    sum += 0x9E3779B9;
    y += (z << 4) + (z ^ k0) + ((z >> 5) ^ sum) + k1;
    z += (y << 4) + (y ^ k2) + ((y >> 5) ^ sum) + k3;
  }
  test::Bytes out(8);
  for (int i = 0; i < 4; ++i) {
    out[i] = uint8_t(y >> (24 - 8 * i));
    out[4 + i] = uint8_t(z >> (24 - 8 * i));
  }
  return out;
}

// Short keys leave whole key words zero (a 32-bit key leaves three); the class must agree with the
// model and decryption must invert encryption, in place and not.
TEST(Tea, MatchesItsDefinitionAndInvertsForRandomKeys) {
  std::mt19937 rng(3);
  for (uint32_t bits : {8u, 32u, 64u, 96u, 128u}) {
    for (int trial = 0; trial < 100; ++trial) {
      test::Bytes key = test::RandomBytes(rng, 16);
      if (trial == 0) std::fill(key.begin(), key.end(), 0);
      Tea c;
      c.Init(key.data(), bits);
      const test::Bytes plain = test::RandomBytes(rng, 8);
      uint8_t enc[8], dec[8];
      c.EncryptBlock(plain.data(), enc);
      ASSERT_EQ(test::ToHex(enc, 8), test::ToHex(ModelEncrypt(key, bits, plain)))
          << bits << " bits";
      c.DecryptBlock(enc, dec);
      ASSERT_EQ(test::ToHex(dec, 8), test::ToHex(plain)) << bits << " bits";
      c.DecryptBlock(enc, enc);
      ASSERT_EQ(test::ToHex(enc, 8), test::ToHex(plain)) << bits << " bits, in place";
    }
  }
}

// The vector file's answers came from a separate implementation; the model agrees with them.
TEST(Tea, ModelAgreesWithTheVectorFile) {
  for (const test::VecRecord& r : test::ReadVecFile("ciphers/tea.vec")) {
    const test::Bytes key = test::FromHex(r.Get("Key"));
    EXPECT_EQ(test::ToHex(ModelEncrypt(key, uint32_t(8 * key.size()), test::FromHex(r.Get("In")))),
              test::ToHex(test::FromHex(r.Get("Out"))))
        << "tea.vec:" << r.line;
  }
}

}  // namespace
}  // namespace kryvane
