// Twofish: the key-length choice of the file format, agreement with Botan for every key size the
// cipher accepts, the one-time MDS table build under concurrent first use, and whole files
// through the passphrase path.
#include "ciphers/twofish.h"

#include <botan/block_cipher.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <latch>
#include <random>
#include <thread>
#include <vector>

#include "app/catalogue.h"
#include "crypto/streams.h"
#include "tests/support/hex.h"

namespace kryvane {
namespace {

using Bytes = std::vector<uint8_t>;
using test::FromHex;
using test::ToHex;

Bytes RandomBytes(std::mt19937& rng, std::size_t n) {
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(rng());
  return b;
}

// The length is chosen by the size in bits, then the whole key bytes are zero-padded to it.
Bytes ReferenceKey(const Bytes& key, uint32_t bits) {
  Bytes k(bits <= 128 ? 16 : bits <= 192 ? 24 : 32, 0);
  std::copy_n(key.begin(), bits / 8, k.begin());
  return k;
}

// Every accepted size from 8 bits up, random keys and blocks, both directions.
TEST(Twofish, MatchesBotanForEveryKeySize) {
  Twofish ours;
  auto theirs = Botan::BlockCipher::create_or_throw("Twofish");
  std::mt19937 rng(4321);
  constexpr std::size_t kBlocks = 4;
  for (uint32_t bits = 8; bits <= 256; bits += 4) {
    for (int trial = 0; trial < 6; ++trial) {
      const Bytes key = RandomBytes(rng, 32);
      SCOPED_TRACE("bits " + std::to_string(bits) + ", key " + ToHex(key));
      ours.Init(key.data(), bits);
      theirs->set_key(ReferenceKey(key, bits));

      const Bytes plain = RandomBytes(rng, 16 * kBlocks);
      Bytes expected(plain.size()), got(plain.size());
      theirs->encrypt_n(plain.data(), expected.data(), kBlocks);
      for (std::size_t i = 0; i < plain.size(); i += 16) {
        ours.EncryptBlock(plain.data() + i, got.data() + i);
      }
      ASSERT_EQ(ToHex(got), ToHex(expected)) << "encrypt";

      const Bytes sealed = RandomBytes(rng, 16 * kBlocks);
      theirs->decrypt_n(sealed.data(), expected.data(), kBlocks);
      for (std::size_t i = 0; i < sealed.size(); i += 16) {
        ours.DecryptBlock(sealed.data() + i, got.data() + i);
      }
      ASSERT_EQ(ToHex(got), ToHex(expected)) << "decrypt";
    }
  }
}

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

TEST(Twofish, RefusedKeySizesLeaveTheCipherUnkeyed) {
  const Bytes key(40, 0x5A);
  for (uint32_t bits : {0u, 4u, 130u, 260u}) {
    SCOPED_TRACE(bits);
    Twofish c;
    c.Init(key.data(), 256);
    try {
      c.Init(key.data(), bits);
      ADD_FAILURE() << "accepted";
    } catch (const CipherError& e) {
      EXPECT_STREQ(e.what(), kInvalidKeySize);
    }
    EXPECT_FALSE(c.Initialized());
    uint8_t buf[16] = {};
    EXPECT_THROW(c.EncryptBlock(buf, buf), BlockCipherError);
  }
}

TEST(Twofish, SelfTestPasses) {
  EXPECT_TRUE(Twofish::SelfTest());
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

// Whole files as the file job writes them: key from each available hash of a passphrase, one CBC
// chain in 8192-byte calls. Decrypting must give back the source.
TEST(Twofish, FileRoundTripWithEveryHash) {
  std::mt19937 rng(77);
  for (const HashEntry& h : HashCatalogue()) {
    if (!h.hash) continue;
    for (std::size_t size : {0u, 1u, 15u, 16u, 17u, 8191u, 8192u, 8193u}) {
      SCOPED_TRACE(std::string(h.shortName) + " " + std::to_string(size));
      const Bytes source = RandomBytes(rng, size);
      Twofish enc;
      enc.InitFromPassphrase("correct horse battery staple", *h.hash);
      MemorySource in(source);
      MemorySink sealed;
      EXPECT_EQ(enc.EncryptStream(in, sealed, size), size);
      ASSERT_EQ(sealed.Data().size(), size);
      if (size >= 16) {
        EXPECT_NE(sealed.Data(), source);
      }

      Twofish dec;
      dec.InitFromPassphrase("correct horse battery staple", *h.hash);
      MemorySource back(sealed.Data());
      MemorySink plain;
      EXPECT_EQ(dec.DecryptStream(back, plain, size), size);
      EXPECT_EQ(plain.Data(), source);
    }
  }
}

}  // namespace
}  // namespace kryvane
