#include "ciphers/ice.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <latch>
#include <random>
#include <thread>
#include <vector>

#include "ciphers/ice_internal.h"
#include "tests/support/cipher_checks.h"
#include "tests/support/hex.h"

namespace kryvane {
namespace {

const CipherRef kLevels[] = {CipherRef::Of<ThinIce>(), CipherRef::Of<Ice>(), CipherRef::Of<Ice2>()};

TEST(Ice, ShorterKeysAreZeroPadded) {
  for (const CipherRef& level : kLevels) test::ExpectZeroPaddedKeys(level);
}

// The two halves of an ICE-2 key fill different subkeys, so both must matter; a level-2 key
// whose second half is zero is not the ICE key of its first half.
TEST(Ice, Ice2UsesBothKeyHalvesAndDiffersFromIce) {
  const test::Bytes key = test::FromHex("00112233445566778899AABBCCDDEEFF");
  const test::Bytes block = test::FromHex("FEDCBA9876543210");
  Ice2 a, b;
  Ice ice;
  a.Init(key.data(), 128);
  test::Bytes other = key;
  other[15] ^= 0x80;
  b.Init(other.data(), 128);
  EXPECT_NE(test::EncryptBlocks(a, block), test::EncryptBlocks(b, block));
  a.Init(key.data(), 64);
  ice.Init(key.data(), 64);
  EXPECT_NE(test::EncryptBlocks(a, block), test::EncryptBlocks(ice, block));
}

// The published vectors (ice.vec) pin the answers; here decryption must invert for other keys.
TEST(Ice, RandomKeysRoundTrip) {
  std::mt19937 rng(20);
  for (const CipherRef& level : kLevels) {
    auto c = test::MakeBlockCipher(level);
    for (int trial = 0; trial < 50; ++trial) {
      const test::Bytes key = test::RandomBytes(rng, 16);
      c->Init(key.data(), static_cast<uint32_t>(c->MaxKeySize()));
      const test::Bytes plain = test::RandomBytes(rng, 64);
      test::Bytes buf = test::EncryptBlocks(*c, plain);
      for (std::size_t i = 0; i < buf.size(); i += 8) c->DecryptBlock(&buf[i], &buf[i]);
      ASSERT_EQ(test::ToHex(buf), test::ToHex(plain)) << level.algorithm;
    }
  }
}

// Runs in a fresh process, so the threads really are the first to construct ICE instances.
// Exit code 0: one computation, every known answer right, every thread saw the same table.
[[noreturn]] void RaceFirstConstruction() {
  if (ice_detail::SBoxBuildCount() != 0) std::_Exit(2);
  constexpr int kThreads = 12;
  std::latch start(kThreads);
  std::array<bool, kThreads> ok{};
  std::array<const ice_detail::SBoxes*, kThreads> seen{};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      switch (t % 3) {
        case 0:
          ok[t] = ThinIce::SelfTest();
          break;
        case 1:
          ok[t] = Ice::SelfTest();
          break;
        default:
          ok[t] = Ice2::SelfTest();
          break;
      }
      seen[t] = &ice_detail::SharedSBoxes();
    });
  }
  for (auto& th : threads) th.join();
  if (ice_detail::SBoxBuildCount() != 1) std::_Exit(3);
  for (int t = 0; t < kThreads; ++t) {
    if (!ok[t]) std::_Exit(4);
    if (seen[t] != seen[0]) std::_Exit(5);
  }
  std::_Exit(0);
}

TEST(IceDeathTest, SBoxesBuiltOnceWhenThreadsRaceToFirstInstance) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // A race does not lose every time; several fresh processes make an unguarded build show.
  for (int run = 0; run < 10; ++run) {
    EXPECT_EXIT(RaceFirstConstruction(), ::testing::ExitedWithCode(0), "") << "run " << run;
  }
}

}  // namespace
}  // namespace kryvane
