// DES and triple DES: the key-size rules of the file format, agreement with Botan for every key
// size the cipher accepts, and whole files through the passphrase path.
#include "ciphers/des.h"

#include <botan/block_cipher.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
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

// The standard-length key that a key of `bits` stands for: whole bytes, zero-padded.
Bytes DesReferenceKey(const Bytes& key, uint32_t bits) {
  Bytes k(8, 0);
  std::copy_n(key.begin(), bits / 8, k.begin());
  return k;
}

// K1 || K2 || K3 from the whole bytes, zero-padded to 24; up to 128 bits K3 is K1.
Bytes TripleDesReferenceKey(const Bytes& key, uint32_t bits) {
  Bytes k(24, 0);
  std::copy_n(key.begin(), bits / 8, k.begin());
  if (bits <= 128) std::copy_n(k.begin(), 8, k.begin() + 16);
  return k;
}

struct Reference {
  const char* testName;
  const char* shortName;
  const char* botanName;
  Bytes (*referenceKey)(const Bytes&, uint32_t);
};

void PrintTo(const Reference& r, std::ostream* os) {
  *os << r.shortName;
}

class DesDifferential : public ::testing::TestWithParam<Reference> {};

// Every accepted size from 8 bits up, random keys and blocks, both directions.
TEST_P(DesDifferential, MatchesBotanForEveryKeySize) {
  const CipherEntry* entry = FindCipher(GetParam().shortName);
  ASSERT_TRUE(entry != nullptr && entry->cipher);
  auto cipher = entry->cipher->Create();
  auto& ours = dynamic_cast<BlockCipher&>(*cipher);
  auto theirs = Botan::BlockCipher::create_or_throw(GetParam().botanName);
  std::mt19937 rng(1234);
  constexpr std::size_t kBlocks = 4;
  for (uint32_t bits = 8; bits <= static_cast<uint32_t>(entry->cipher->maxKeySize); bits += 4) {
    for (int trial = 0; trial < 8; ++trial) {
      const Bytes key = RandomBytes(rng, 24);
      SCOPED_TRACE("bits " + std::to_string(bits) + ", key " + ToHex(key));
      ours.Init(key.data(), bits);
      theirs->set_key(GetParam().referenceKey(key, bits));

      const Bytes plain = RandomBytes(rng, 8 * kBlocks);
      Bytes expected(plain.size()), got(plain.size());
      theirs->encrypt_n(plain.data(), expected.data(), kBlocks);
      for (std::size_t i = 0; i < plain.size(); i += 8) {
        ours.EncryptBlock(plain.data() + i, got.data() + i);
      }
      ASSERT_EQ(ToHex(got), ToHex(expected)) << "encrypt";

      const Bytes sealed = RandomBytes(rng, 8 * kBlocks);
      theirs->decrypt_n(sealed.data(), expected.data(), kBlocks);
      for (std::size_t i = 0; i < sealed.size(); i += 8) {
        ours.DecryptBlock(sealed.data() + i, got.data() + i);
      }
      ASSERT_EQ(ToHex(got), ToHex(expected)) << "decrypt";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Botan, DesDifferential,
                         ::testing::Values(Reference{"Des", "des", "DES", &DesReferenceKey},
                                           Reference{"TripleDes", "3des", "TripleDES",
                                                     &TripleDesReferenceKey}),
                         [](const auto& info) { return std::string(info.param.testName); });

Bytes Encrypt(BlockCipher& c, const Bytes& key, uint32_t bits, const Bytes& block) {
  c.Init(key.data(), bits);
  Bytes out(block.size());
  c.EncryptBlock(block.data(), out.data());
  return out;
}

// Each case: a key size, and the 192-bit key K1 || K2 || K3 it must behave as, built from the
// bytes of k.
TEST(TripleDes, ShortKeysBehaveAsTheirPaddedThreeKeyForm) {
  const Bytes k = FromHex("0123456789ABCDEF FEDCBA9876543210 89ABCDEF01234567");
  const Bytes zero(8, 0);
  auto part = [&](std::size_t from, std::size_t n) {
    Bytes p(k.begin() + from, k.begin() + from + n);
    p.resize(8, 0);
    return p;
  };
  auto join = [](Bytes a, const Bytes& b, const Bytes& c) {
    a.insert(a.end(), b.begin(), b.end());
    a.insert(a.end(), c.begin(), c.end());
    return a;
  };
  const struct {
    uint32_t bits;
    Bytes equivalent;
  } kCases[] = {
      {192, k},
      {160, join(part(0, 8), part(8, 8), part(16, 4))},  // K3: last four bytes, four zeros
      {132, join(part(0, 8), part(8, 8), zero)},         // above 128 bits, no whole K3 byte
      {128, join(part(0, 8), part(8, 8), part(0, 8))},   // two-key: K3 = K1
      {64, join(part(0, 8), zero, part(0, 8))},          // K2 all zero, not single DES
      {36, join(part(0, 4), zero, part(0, 4))},
  };
  const Bytes block = FromHex("0123456789ABCDE7");
  TripleDes a, b;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.bits);
    EXPECT_EQ(ToHex(Encrypt(a, k, c.bits, block)), ToHex(Encrypt(b, c.equivalent, 192, block)));
  }
  // The case that matters most: a 64-bit key is not single DES.
  Des des;
  EXPECT_NE(ToHex(Encrypt(a, k, 64, block)), ToHex(Encrypt(des, k, 64, block)));
}

