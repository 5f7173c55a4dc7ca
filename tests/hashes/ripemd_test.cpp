// RIPEMD-128 has no Botan counterpart, so it is compared with Crypto++ here; RIPEMD-160 is in
// the Botan comparison with the other standard hashes.
#include <cryptopp/ripemd.h>
#include <gtest/gtest.h>

#include <random>

#include "hashes/ripemd128.h"
#include "hashes/ripemd160.h"
#include "tests/support/hex.h"

namespace kryvane {
namespace {

TEST(Ripemd, SelfTests) {
  EXPECT_TRUE(Ripemd128::SelfTest());
  EXPECT_TRUE(Ripemd160::SelfTest());
}

TEST(Ripemd128, MatchesCryptoppOverLengthsAndSplits) {
  std::mt19937 rng(128);
  std::vector<std::size_t> lengths;
  for (std::size_t n = 0; n <= 300; ++n) lengths.push_back(n);
  for (std::size_t n : {1000u, 8191u, 8192u, 8193u, 100000u}) lengths.push_back(n);
  Ripemd128 ours;
  CryptoPP::RIPEMD128 theirs;
  std::array<uint8_t, 16> got{}, expected{};
  for (std::size_t n : lengths) {
    std::vector<uint8_t> msg(n);
    for (auto& b : msg) b = static_cast<uint8_t>(rng());
    ours.Init();
    std::size_t pos = 0;
    while (pos < n) {
      const std::size_t take = std::min<std::size_t>(n - pos, rng() % 200);
      ours.Update(msg.data() + pos, take);
      pos += take;
    }
    ours.Final(got.data());
    theirs.CalculateDigest(expected.data(), msg.data(), msg.size());
    ASSERT_EQ(test::ToHex(got.data(), got.size()), test::ToHex(expected.data(), expected.size()))
        << "length " << n;
  }
}

}  // namespace
}  // namespace kryvane
