// Variants of a remembered text: nearest first, each once, in a stable order.
#include "app/recover/like.h"

#include <gtest/gtest.h>

#include <unordered_map>
#include <unordered_set>

#include "tests/app/recover/fill_all.h"

namespace kryvane::recover {
namespace {

// Where each candidate is; fails on a duplicate.
std::unordered_map<std::string, uint64_t> Index(LikeSource& like) {
  std::unordered_map<std::string, uint64_t> at;
  like.Seek(0);
  const std::vector<std::string> all = FillAll(like, kNoEnd, 4096);
  EXPECT_EQ(all.size(), like.size());
  for (uint64_t p = 0; p < all.size(); ++p) {
    EXPECT_TRUE(at.emplace(all[p], p).second) << "twice: " << all[p];
  }
  return at;
}

int TierOf(const LikeSource& like, uint64_t p) {
  int t = 0;
  while (like.tier_start(t + 1) <= p) ++t;
  return t;
}

TEST(Like, NearVariantsOfATextComeNearestFirst) {
  LikeSource like("Summer2019");
  const auto at = Index(like);
  EXPECT_EQ(like.At(0), "Summer2019");
  // The tier each variant must fall in: the sum of its steps' costs.
  const std::pair<const char*, int> expected[] = {
      {"summer2019", 1},   {"SUMMER2019", 1},  {"Summer2019!", 1}, {"Summer20197", 1},
      {"Summer", 1},       {"$ummer2019", 1},  {"Summer2020", 2},  {"Summer19", 2},
      {"Summer2019!!", 2}, {"Sumemr2019", 2},  {"Sumer2019", 2},   {"Summmer2019", 2},
      {"Sunmer2019", 2},   {"sUMMER2019", 2},  {"summer2019!", 2}, {"Summer2020!", 3},
      {"summer2020", 3},   {"Sumemr2019!", 3}, {"Smuemr2019", 4},  {"sumer2019!", 4},
      {"Sumemr2020", 4},   {"$umm3r2019", 2},  {"Sumemr2020!", 5}, {"SUMMER1999!", 4},
  };
  for (const auto& [text, tier] : expected) {
    const auto it = at.find(text);
    ASSERT_NE(it, at.end()) << text;
    EXPECT_EQ(TierOf(like, it->second), tier) << text;
  }
  // Not one of them: three typos, or a case change beyond the list.
  for (const char* absent : {"Smuemr2091", "SuMmEr2019"}) EXPECT_EQ(at.count(absent), 0u) << absent;
  // Millions at most, not billions.
  EXPECT_GT(*like.size(), 100000u);
  EXPECT_LT(*like.size(), 5000000u);
}

TEST(Like, SubstitutionsOneOrAllAndBack) {
  LikeSource like("password", LikeOptions{3});
  const auto at = Index(like);
  for (const char* text : {"p@ssword", "pa$sword", "pa$$word", "passw0rd", "p@ssw0rd", "P@ssword",
                           "p@$$w0rd", "password1!"}) {
    EXPECT_EQ(at.count(text), 1u) << text;
  }
  LikeSource back("P@ssw0rd", LikeOptions{1});
  const auto at_back = Index(back);
  EXPECT_EQ(at_back.count("Password"), 0u);  // two steps back: tier 2
  EXPECT_EQ(at_back.count("Passw0rd"), 1u);
  EXPECT_EQ(at_back.count("P@ssword"), 1u);
}

TEST(Like, SameTextSameOrderAndTiersAscend) {
  LikeSource a("Kryvane!", LikeOptions{4});
  LikeSource b("Kryvane!", LikeOptions{4});
  ASSERT_EQ(a.size(), b.size());
  for (uint64_t p = 0; p < *a.size(); p += 997) ASSERT_EQ(a.At(p), b.At(p));
  for (int t = 0; t < 6; ++t) EXPECT_LE(a.tier_start(t), a.tier_start(t + 1));
  EXPECT_EQ(a.tier_start(5), *a.size());
  EXPECT_EQ(a.tier_start(1), 1u);
}

TEST(Like, NonAsciiTextKeepsItsCharacters) {
  LikeSource like("Café", LikeOptions{2});
  const auto at = Index(like);
  for (const char* text : {"café", "CAFÉ", "Caéf", "Caf", "Café!", "Caféé"}) {
    EXPECT_EQ(at.count(text), 1u) << text;
  }
  // A byte that is not UTF-8 comes back as it was.
  LikeSource raw(std::string("a\xff", 2), LikeOptions{0});
  EXPECT_EQ(raw.At(0), std::string("a\xff", 2));
}

TEST(Like, CutAtTheCandidateLimit) {
  LikeSource like("Summer2019", LikeOptions{5, 1000});
  EXPECT_EQ(like.size(), 1000u);
  EXPECT_THROW(LikeSource(""), std::invalid_argument);
  EXPECT_THROW(LikeSource(std::string(kMaxCandidate + 1, 'a')), std::invalid_argument);
}

}  // namespace
}  // namespace kryvane::recover
