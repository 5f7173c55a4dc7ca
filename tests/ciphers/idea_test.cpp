#include "ciphers/idea.h"

#include <gtest/gtest.h>

#include <random>

namespace kryvane {
namespace {

// 0 stands for 65536 in multiplication modulo 65537.
uint16_t SlowMul(uint32_t a, uint32_t b) {
  const uint64_t x = a == 0 ? 65536 : a, y = b == 0 ? 65536 : b;
  const uint64_t p = x * y % 65537;
  return uint16_t(p == 65536 ? 0 : p);
}

TEST(Idea, MultiplicationTreatsZeroAs65536) {
  EXPECT_EQ(Idea::Mul(0, 0), 1);
  EXPECT_EQ(Idea::Mul(0, 1), 0);
  EXPECT_EQ(Idea::Mul(0, 2), 65535);
  EXPECT_EQ(Idea::Mul(65535, 65535), SlowMul(65535, 65535));
  std::mt19937 rng(3);
  for (int i = 0; i < 200000; ++i) {
    const uint16_t a = uint16_t(rng()), b = uint16_t(rng());
    ASSERT_EQ(Idea::Mul(a, b), SlowMul(a, b)) << a << " * " << b;
  }
}

TEST(Idea, InverseOfEveryValue) {
  EXPECT_EQ(Idea::MulInverse(0), 0);
  EXPECT_EQ(Idea::MulInverse(1), 1);
  EXPECT_EQ(Idea::MulInverse(2), 32769);
  EXPECT_EQ(Idea::MulInverse(65535), 32768);
  for (uint32_t x = 0; x < 65536; ++x) {
    ASSERT_EQ(Idea::Mul(uint16_t(x), Idea::MulInverse(uint16_t(x))), 1) << x;
  }
}

}  // namespace
}  // namespace kryvane
