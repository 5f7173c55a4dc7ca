// Rijndael on every code path this machine can run (tables, AES instructions, VAES): against
// OpenSSL for every accepted key size, the CBC chain whose decryption runs many blocks at once,
// and the file format on the tables.
#include "ciphers/rijndael.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>
#include <vector>

#include "app/catalogue.h"
#include "crypto/cpu.h"
#include "tests/support/cipher_checks.h"
#include "tests/support/hex.h"
#include "tests/support/vec_file.h"

namespace kryvane {
namespace {

using test::Bytes;
using test::FromHex;
using test::ToHex;

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

// The path each processor level must choose: the tables without the AES instructions, VAES
// with AVX-512, the AES instructions otherwise.
cpu::Isa PathFor(uint32_t level) {
  const auto has = [level](uint32_t f) { return (level & f) == f; };
  if (!has(cpu::kAesNi | cpu::kSse41)) return cpu::Isa::kPortable;
  if (has(cpu::kAvx512 | cpu::kAvx2 | cpu::kVaes)) return cpu::Isa::kAvx512;
  return cpu::Isa::kSse2;
}

// Runs the test once on every distinct path the processor levels of this machine give.
std::vector<uint32_t> PathLevels() {
  std::vector<uint32_t> levels;
  for (uint32_t level : cpu::Levels()) {
    if (levels.empty() || PathFor(levels.back()) != PathFor(level)) levels.push_back(level);
  }
  return levels;
}

class RijndaelPath : public ::testing::TestWithParam<uint32_t> {
 protected:
  void SetUp() override { cpu::Limit(GetParam()); }
  void TearDown() override { cpu::Limit(~0u); }
  void Key(Rijndael& c, const Bytes& key, uint32_t bits) {
    c.Init(key.data(), bits);
    ASSERT_EQ(c.Path(), PathFor(GetParam()));
  }
};

INSTANTIATE_TEST_SUITE_P(, RijndaelPath, ::testing::ValuesIn(PathLevels()), [](const auto& info) {
  return std::string(cpu::IsaName(PathFor(info.param)));
});

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
// sizes with a trailing half byte.
TEST_P(RijndaelPath, MatchesOpenSslOnEveryKeySize) {
  Rijndael probe;
  Key(probe, Bytes(16, 0), 128);
  test::ExpectMatchesReferenceForEveryKeySize(
      CipherRef::Of<Rijndael>(),
      [](const Bytes& key, uint32_t bits) {
        const Bytes k = StandardKey(key, bits);
        auto ecb = [k](bool encrypt) {
          return [k, encrypt](const uint8_t* in, uint8_t* out) {
            const Bytes r = Ecb(encrypt, k, Bytes(in, in + 16));
            std::copy(r.begin(), r.end(), out);
          };
        };
        return test::ReferenceBlock{ecb(true), ecb(false)};
      },
      {.seed = 1234});
}

// The file format: one CBC chain from E(0), whatever the call boundaries, a final partial block
// enciphered from E(last ciphertext block). Decryption of many blocks at once must keep all of it,
// in place and across calls.
TEST_P(RijndaelPath, CbcChainMatchesOpenSsl) {
  std::mt19937 rng(99);
  for (uint32_t bits : {128u, 160u, 192u, 256u}) {
    SCOPED_TRACE(bits);
    const Bytes key = test::RandomBytes(rng, 32);
    const Bytes reference = StandardKey(key, bits);
    const Bytes iv = Ecb(true, reference, Bytes(16, 0));
    // Around the widths of the paths: 8 blocks in flight, 4 per VAES register, 32 in flight.
    for (std::size_t blocks : {1u, 2u, 3u, 4u, 5u, 8u, 9u, 17u, 31u, 32u, 33u, 37u, 64u, 71u}) {
      SCOPED_TRACE(blocks);
      const Bytes plain = test::RandomBytes(rng, 16 * blocks + 5);
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

// The menu-wide file test runs on the instructions where the processor has them; the tables
// must write the same files.
TEST(Rijndael, FileFormatOnTables) {
  if (!cpu::Has(cpu::kAesNi)) GTEST_SKIP() << "the tables are the default path here";
  cpu::ScopedLimit tables(0);
  std::mt19937 rng(7);
  for (const HashEntry& h : HashCatalogue()) {
    test::ExpectFileFormat(CipherRef::Of<Rijndael>(), h.hash, rng);
  }
}

}  // namespace
}  // namespace kryvane
