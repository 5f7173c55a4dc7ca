#include "ciphers/cast128.h"

#include <gtest/gtest.h>

#include "tests/support/hex.h"

namespace kryvane {
namespace {

using test::FromHex;
using test::ToHex;

// The round count follows the whole key bytes: up to ten bytes run 12 rounds, so a trailing half
// byte after the tenth (84 bits) must not switch to 16.
TEST(Cast128, RoundCountFollowsWholeKeyBytes) {
  const uint8_t key[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  const struct {
    uint32_t bits, rounds;
  } kCases[] = {{8, 12}, {40, 12}, {80, 12}, {84, 12}, {88, 16}, {92, 16}, {128, 16}};
  Cast128 c;
  EXPECT_EQ(c.Rounds(), 0u);
  for (const auto& t : kCases) {
    c.Init(key, t.bits);
    EXPECT_EQ(c.Rounds(), t.rounds) << t.bits << " bits";
  }
  c.Wipe();
  EXPECT_EQ(c.Rounds(), 0u);
}

// RFC 2144 B.2: a million rounds of keying with one half of the state and encrypting the other
// touches the key schedule with a million different keys.
TEST(Cast128, FullMaintenanceTest) {
  auto a = FromHex("0123456712345678234567893456789A");
  auto b = a;
  Cast128 c;
  for (int i = 0; i < 1000000; ++i) {
    c.Init(b.data(), 128);
    c.EncryptBlock(a.data(), a.data());
    c.EncryptBlock(a.data() + 8, a.data() + 8);
    c.Init(a.data(), 128);
    c.EncryptBlock(b.data(), b.data());
    c.EncryptBlock(b.data() + 8, b.data() + 8);
  }
  EXPECT_EQ(ToHex(a), "EEA9D0A249FD3BA6B3436FB89D6DCA92");
  EXPECT_EQ(ToHex(b), "B2C95EB00C31AD7180AC05B8E83D696E");
}

}  // namespace
}  // namespace kryvane
