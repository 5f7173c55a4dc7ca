// CAST-256 against Botan for every accepted key size (shorter keys zero-padded to 256 bits), key
// sizes without a whole byte, and the file format round trip.
#include "ciphers/cast256.h"

#include <botan/block_cipher.h>
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "app/catalogue.h"
#include "tests/support/hex.h"

namespace kryvane {
namespace {

using Bytes = std::vector<uint8_t>;
using test::ToHex;

Bytes Random(std::mt19937& rng, std::size_t n) {
  Bytes b(n);
  for (auto& x : b) x = uint8_t(rng());
  return b;
}

TEST(Cast256, SelfTestPasses) {
  EXPECT_TRUE(Cast256::SelfTest());
}

// The key buffer is random beyond bits / 8, so ignored bytes (a trailing half byte included)
// must really be ignored; the reference gets the first bits / 8 bytes followed by zeros.
TEST(Cast256, MatchesBotanOnEveryKeySize) {
  std::mt19937 rng(2612);
  auto reference = Botan::BlockCipher::create_or_throw("CAST-256");
  for (uint32_t bits = 8; bits <= 256; bits += 4) {
    SCOPED_TRACE(bits);
    for (int trial = 0; trial < 3; ++trial) {
      const Bytes key = Random(rng, 33);
      Bytes padded(32, 0);
      std::copy_n(key.begin(), bits / 8, padded.begin());
      reference->set_key(padded.data(), padded.size());
      Cast256 c;
      c.Init(key.data(), bits);

      const Bytes plain = Random(rng, 16);
      Bytes ours(16);
      Bytes theirs(16);
      c.EncryptBlock(plain.data(), ours.data());
      reference->encrypt_n(plain.data(), theirs.data(), 1);
      EXPECT_EQ(ToHex(ours), ToHex(theirs));

      const Bytes cipher = Random(rng, 16);
      ours = cipher;
      c.DecryptBlock(ours.data(), ours.data());
      reference->decrypt_n(cipher.data(), theirs.data(), 1);
      EXPECT_EQ(ToHex(ours), ToHex(theirs));
    }
  }
}

TEST(Cast256, KeyWithoutWholeByteIsRefused) {
  const Bytes key(32, 0x5A);
  Cast256 c;
  c.Init(key.data(), 256);
  try {
    c.Init(key.data(), 4);
    FAIL() << "a 4-bit key was accepted";
  } catch (const CipherError& e) {
    EXPECT_STREQ(e.what(), kInvalidKeySize);
  }
  EXPECT_FALSE(c.Initialized());
  uint8_t block[16] = {};
  EXPECT_THROW(c.EncryptBlock(block, block), BlockCipherError);
}

// InitFromPassphrase + the stream operations, as the file job drives them, for every hash.
TEST(Cast256, FileRoundTrip) {
  std::mt19937 rng(15);
  for (const HashEntry& h : HashCatalogue()) {
    if (!h.hash) continue;
    for (std::size_t size : {0u, 1u, 15u, 16u, 17u, 8191u, 8192u, 8193u}) {
      SCOPED_TRACE(std::string(h.shortName) + " " + std::to_string(size));
      const Bytes source = Random(rng, size);
      Cast256 c;
      c.InitFromPassphrase("correct horse battery staple", *h.hash);
      MemorySource in(source);
      MemorySink encrypted;
      EXPECT_EQ(c.EncryptStream(in, encrypted, size), size);
      if (size > 0) {
        EXPECT_NE(encrypted.Data(), source);
      }

      Cast256 d;
      d.InitFromPassphrase("correct horse battery staple", *h.hash);
      MemorySource back(encrypted.Data());
      MemorySink decrypted;
      EXPECT_EQ(d.DecryptStream(back, decrypted, size), size);
      EXPECT_EQ(decrypted.Data(), source);
    }
  }
}

}  // namespace
}  // namespace kryvane