TEST(TripleDes, ThreeEqualPartsEqualSingleDes) {
  const Bytes part = FromHex("0170F175468FB5E6");
  Bytes key;
  for (int i = 0; i < 3; ++i) key.insert(key.end(), part.begin(), part.end());
  TripleDes triple;
  Des single;
  const Bytes block = FromHex("0756D8E0774761D2");
  EXPECT_EQ(ToHex(Encrypt(triple, key, 192, block)), "0CD3DA020021DC09");
  EXPECT_EQ(ToHex(Encrypt(single, part, 64, block)), "0CD3DA020021DC09");
}

TEST(Des, ShortKeyIsZeroPaddedAndParityBitsAreIgnored) {
  Des a, b;
  const Bytes block = FromHex("0123456789ABCDEF");
  EXPECT_EQ(ToHex(Encrypt(a, FromHex("133457799BBCDFF1"), 32, block)),
            ToHex(Encrypt(b, FromHex("1334577900000000"), 64, block)));
  // A trailing half byte is dropped.
  EXPECT_EQ(ToHex(Encrypt(a, FromHex("13345779F0000000"), 36, block)),
            ToHex(Encrypt(b, FromHex("1334577900000000"), 64, block)));
  // Flipping every parity bit changes nothing.
  EXPECT_EQ(ToHex(Encrypt(a, FromHex("133457799BBCDFF1"), 64, block)), "85E813540F0AB405");
  EXPECT_EQ(ToHex(Encrypt(b, FromHex("123556789ABDDEF0"), 64, block)), "85E813540F0AB405");
}

TEST(DesFamily, RefusedKeySizesLeaveTheCipherUnkeyed) {
  const struct {
    const char* name;
    uint32_t bits;
  } kCases[] = {{"des", 0},  {"des", 4},    {"des", 6},   {"des", 68},
                {"3des", 4}, {"3des", 130}, {"3des", 196}};
  const Bytes key(32, 0x5A);
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.bits));
    auto cipher = FindCipher(c.name)->cipher->Create();
    auto& block = dynamic_cast<BlockCipher&>(*cipher);
    block.Init(key.data(), 64);  // a former key must not survive the refused one
    try {
      block.Init(key.data(), c.bits);
      ADD_FAILURE() << "accepted";
    } catch (const CipherError& e) {
      EXPECT_STREQ(e.what(), kInvalidKeySize);
    }
    EXPECT_FALSE(block.Initialized());
    uint8_t buf[8] = {};
    EXPECT_THROW(block.EncryptBlock(buf, buf), BlockCipherError);
  }
}

TEST(DesFamily, SelfTestsPass) {
  EXPECT_TRUE(Des::SelfTest());
  EXPECT_TRUE(TripleDes::SelfTest());
}

// Whole files as the file job writes them: key from each available hash of a passphrase, one CBC
// chain in 8192-byte calls. Decrypting must give back the source.
TEST(DesFamily, FileRoundTripWithEveryHash) {
  std::mt19937 rng(99);
  for (const char* name : {"des", "3des"}) {
    for (const HashEntry& h : HashCatalogue()) {
      if (!h.hash) continue;
      for (std::size_t size : {0u, 1u, 7u, 8u, 9u, 8191u, 8192u, 8193u}) {
        SCOPED_TRACE(std::string(name) + " " + std::string(h.shortName) + " " +
                     std::to_string(size));
        const Bytes source = RandomBytes(rng, size);
        auto enc = FindCipher(name)->cipher->Create();
        enc->InitFromPassphrase("correct horse battery staple", *h.hash);
        MemorySource in(source);
        MemorySink sealed;
        EXPECT_EQ(enc->EncryptStream(in, sealed, size), size);
        ASSERT_EQ(sealed.Data().size(), size);
        if (size >= 8) {
          EXPECT_NE(sealed.Data(), source);
        }

        auto dec = FindCipher(name)->cipher->Create();
        dec->InitFromPassphrase("correct horse battery staple", *h.hash);
        MemorySource back(sealed.Data());
        MemorySink plain;
        EXPECT_EQ(dec->DecryptStream(back, plain, size), size);
        EXPECT_EQ(plain.Data(), source);
      }
    }
  }
}

}  // namespace
}  // namespace kryvane
