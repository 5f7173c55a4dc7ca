#include "ciphers/tea.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/support/cipher_checks.h"
#include "tests/support/hex.h"

namespace kryvane {
namespace {

TEST(Tea, ShorterKeysAreZeroPadded) {
  test::ExpectZeroPaddedKeys(CipherRef::Of<Tea>());
}

// Short keys leave whole key words zero (a 32-bit key leaves three); decryption must still
// invert encryption, in place and not.
TEST(Tea, DecryptionInvertsEncryptionForRandomKeys) {
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
      EXPECT_NE(test::ToHex(enc, 8), test::ToHex(plain));
      c.DecryptBlock(enc, dec);
      ASSERT_EQ(test::ToHex(dec, 8), test::ToHex(plain)) << bits << " bits";
      c.DecryptBlock(enc, enc);
      ASSERT_EQ(test::ToHex(enc, 8), test::ToHex(plain)) << bits << " bits, in place";
    }
  }
}

}  // namespace
}  // namespace kryvane
