// SHA-256, SHA-384, SHA-512, MD4 and MD5: the identities stored files depend on, the known-answer
// tests, and the exact digest length (SHA-384 shares SHA-512's eight-word state but must write
// only six words).
#include <gtest/gtest.h>

#include <vector>

#include "app/catalogue.h"

namespace kryvane {
namespace {

struct Facts {
  const char* shortName;
  int32_t id;
  const char* algorithm;
  int32_t hashSize;
};

class Sha2Md : public ::testing::TestWithParam<Facts> {};

TEST_P(Sha2Md, CatalogueFactsAndSelfTest) {
  const HashEntry* entry = FindHash(GetParam().shortName);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->hash.id, GetParam().id);
  EXPECT_EQ(entry->hash.algorithm, GetParam().algorithm);
  EXPECT_EQ(entry->hash.hashSize, GetParam().hashSize);
  EXPECT_TRUE(entry->hash.SelfTest());
  auto h = entry->hash.Create();
  EXPECT_EQ(h->Id(), GetParam().id);
  EXPECT_EQ(h->Algorithm(), GetParam().algorithm);
  EXPECT_EQ(h->HashSize(), GetParam().hashSize);
}

TEST_P(Sha2Md, FinalWritesExactlyTheDigestThenNeedsInit) {
  auto h = FindHash(GetParam().shortName)->hash.Create();
  const std::size_t size = static_cast<std::size_t>(GetParam().hashSize / 8);
  std::vector<uint8_t> out(size + 32, 0xA5);
  h->Init();
  h->UpdateText("abc");
  h->Final(out.data());
  for (std::size_t i = size; i < out.size(); ++i) ASSERT_EQ(out[i], 0xA5) << "byte " << i;
  EXPECT_FALSE(h->Initialized());
  EXPECT_THROW(h->Final(out.data()), HashError);
  EXPECT_THROW(h->UpdateText("x"), HashError);
}

INSTANTIATE_TEST_SUITE_P(All, Sha2Md,
                         ::testing::Values(Facts{"sha256", 28, "SHA256", 256},
                                           Facts{"sha384", 29, "SHA384", 384},
                                           Facts{"sha512", 30, "SHA512", 512},
                                           Facts{"md4", 17, "MD4", 128},
                                           Facts{"md5", 16, "MD5", 128}),
                         [](const auto& info) { return std::string(info.param.shortName); });

}  // namespace
}  // namespace kryvane
