// Serpent against Botan 2 on random keys and blocks, and the padding of short keys.
#include "ciphers/serpent.h"

#include <botan/block_cipher.h>
#include <gtest/gtest.h>

#include <random>

#include "tests/support/hex.h"

namespace kryvane {
namespace {

using test::ToHex;

std::vector<uint8_t> RandomBytes(std::mt19937& rng, std::size_t n) {
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

// Checks ours, keyed with `bits` of `key`, against Botan keyed with `reference`, on random
// blocks in both directions.
void ExpectSameAsBotan(std::mt19937& rng, const std::vector<uint8_t>& key, uint32_t bits,
                       const std::vector<uint8_t>& reference) {
  Serpent ours;
  ours.Init(key.data(), bits);
  auto theirs = Botan::BlockCipher::create_or_throw("Serpent");
  theirs->set_key(reference);
  for (int b = 0; b < 4; ++b) {
    const auto block = RandomBytes(rng, 16);
    uint8_t mine[16], expected[16];
    ours.EncryptBlock(block.data(), mine);
    theirs->encrypt(block.data(), expected);
    ASSERT_EQ(ToHex(mine, 16), ToHex(expected, 16)) << "encrypt, " << bits << " bits";
    ours.DecryptBlock(block.data(), mine);
    theirs->decrypt(block.data(), expected);
    ASSERT_EQ(ToHex(mine, 16), ToHex(expected, 16)) << "decrypt, " << bits << " bits";
  }
}

TEST(Serpent, MatchesBotanOnRandomKeys) {
  std::mt19937 rng(11);
  for (uint32_t bits : {128u, 192u, 256u}) {
    for (int round = 0; round < 200; ++round) {
      const auto key = RandomBytes(rng, bits / 8);
      ExpectSameAsBotan(rng, key, bits, key);
    }
  }
}

// A key of n bits below 256 keys like the 256-bit key made of its whole bytes, a 1 bit at
// position n and zeros. For n = 160 that is the 20 bytes, 01 and eleven zero bytes; for n = 132
// it is 16 bytes, 10 and fifteen zero bytes, whatever the key's half-used byte 16 holds.
TEST(Serpent, ShortKeysArePadded) {
  std::mt19937 rng(12);
  for (uint32_t bits = 4; bits < 256; bits += 4) {
    auto key = RandomBytes(rng, 32);
    if (bits % 8 != 0) key[bits / 8] = 0xFF;  // its low half would be key bits, if it were used
    std::vector<uint8_t> padded(key.begin(), key.begin() + bits / 8);
    padded.push_back(uint8_t(1u << (bits % 8)));
    padded.resize(32, 0);
    ExpectSameAsBotan(rng, key, bits, padded);
  }
}

TEST(Serpent, UnkeyedBlocksAreRefused) {
  Serpent s;
  uint8_t block[16] = {};
  EXPECT_THROW(s.EncryptBlock(block, block), BlockCipherError);
  const uint8_t key[16] = {};
  s.Init(key, 128);
  s.Wipe();
  EXPECT_THROW(s.EncryptBlock(block, block), BlockCipherError);
  EXPECT_THROW(s.DecryptBlock(block, block), BlockCipherError);
}

TEST(Serpent, SelfTest) {
  EXPECT_TRUE(Serpent::SelfTest());
}

}  // namespace
}  // namespace kryvane
