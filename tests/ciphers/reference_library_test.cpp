// The block ciphers that established libraries implement, against them for every key size the
// key-size rule accepts (which includes every size the file job derives from a digest), with
// random and degenerate keys, both directions, and the CBC chain over many blocks on every
// processor path. Each row says how the class keys a shorter key.
#define OPENSSL_SUPPRESS_DEPRECATED  // the one-block RC2 and CAST interfaces are all we need
#include <gtest/gtest.h>
#include <openssl/cast.h>
#include <openssl/rc2.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>

#include "app/catalogue.h"
#include "crypto/cpu.h"
#include "tests/support/botan_block.h"
#include "tests/support/hex.h"

namespace kryvane {
namespace {

using test::Bytes;
using test::ReferenceBlock;

// OpenSSL pads CAST-128 keys shorter than 16 bytes with zeros and runs 12 rounds up to 10 bytes.
ReferenceBlock OpenSslCast(const Bytes& key) {
  auto k = std::make_shared<CAST_KEY>();
  CAST_set_key(k.get(), int(key.size()), key.data());
  return {
      [k](const uint8_t* in, uint8_t* out) { CAST_ecb_encrypt(in, out, k.get(), CAST_ENCRYPT); },
      [k](const uint8_t* in, uint8_t* out) { CAST_ecb_encrypt(in, out, k.get(), CAST_DECRYPT); }};
}

ReferenceBlock OpenSslRc2(const Bytes& key) {
  auto k = std::make_shared<RC2_KEY>();
  RC2_set_key(k.get(), int(key.size()), key.data(), 1024);
  return {[k](const uint8_t* in, uint8_t* out) { RC2_ecb_encrypt(in, out, k.get(), RC2_ENCRYPT); },
          [k](const uint8_t* in, uint8_t* out) { RC2_ecb_encrypt(in, out, k.get(), RC2_DECRYPT); }};
}

// The whole key bytes our class uses; a trailing half byte must be ignored.
Bytes WholeBytes(const Bytes& key, uint32_t bits) {
  return Bytes(key.begin(), key.begin() + bits / 8);
}

// K1 || K2 || K3 from the whole bytes, zero-padded to 24; up to 128 bits K3 is K1.
ReferenceBlock TripleDes(const Bytes& key, uint32_t bits) {
  Bytes k = test::PaddedKey(key, bits, 24);
  if (bits <= 128) std::copy_n(k.begin(), 8, k.begin() + 16);
  return test::BotanBlock("TripleDES", k);
}

// A key of n bits below 256 keys like the 256-bit key made of its whole bytes, a 1 bit at position
// n and zeros: for n = 132 that is 16 bytes, 10 and fifteen zero bytes, whatever the half-used
// byte 16 holds. Full-length keys go to Botan as they are.
ReferenceBlock Serpent(const Bytes& key, uint32_t bits) {
  Bytes k(key.begin(), key.begin() + bits / 8);
  if (bits < 256) k.push_back(uint8_t(1u << (bits % 8)));
  k.resize(32, 0);
  return test::BotanBlock("Serpent", k);
}

struct Reference {
  const char* shortName;
  ReferenceBlock (*make)(const Bytes& key, uint32_t bits);
  test::KeySweep sweep;
};

const Reference kReferences[] = {
    {"blowfish",
     [](const Bytes& k, uint32_t bits) {
       return test::BotanBlock("Blowfish", WholeBytes(k, bits));
     },
     {.seed = 20240531}},
    {"cast128",
     [](const Bytes& k, uint32_t bits) { return OpenSslCast(WholeBytes(k, bits)); },
     {.seed = 20240531}},
    // Botan takes only 128-bit IDEA keys; shorter keys are zero-padded on the right.
    {"idea",
     [](const Bytes& k, uint32_t bits) {
       return test::BotanBlock("IDEA", test::PaddedKey(k, bits, 16));
     },
     {.seed = 20240531}},
    {"rc2",
     [](const Bytes& k, uint32_t bits) { return OpenSslRc2(WholeBytes(k, bits)); },
     {.seed = 20240531}},
    {"cast256",
     [](const Bytes& k, uint32_t bits) {
       return test::BotanBlock("CAST-256", test::PaddedKey(k, bits, 32));
     },
     {.seed = 2612}},
    // Whole bytes, zero-padded to the standard 8 bytes.
    {"des",
     [](const Bytes& k, uint32_t bits) {
       return test::BotanBlock("DES", test::PaddedKey(k, bits, 8));
     },
     {.randomKeys = 8, .seed = 1234}},
    {"3des", &TripleDes, {.randomKeys = 8, .seed = 1234}},
    {"misty1",
     [](const Bytes& k, uint32_t bits) {
       return test::BotanBlock("MISTY1", test::PaddedKey(k, bits, 16));
     },
     {.randomKeys = 8, .blocks = 16}},
    {"serpent", &Serpent, {.minBits = 4, .randomKeys = 6, .seed = 11}},
    // The length is chosen by the size in bits, then the whole key bytes are zero-padded to it.
    {"twofish",
     [](const Bytes& k, uint32_t bits) {
       return test::BotanBlock("Twofish", test::PaddedKey(k, bits,
                                                          bits <= 128   ? 16
                                                          : bits <= 192 ? 24
                                                                        : 32));
     },
     {.randomKeys = 6, .seed = 4321}},
};

class ReferenceLibrary : public ::testing::TestWithParam<Reference> {};

// All-zero and all-FF keys give degenerate subkeys (IDEA multiplication keys of 0, which stand
// for 65536); the sweep includes both besides random keys.
TEST_P(ReferenceLibrary, MatchesForEveryAcceptedKeySize) {
  const CipherEntry* entry = FindCipher(GetParam().shortName);
  ASSERT_NE(entry, nullptr);
  test::ExpectMatchesReferenceForEveryKeySize(entry->cipher, GetParam().make, GetParam().sweep);
}

// The first byte where two buffers of one size part, or their size when they agree.
std::size_t FirstDifference(const Bytes& a, const Bytes& b) {
  return static_cast<std::size_t>(std::mismatch(a.begin(), a.end(), b.begin()).first - a.begin());
}

// CBC over many blocks is where the processor paths differ (several blocks deciphered at once in
// vector lanes or interleaved rounds, padded short groups): on every path, decryption of the
// reference's chain gives the plaintext back and encryption gives the reference's chain, for
// calls of every length from 1 to 40 blocks, in place.
TEST_P(ReferenceLibrary, CbcChainOnEveryPath) {
  const CipherEntry* entry = FindCipher(GetParam().shortName);
  ASSERT_NE(entry, nullptr);
  const std::size_t b = static_cast<std::size_t>(entry->cipher.blockSize / 8);
  const uint32_t max = static_cast<uint32_t>(entry->cipher.maxKeySize);
  std::mt19937 rng(GetParam().sweep.seed);
  for (uint32_t bits : {max, std::max(GetParam().sweep.minBits, 64u)}) {
    SCOPED_TRACE(std::to_string(bits) + " bits");
    const Bytes key = test::RandomBytes(rng, max / 8 + 1);
    const Bytes iv = test::RandomBytes(rng, b);
    const test::ReferenceBlock reference = GetParam().make(key, bits);
    constexpr std::size_t kCalls = 40;
    const Bytes plain = test::RandomBytes(rng, b * kCalls * (kCalls + 1) / 2);
    Bytes chain(plain.size());
    Bytes cv = iv;
    for (std::size_t i = 0; i < plain.size(); i += b) {
      for (std::size_t j = 0; j < b; ++j) cv[j] ^= plain[i + j];
      reference.encrypt(cv.data(), cv.data());
      std::copy(cv.begin(), cv.end(), chain.begin() + std::ptrdiff_t(i));
    }
    for (uint32_t level : cpu::Levels()) {
      SCOPED_TRACE("processor features " + test::ToHex(Bytes{uint8_t(level)}));
      cpu::ScopedLimit limit(level);
      auto ours = test::MakeBlockCipher(entry->cipher);
      ours->Init(key.data(), bits, iv.data());
      Bytes back = chain;
      for (std::size_t n = 1, at = 0; n <= kCalls; at += n * b, ++n) {
        ours->DecryptCBC(back.data() + at, back.data() + at, n * b);
      }
      EXPECT_EQ(FirstDifference(back, plain), plain.size()) << "decryption";
      ours->SetIV(iv.data());
      Bytes forth = plain;
      ours->EncryptCBC(forth.data(), forth.data(), forth.size());
      EXPECT_EQ(FirstDifference(forth, chain), chain.size()) << "encryption";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Ciphers, ReferenceLibrary, ::testing::ValuesIn(kReferences),
                         [](const auto& info) {
                           const std::string name = info.param.shortName;
                           return name == "3des" ? std::string("triple_des") : name;
                         });

}  // namespace
}  // namespace kryvane
