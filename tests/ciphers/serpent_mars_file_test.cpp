// File round trips for Serpent and MARS: a passphrase keys the cipher through every available
// hash, the data goes through EncryptStream in 8192-byte calls, and DecryptStream on a freshly
// keyed instance gives it back.
#include <gtest/gtest.h>

#include <random>

#include "app/catalogue.h"
#include "tests/support/hex.h"

namespace kryvane {
namespace {

class SerpentMarsFileRoundTrip : public ::testing::TestWithParam<const char*> {};

TEST_P(SerpentMarsFileRoundTrip, EveryHashAndSize) {
  const CipherEntry* cipherEntry = FindCipher(GetParam());
  ASSERT_NE(cipherEntry, nullptr);
  ASSERT_TRUE(cipherEntry->cipher.has_value());
  std::mt19937 rng(21);
  int hashes = 0;
  for (const HashEntry& hashEntry : HashCatalogue()) {
    if (!hashEntry.hash) continue;
    ++hashes;
    for (std::size_t size : {0u, 1u, 15u, 16u, 17u, 8191u, 8192u, 8193u, 20000u}) {
      SCOPED_TRACE(std::string(hashEntry.shortName) + ", " + std::to_string(size) + " bytes");
      std::vector<uint8_t> plain(size);
      for (auto& b : plain) b = static_cast<uint8_t>(rng());

      auto enc = cipherEntry->cipher->Create();
      enc->InitFromPassphrase("correct horse battery staple", *hashEntry.hash);
      MemorySource plainSource(plain);
      MemorySink cipherSink;
      EXPECT_EQ(enc->EncryptStream(plainSource, cipherSink, size), size);
      ASSERT_EQ(cipherSink.Data().size(), size);
      if (size >= 16) {
        EXPECT_NE(test::ToHex(cipherSink.Data()), test::ToHex(plain));
      }

      auto dec = cipherEntry->cipher->Create();
      dec->InitFromPassphrase("correct horse battery staple", *hashEntry.hash);
      MemorySource cipherSource(cipherSink.Data());
      MemorySink plainSink;
      EXPECT_EQ(dec->DecryptStream(cipherSource, plainSink, size), size);
      ASSERT_EQ(test::ToHex(plainSink.Data()), test::ToHex(plain));
    }
  }
  EXPECT_GT(hashes, 0);
}

INSTANTIATE_TEST_SUITE_P(Ciphers, SerpentMarsFileRoundTrip, ::testing::Values("serpent", "mars"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
}  // namespace kryvane
