// The self-test run over the menus: every class is tried and reported, and one failure fails it.
#include <gtest/gtest.h>

#include <vector>

#include "app/catalogue.h"

namespace kryvane {
namespace {

bool Fails() {
  return false;
}

TEST(SelfTests, EveryClassOfTheMenusPasses) {
  std::vector<std::string> reported;
  const bool all =
      RunSelfTests(CipherCatalogue(), HashCatalogue(), [&](std::string_view a, bool ok) {
        EXPECT_TRUE(ok) << a;
        reported.emplace_back(a);
      });
  EXPECT_TRUE(all);
  ASSERT_EQ(reported.size(), CipherCatalogue().size() + HashCatalogue().size());
  EXPECT_EQ(reported.front(), CipherCatalogue().front().cipher.algorithm);
  EXPECT_EQ(reported.back(), HashCatalogue().back().hash.algorithm);
}

TEST(SelfTests, OneFailingCipherOrHashFailsTheRun) {
  std::vector<CipherEntry> ciphers(CipherCatalogue().begin(), CipherCatalogue().begin() + 3);
  std::vector<HashEntry> hashes(HashCatalogue().begin(), HashCatalogue().begin() + 2);
  const auto run = [&] {
    std::vector<std::pair<std::string, bool>> reported;
    const bool all = RunSelfTests(ciphers, hashes, [&](std::string_view a, bool ok) {
      reported.emplace_back(std::string(a), ok);
    });
    EXPECT_EQ(reported.size(), 5u);  // a failure stops nothing
    return std::make_pair(all, reported);
  };
  EXPECT_TRUE(run().first);

  ciphers[1].cipher.selfTest = &Fails;
  auto [all, reported] = run();
  EXPECT_FALSE(all);
  EXPECT_FALSE(reported[1].second);
  EXPECT_TRUE(reported[2].second);

  ciphers[1] = CipherCatalogue()[1];
  hashes[1].hash.selfTest = &Fails;
  std::tie(all, reported) = run();
  EXPECT_FALSE(all);
  EXPECT_FALSE(reported[4].second);
}

}  // namespace
}  // namespace kryvane
