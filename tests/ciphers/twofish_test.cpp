// Twofish: the key-length choice of the file format and the one-time MDS table build under
// concurrent first use (agreement with Botan for every key size is a row of
// reference_library_test.cpp).
#include "ciphers/twofish.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <latch>
#include <thread>
#include <vector>

#include "tests/support/botan_block.h"
#include "tests/support/hex.h"

namespace kryvane {
namespace {

using test::Bytes;
using test::FromHex;
using test::ToHex;

Bytes Encrypt(Twofish& c, const Bytes& key, uint32_t bits) {
  c.Init(key.data(), bits);
  Bytes out(16);
  const Bytes block = FromHex("00112233445566778899AABBCCDDEEFF");
  c.EncryptBlock(block.data(), out.data());
  return out;
}

// A size just above a length boundary selects the longer key, not the one its whole bytes fill.
TEST(Twofish, KeyLengthFollowsTheSizeInBits) {
  const Bytes key = FromHex("0123456789ABCDEFFEDCBA987654321000112233445566778899AABBCCDDEEFF");
  auto padded = [&](std::size_t keep, std::size_t length) {
    Bytes k(key.begin(), key.begin() + keep);
    k.resize(length, 0);
    return k;
  };
  Twofish a, b;
  EXPECT_EQ(ToHex(Encrypt(a, key, 132)), ToHex(Encrypt(b, padded(16, 24), 192)));
  EXPECT_NE(ToHex(Encrypt(a, key, 132)), ToHex(Encrypt(b, key, 128)));
  EXPECT_EQ(ToHex(Encrypt(a, key, 196)), ToHex(Encrypt(b, padded(24, 32), 256)));
  EXPECT_EQ(ToHex(Encrypt(a, key, 160)), ToHex(Encrypt(b, padded(20, 24), 192)));
  EXPECT_EQ(ToHex(Encrypt(a, key, 80)), ToHex(Encrypt(b, padded(10, 16), 128)));
}

// Runs in a fresh process, so that the threads below are the first users of the tables.
void ConcurrentFirstUse() {
  if (Twofish::MdsTableBuilds() != 0) {
    std::cerr << "tables already built\n";
    std::exit(2);
  }
  constexpr int kThreads = 16;
  std::latch start(kThreads);
  std::vector<std::string> results(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      Twofish c;
      const Bytes key(32, 0);
      const Bytes block(16, 0);
      Bytes out(16);
      c.Init(key.data(), 256);
      c.EncryptBlock(block.data(), out.data());
      results[t] = ToHex(out);
    });
  }
  for (auto& th : threads) th.join();
  for (const auto& r : results) {
    if (r != "57FF739D4DC92C1BD7FC01700CC8216F") {
      std::cerr << "wrong ciphertext " << r << "\n";
      std::exit(3);
    }
  }
  if (Twofish::MdsTableBuilds() != 1) {
    std::cerr << "tables built " << Twofish::MdsTableBuilds() << " times\n";
    std::exit(4);
  }
  std::exit(0);
}

TEST(TwofishDeathTest, MdsTablesAreBuiltOnceUnderConcurrentFirstUse) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // re-executes the binary: a fresh process
  EXPECT_EXIT(ConcurrentFirstUse(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace kryvane
