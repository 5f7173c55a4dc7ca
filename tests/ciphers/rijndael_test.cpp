// Rijndael on both code paths (AES instructions and tables): against OpenSSL for every accepted
// key size, the CBC decryption that runs several blocks at once, key sizes without a whole byte,
// and the file format round trip.
#include "ciphers/rijndael.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>
#include <vector>

#include "app/catalogue.h"
#include "tests/support/hex.h"
#include "tests/support/vec_file.h"

namespace kryvane {
namespace {

using Bytes = std::vector<uint8_t>;
using test::FromHex;
using test::ToHex;

Bytes Random(std::mt19937& rng, std::size_t n) {
  Bytes b(n);
  for (auto& x : b) x = uint8_t(rng());
  return b;
}

// The key as the cipher uses it: bits / 8 whole bytes, zero-padded to 16, 24 or 32 bytes.
Bytes StandardKey(const Bytes& key, uint32_t bits) {
  const std::size_t used = bits / 8;
  Bytes k(used <= 16 ? 16 : used <= 24 ? 24 : 32, 0);
  std::copy_n(key.begin(), used, k.begin());
  return k;
}

// AES in ECB or CBC without padding, from OpenSSL.
Bytes OpenSsl(bool encrypt, bool cbc, const Bytes& key, const uint8_t* iv, const Bytes& in) {
  const EVP_CIPHER* type = nullptr;
  switch (key.size()) {
    case 16:
      type = cbc ? EVP_aes_128_cbc() : EVP_aes_128_ecb();
      break;
    case 24:
      type = cbc ? EVP_aes_192_cbc() : EVP_aes_192_ecb();
      break;
    default:
      type = cbc ? EVP_aes_256_cbc() : EVP_aes_256_ecb();
      break;
  }
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  Bytes out(in.size() + 16);
  int n = 0;
  int m = 0;
  const bool ok = EVP_CipherInit_ex(ctx, type, nullptr, key.data(), iv, encrypt ? 1 : 0) == 1 &&
                  EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
                  EVP_CipherUpdate(ctx, out.data(), &n, in.data(), int(in.size())) == 1 &&
                  EVP_CipherFinal_ex(ctx, out.data() + n, &m) == 1;
  EVP_CIPHER_CTX_free(ctx);
  EXPECT_TRUE(ok);
  out.resize(std::size_t(n + m));
  return out;
}

Bytes Ecb(bool encrypt, const Bytes& key, const Bytes& in) {
  return OpenSsl(encrypt, false, key, nullptr, in);
}

// Runs the test once on the AES instructions (skipped where the processor lacks them) and
// once on the tables.
class RijndaelPath : public ::testing::TestWithParam<bool> {
 protected:
  bool Portable() const { return GetParam(); }
  void SetUp() override {
    if (!Portable() && !Rijndael::HardwareAvailable()) GTEST_SKIP() << "no AES instructions";
    Rijndael::ForcePortable(Portable());
  }
  void TearDown() override { Rijndael::ForcePortable(false); }
  void Key(Rijndael& c, const Bytes& key, uint32_t bits) {
    c.Init(key.data(), bits);
    ASSERT_EQ(c.UsesHardware(), !Portable());
  }
};

INSTANTIATE_TEST_SUITE_P(, RijndaelPath, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Tables" : "Instructions"; });

TEST_P(RijndaelPath, SelfTestPasses) {
  EXPECT_TRUE(Rijndael::SelfTest());
}

TEST_P(RijndaelPath, PublishedVectors) {
  for (const test::VecRecord& r : test::ReadVecFile("ciphers/rijndael.vec")) {
    SCOPED_TRACE(r.line);
    const Bytes key = FromHex(r.Get("Key"));
    Rijndael c;
    Key(c, key, uint32_t(key.size() * 8));
    Bytes buf = FromHex(r.Get("In"));
    c.EncryptBlock(buf.data(), buf.data());
    EXPECT_EQ(ToHex(buf), ToHex(FromHex(r.Get("Out"))));
    c.DecryptBlock(buf.data(), buf.data());
    EXPECT_EQ(ToHex(buf), ToHex(FromHex(r.Get("In"))));
  }
}

// Every size the base accepts except 4 bits, including the 160-bit keys of 160-bit digests and
// sizes with a trailing half byte. The key buffer is random beyond bits / 8 so that ignored
// bytes must really be ignored.
TEST_P(RijndaelPath, MatchesOpenSslOnEveryKeySize) {
  std::mt19937 rng(1234);
  for (uint32_t bits = 8; bits <= 256; bits += 4) {
    SCOPED_TRACE(bits);
    for (int trial = 0; trial < 3; ++trial) {
      const Bytes key = Random(rng, 33);
      const Bytes reference = StandardKey(key, bits);
      Rijndael c;
      Key(c, key, bits);
      const Bytes plain = Random(rng, 16);
      Bytes buf(16);
      c.EncryptBlock(plain.data(), buf.data());
      EXPECT_EQ(ToHex(buf), ToHex(Ecb(true, reference, plain)));
      const Bytes cipher = Random(rng, 16);
      buf = cipher;
      c.DecryptBlock(buf.data(), buf.data());
      EXPECT_EQ(ToHex(buf), ToHex(Ecb(false, reference, cipher)));
    }
  }
}

// The file format: one CBC chain from E(0), whatever the call boundaries, a final partial block
// enciphered from E(last ciphertext block). Decryption of many blocks at once must keep all of it,
// in place and across calls.
TEST_P(RijndaelPath, CbcChainMatchesOpenSsl) {
  std::mt19937 rng(99);
  for (uint32_t bits : {128u, 160u, 192u, 256u}) {
    SCOPED_TRACE(bits);
    const Bytes key = Random(rng, 32);
    const Bytes reference = StandardKey(key, bits);
    const Bytes iv = Ecb(true, reference, Bytes(16, 0));
    for (std::size_t blocks : {1u, 2u, 8u, 9u, 17u, 37u}) {
      SCOPED_TRACE(blocks);
      const Bytes plain = Random(rng, 16 * blocks + 5);
      const Bytes whole(plain.begin(), plain.end() - 5);
      Bytes expected = OpenSsl(true, true, reference, iv.data(), whole);
      const Bytes lastBlock(expected.end() - 16, expected.end());
      const Bytes pad = Ecb(true, reference, lastBlock);
      for (std::size_t j = 0; j < 5; ++j)
        expected.push_back(uint8_t(plain[whole.size() + j] ^ pad[j]));

      Rijndael c;
      Key(c, key, bits);
      Bytes out(plain.size());
      c.EncryptCBC(plain.data(), out.data(), out.size());
      EXPECT_EQ(ToHex(out), ToHex(expected));
      c.Reset();
      out = plain;
      const std::size_t split = 16 * ((blocks + 1) / 2);
      c.EncryptCBC(out.data(), out.data(), split);  // in place, two calls
      c.EncryptCBC(out.data() + split, out.data() + split, out.size() - split);
      EXPECT_EQ(ToHex(out), ToHex(expected));

      c.Reset();
      Bytes back = expected;
      c.DecryptCBC(back.data(), back.data(), back.size());  // in place
      EXPECT_EQ(ToHex(back), ToHex(plain));
      Bytes state(16);
      c.GetIV(state.data());
      EXPECT_EQ(ToHex(state), ToHex(pad)) << "chaining value after the tail";

      // Whole blocks in two calls, then the tail alone: the same chain.
      c.Reset();
      std::fill(back.begin(), back.end(), 0);
      const std::size_t first = 16 * (blocks / 2);
      c.DecryptCBC(expected.data(), back.data(), first);
      c.DecryptCBC(expected.data() + first, back.data() + first, whole.size() - first);
      c.GetIV(state.data());
      EXPECT_EQ(ToHex(state), ToHex(lastBlock));
      c.DecryptCBC(expected.data() + whole.size(), back.data() + whole.size(), 5);
      EXPECT_EQ(ToHex(back), ToHex(plain));
    }
  }
}

TEST(Rijndael, KeyWithoutWholeByteIsRefused) {
  const Bytes key(32, 0x5A);
  Rijndael c;
  c.Init(key.data(), 128);
  try {
    c.Init(key.data(), 4);
    FAIL() << "a 4-bit key was accepted";
  } catch (const CipherError& e) {
    EXPECT_STREQ(e.what(), kInvalidKeySize);
  }
  EXPECT_FALSE(c.Initialized());
  uint8_t block[16] = {};
  EXPECT_THROW(c.EncryptBlock(block, block), BlockCipherError);
  EXPECT_THROW(c.EncryptCBC(block, block, 32), BlockCipherError);
  EXPECT_THROW(c.DecryptCBC(block, block, 32), BlockCipherError);
}

// InitFromPassphrase + the stream operations, as the file job drives them, for every hash;
// both code paths must write the same file and read each other's.
TEST(Rijndael, FileRoundTripOnBothPaths) {
  std::mt19937 rng(7);
  std::vector<bool> paths = {true};
  if (Rijndael::HardwareAvailable()) paths.push_back(false);
  for (const HashEntry& h : HashCatalogue()) {
    if (!h.hash) continue;
    for (std::size_t size : {0u, 1u, 15u, 16u, 17u, 8191u, 8192u, 8193u, 3 * 8192u + 40u}) {
      SCOPED_TRACE(std::string(h.shortName) + " " + std::to_string(size));
      const Bytes source = Random(rng, size);
      std::vector<Bytes> files;
      for (bool portable : paths) {
        Rijndael::ForcePortable(portable);
        Rijndael c;
        c.InitFromPassphrase("correct horse battery staple", *h.hash);
        MemorySource in(source);
        MemorySink out;
        EXPECT_EQ(c.EncryptStream(in, out, size), size);
        files.push_back(out.Data());
      }
      for (std::size_t i = 1; i < files.size(); ++i) EXPECT_EQ(files[i], files[0]);
      for (bool portable : paths) {
        Rijndael::ForcePortable(portable);
        Rijndael c;
        c.InitFromPassphrase("correct horse battery staple", *h.hash);
        MemorySource in(files[0]);
        MemorySink out;
        EXPECT_EQ(c.DecryptStream(in, out, size), size);
        EXPECT_EQ(out.Data(), source);
      }
      Rijndael::ForcePortable(false);
    }
  }
}

}  // namespace
}  // namespace kryvane
