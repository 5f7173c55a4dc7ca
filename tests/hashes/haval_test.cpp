#include "hashes/haval.h"

#include <gtest/gtest.h>

#include "tests/support/hex.h"

namespace kryvane {
namespace {

TEST(Haval, SelfTest) {
  EXPECT_TRUE(Haval::SelfTest());
}

TEST(Haval, FinalWritesExactlyTheDigest) {
  std::array<uint8_t, 40> out;
  out.fill(0xAA);
  Haval h;
  h.Init();
  h.Final(out.data());
  const auto expected =
      test::FromHex("5981d3f8cce7f5674752595f4ad24c184ba1c738c986d4d2eddf2bd86c3f8679");
  EXPECT_EQ(test::ToHex(out.data(), 32), test::ToHex(expected));
  for (std::size_t i = 32; i < out.size(); ++i) EXPECT_EQ(out[i], 0xAA) << "byte " << i;
}

}  // namespace
}  // namespace kryvane
