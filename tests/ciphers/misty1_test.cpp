#include "ciphers/misty1.h"

#include <botan/block_cipher.h>
#include <gtest/gtest.h>

#include "tests/ciphers/zero_padded_key_checks.h"

namespace kryvane {
namespace {

TEST(Misty1, SelfTest) {
  EXPECT_TRUE(Misty1::SelfTest());
}

TEST(Misty1, KeySizes) {
  test::ExpectZeroPaddedKeys("misty1");
  test::ExpectRefusedKeySizes("misty1");
}

// Botan takes only full 128-bit keys; shorter keys are compared with their zero-padded form.
TEST(Misty1, MatchesBotanOnRandomKeysAndBlocks) {
  auto botan = Botan::BlockCipher::create_or_throw("MISTY1");
  std::mt19937 rng(1);
  for (int trial = 0; trial < 300; ++trial) {
    const uint32_t bits = trial < 200 ? 128u : 8u * (1u + rng() % 16);
    test::Bytes key = test::RandomBytes(rng, 16);
    std::fill(key.begin() + bits / 8, key.end(), 0);
    const test::Bytes in = test::RandomBytes(rng, 8 * 16);
    Misty1 ours;
    ours.Init(key.data(), bits);
    botan->set_key(key.data(), key.size());
    test::Bytes expected(in.size());
    botan->encrypt_n(in.data(), expected.data(), 16);
    ASSERT_EQ(test::ToHex(test::EncryptBlocks(ours, in)), test::ToHex(expected))
        << "key " << test::ToHex(key) << ", " << bits << " bits";
    botan->decrypt_n(in.data(), expected.data(), 16);
    test::Bytes got(in.size());
    for (std::size_t i = 0; i < in.size(); i += 8) ours.DecryptBlock(&in[i], &got[i]);
    ASSERT_EQ(test::ToHex(got), test::ToHex(expected)) << "key " << test::ToHex(key);
  }
}

TEST(Misty1, FileRoundTrips) {
  test::ExpectFileRoundTrips("misty1");
}

}  // namespace
}  // namespace kryvane
