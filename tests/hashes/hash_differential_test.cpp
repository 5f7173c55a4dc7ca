// The standard hashes against Botan over every message length from 0 to 300 bytes and a few
// large ones, each fed in random pieces.
#include <botan/hash.h>
#include <gtest/gtest.h>

#include <random>

#include "app/catalogue.h"
#include "tests/support/hex.h"

namespace kryvane {
namespace {

struct Reference {
  const char* shortName;
  const char* botanName;
  friend void PrintTo(const Reference& r, std::ostream* os) { *os << r.shortName; }
};

class HashDifferential : public ::testing::TestWithParam<Reference> {};

TEST_P(HashDifferential, RandomMessagesAndSplits) {
  const HashEntry* entry = FindHash(GetParam().shortName);
  ASSERT_NE(entry, nullptr);
  auto ours = entry->hash.Create();
  auto theirs = Botan::HashFunction::create_or_throw(GetParam().botanName);
  std::mt19937 rng(42);
  std::vector<std::size_t> lengths;
  for (std::size_t n = 0; n <= 300; ++n) lengths.push_back(n);
  for (std::size_t n : {1000u, 8191u, 8192u, 8193u, 100000u}) lengths.push_back(n);
  std::vector<uint8_t> digest(static_cast<std::size_t>(ours->HashSize() / 8));
  for (std::size_t n : lengths) {
    std::vector<uint8_t> msg(n);
    for (auto& b : msg) b = static_cast<uint8_t>(rng());
    ours->Init();
    std::size_t pos = 0;
    while (pos < n) {
      const std::size_t take = std::min<std::size_t>(n - pos, rng() % 200);
      ours->Update(msg.data() + pos, take);
      pos += take;
    }
    ours->Final(digest.data());
    const auto expected = theirs->process(msg);
    ASSERT_EQ(test::ToHex(digest), test::ToHex(expected.data(), expected.size())) << "length " << n;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Botan, HashDifferential,
    ::testing::Values(Reference{"sha1", "SHA-160"}, Reference{"sha256", "SHA-256"},
                      Reference{"sha384", "SHA-384"}, Reference{"sha512", "SHA-512"},
                      Reference{"md4", "MD4"}, Reference{"md5", "MD5"},
                      Reference{"ripemd160", "RIPEMD-160"}, Reference{"tiger", "Tiger(24,3)"}),
    [](const auto& info) { return std::string(info.param.shortName); });

}  // namespace
}  // namespace kryvane
