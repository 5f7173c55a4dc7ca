// Every hash of the menu: the identities stored files depend on, the known-answer test, and a
// Final that writes exactly the digest (SHA-384 shares SHA-512's eight-word state but must write
// only six words) and then needs Init again.
#include <gtest/gtest.h>

#include <vector>

#include "app/catalogue.h"
#include "crypto/algorithm_ids.h"

namespace kryvane {
namespace {

struct Facts {
  const char* shortName;
  int32_t id;
  const char* algorithm;
  int32_t hashSize;
};

// In menu order.
const Facts kFacts[] = {
    {"haval", ids::kHaval, "Haval (256bit, 5 passes)", 256},
    {"md4", ids::kMd4, "MD4", 128},
    {"md5", ids::kMd5, "MD5", 128},
    {"ripemd128", ids::kRipemd128, "RipeMD-128", 128},
    {"ripemd160", ids::kRipemd160, "RipeMD-160", 160},
    {"sha1", ids::kSha1, "SHA1", 160},
    {"sha256", ids::kSha256, "SHA256", 256},
    {"sha384", ids::kSha384, "SHA384", 384},
    {"sha512", ids::kSha512, "SHA512", 512},
    {"tiger", ids::kTiger, "Tiger", 192},
};

TEST(HashCatalogue, TableCoversTheMenu) {
  ASSERT_EQ(HashCatalogue().size(), std::size(kFacts));
  for (const HashEntry& e : HashCatalogue()) {
    EXPECT_EQ(e.shortName, kFacts[std::size_t(e.position)].shortName);
  }
}

class HashFacts : public ::testing::TestWithParam<Facts> {};

TEST_P(HashFacts, CatalogueFactsAndSelfTest) {
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

TEST_P(HashFacts, FinalWritesExactlyTheDigestThenNeedsInit) {
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

INSTANTIATE_TEST_SUITE_P(Menu, HashFacts, ::testing::ValuesIn(kFacts),
                         [](const auto& info) { return std::string(info.param.shortName); });

}  // namespace
}  // namespace kryvane
