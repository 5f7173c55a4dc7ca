// MARS: the block function against Crypto++ driven with the same subkeys (Crypto++ shares the
// block function, not the key schedule), the key schedule against a model written from its
// definition, its size rules and multiplication-key fix-up, and inversion for every key size.
#include "ciphers/mars.h"

#include <cryptopp/mars.h>
#include <gtest/gtest.h>

#include <random>

#include "tests/support/cipher_checks.h"
#include "tests/support/hex.h"
#include "tests/support/vec_file.h"

namespace kryvane {
namespace {

using test::RandomBytes;
using test::ToHex;

// Crypto++ keeps the 40 subkey words in a protected member; these overwrite them after keying.
class CryptoppMarsEncryption : public CryptoPP::MARS::Encryption {
 public:
  void SetSubKeys(const Mars::SubKeyArray& k) {
    const uint8_t dummy[16] = {};
    SetKey(dummy, sizeof dummy);
    std::copy(k.begin(), k.end(), m_k.begin());
  }
};
class CryptoppMarsDecryption : public CryptoPP::MARS::Decryption {
 public:
  void SetSubKeys(const Mars::SubKeyArray& k) {
    const uint8_t dummy[16] = {};
    SetKey(dummy, sizeof dummy);
    std::copy(k.begin(), k.end(), m_k.begin());
  }
};

Mars::SubKeyArray SubKeysFor(const std::vector<uint8_t>& key, uint32_t bits) {
  Mars m;
  m.Init(key.data(), bits);
  return m.SubKeys();
}

// The block function alone, keyed with the subkeys of our schedule for random keys of random
// sizes, against Crypto++ holding the same subkeys; both directions.
TEST(Mars, BlockFunctionMatchesCryptopp) {
  std::mt19937 rng(1);
  for (int round = 0; round < 300; ++round) {
    const uint32_t bits = 32 * (1 + rng() % 39);
    const auto key = RandomBytes(rng, bits / 8);
    Mars ours;
    ours.Init(key.data(), bits);
    CryptoppMarsEncryption enc;
    CryptoppMarsDecryption dec;
    enc.SetSubKeys(ours.SubKeys());
    dec.SetSubKeys(ours.SubKeys());
    for (int b = 0; b < 4; ++b) {
      const auto plain = RandomBytes(rng, 16);
      uint8_t mine[16], theirs[16];
      ours.EncryptBlock(plain.data(), mine);
      enc.ProcessBlock(plain.data(), theirs);
      ASSERT_EQ(ToHex(mine, 16), ToHex(theirs, 16)) << "encrypt, " << bits << " bits";
      ours.DecryptBlock(plain.data(), mine);
      dec.ProcessBlock(plain.data(), theirs);
      ASSERT_EQ(ToHex(mine, 16), ToHex(theirs, 16)) << "decrypt, " << bits << " bits";
    }
  }
}

// The 47-word key schedule written out from its definition, on Crypto++'s copy of the S-box, for
// keys of at least one whole word. Nothing here comes from the class under test.
class ScheduleModel : public CryptoPP::MARS::Encryption {
 public:
  static Mars::SubKeyArray SubKeys(const std::vector<uint8_t>& key, uint32_t bits) {
    const uint32_t* s = Sbox;
    const auto rotl = [](uint32_t x, uint32_t r) {
      r &= 31;
      return r == 0 ? x : (x << r) | (x >> (32 - r));
    };
    std::array<uint32_t, 40> k{};
    const std::size_t n = bits / 32;
    for (std::size_t i = 0; i < n; ++i) {
      for (std::size_t b = 0; b < 4; ++b) k[i] |= uint32_t(key[4 * i + b]) << (8 * b);
    }
    std::array<uint32_t, 47> t{};
    for (std::size_t i = 0; i < 7; ++i) t[i] = s[i];
    for (std::size_t i = 0; i < 39; ++i) {
      t[i + 7] = rotl(t[i] ^ t[i + 5], 3) ^ k[i % n] ^ uint32_t(i);
    }
    t[46] = uint32_t(n);
    for (int pass = 0; pass < 7; ++pass) {
      for (std::size_t j = 8; j <= 46; ++j) t[j] = rotl(t[j] + s[t[j - 1] % 512], 9);
      t[7] = rotl(t[7] + s[t[46] % 512], 9);
    }
    Mars::SubKeyArray out{};
    for (std::size_t i = 0; i < 40; ++i) out[(7 * i) % 40] = t[i + 7];
    for (std::size_t i = 5; i <= 35; i += 2) {
      const uint32_t j = out[i] & 3, w = out[i] | 3, r = out[i + 3] & 31;
      out[i] = (rotl(s[265 + j], r) & Mask(w)) ^ w;
    }
    return out;
  }

 private:
  // Bits inside a run of ten or more equal bits, less the run's two ends, less bits 0 and 1.
  static uint32_t Mask(uint32_t w) {
    const auto bit = [w](int l) { return l < 0 || l > 31 ? 0u : (w >> l) & 1; };
    uint32_t inRun = 0;
    for (int i0 = 0; i0 + 9 <= 31; ++i0) {
      bool equal = true;
      for (int l = i0 + 1; l <= i0 + 9; ++l) equal = equal && bit(l) == bit(i0);
      if (equal) {
        for (int l = i0; l <= i0 + 9; ++l) inRun |= 1u << l;
      }
    }
    uint32_t m = 0;
    for (int l = 0; l < 32; ++l) {
      if ((inRun >> l & 1) && bit(l) == bit(l - 1) && bit(l) == bit(l + 1)) m |= 1u << l;
    }
    return m & ~3u;
  }
};

TEST(Mars, KeyScheduleMatchesItsDefinition) {
  std::mt19937 rng(47);
  for (uint32_t bits = 32; bits <= Mars::kMaxKeySize; bits += 4) {
    for (int trial = 0; trial < 4; ++trial) {
      std::vector<uint8_t> key = RandomBytes(rng, 160);
      if (trial < 2) std::fill(key.begin(), key.end(), trial == 0 ? 0x00 : 0xFF);
      ASSERT_EQ(SubKeysFor(key, bits), ScheduleModel::SubKeys(key, bits))
          << bits << " bits, trial " << trial;
    }
  }
}

// Every record of the vector file, recomputed with the model's subkeys in Crypto++'s block
// function: the answers kept there are independent of this implementation.
TEST(Mars, VectorFileAgreesWithTheModel) {
  int checked = 0;
  for (const test::VecRecord& r : test::ReadVecFile("ciphers/mars.vec")) {
    SCOPED_TRACE("mars.vec:" + std::to_string(r.line));
    const auto key = test::FromHex(r.Get("Key"));
    const uint32_t bits =
        r.Has("Bits") ? uint32_t(std::stoul(r.Get("Bits"))) : uint32_t(8 * key.size());
    CryptoppMarsEncryption enc;
    enc.SetSubKeys(ScheduleModel::SubKeys(key, bits));
    const auto in = test::FromHex(r.Get("In"));
    std::vector<uint8_t> out(in.size());
    for (std::size_t i = 0; i + 16 <= in.size(); i += 16) enc.ProcessBlock(&in[i], &out[i]);
    EXPECT_EQ(ToHex(out), ToHex(test::FromHex(r.Get("Out"))));
    ++checked;
  }
  EXPECT_GE(checked, 6);
}

TEST(Mars, DecryptInvertsEncryptForEveryKeySize) {
  std::mt19937 rng(2);
  const auto key = RandomBytes(rng, Mars::kMaxKeySize / 8);
  for (uint32_t bits = 32; bits <= Mars::kMaxKeySize; bits += 4) {
    Mars m;
    m.Init(key.data(), bits);
    for (int b = 0; b < 3; ++b) {
      const auto plain = RandomBytes(rng, 16);
      uint8_t buf[16];
      m.EncryptBlock(plain.data(), buf);
      ASSERT_NE(ToHex(buf, 16), ToHex(plain)) << bits << " bits";
      m.DecryptBlock(buf, buf);
      ASSERT_EQ(ToHex(buf, 16), ToHex(plain)) << bits << " bits";
    }
  }
}

// Sizes below one word are refused (checked with every cipher's key rule); the refusal must also
// wipe the subkeys of the former key.
TEST(Mars, RefusedKeyWipesSubKeys) {
  const uint8_t key[4] = {1, 2, 3, 4};
  for (uint32_t bits = 4; bits < 32; bits += 4) {
    Mars m;
    m.Init(key, 32);
    EXPECT_THROW(m.Init(key, bits), CipherError) << bits << " bits";
    for (uint32_t w : m.SubKeys()) EXPECT_EQ(w, 0xFFFFFFFFu);
  }
}

// Only whole key words count: every size keys like the largest multiple of 32 below it (a
// 136-bit key like its first 128 bits), whatever the ignored bytes hold.
TEST(Mars, PartialKeyWordIsIgnored) {
  std::mt19937 rng(3);
  const auto key = RandomBytes(rng, Mars::kMaxKeySize / 8);
  for (uint32_t bits = 36; bits <= Mars::kMaxKeySize; bits += 4) {
    if (bits % 32 == 0) continue;
    EXPECT_EQ(SubKeysFor(key, bits), SubKeysFor(key, bits / 32 * 32)) << bits << " bits";
  }
  const auto k136 = test::FromHex("000102030405060708090A0B0C0D0E0F10");
  EXPECT_EQ(SubKeysFor(k136, 136), SubKeysFor(k136, 128));
}

// Every key word reaches the schedule, and so does the word count: a key and the same key
// followed by a zero word differ.
TEST(Mars, EveryKeyWordCounts) {
  std::mt19937 rng(4);
  auto key = RandomBytes(rng, Mars::kMaxKeySize / 8);
  const auto base = SubKeysFor(key, Mars::kMaxKeySize);
  for (std::size_t word = 0; word < key.size() / 4; ++word) {
    const std::size_t byte = 4 * word + rng() % 4;
    const uint8_t flip = uint8_t(1u << (rng() % 8));
    key[byte] ^= flip;
    EXPECT_NE(SubKeysFor(key, Mars::kMaxKeySize), base) << "word " << word;
    key[byte] ^= flip;
  }
  std::vector<uint8_t> shortKey(16, 0x5A), padded(shortKey);
  padded.resize(20, 0);
  EXPECT_NE(SubKeysFor(shortKey, 128), SubKeysFor(padded, 160));
}

TEST(Mars, MultiplicationKeysHaveLowBitsSet) {
  std::mt19937 rng(5);
  for (int round = 0; round < 2000; ++round) {
    const uint32_t bits = 32 * (1 + rng() % 39);
    const auto k = SubKeysFor(RandomBytes(rng, bits / 8), bits);
    for (std::size_t i = 5; i <= 35; i += 2) {
      ASSERT_EQ(k[i] & 3u, 3u) << "K" << i << ", " << bits << " bits";
    }
  }
}

// Hand-worked masks. Bits inside a run of ten or more equal bits are marked except the run's end
// bits; bits outside the word count as 0, so a zero run reaching bit 31 marks bit 31 and a one
// run does not; runs do not wrap around; bits 0 and 1 are never marked.
TEST(Mars, FixupMask) {
  struct Case {
    uint32_t w;
    uint32_t mask;
    const char* what;
  };
  static constexpr Case kCases[] = {
      {0x00000003, 0xFFFFFFF8, "zeros at bits 2..31"},
      {0xFFFFFFFF, 0x7FFFFFFC, "all ones"},
      {0b01010101'01011111'11111001'01010101, 0x000FF000, "ten ones at bits 11..20"},
      {0b01010101'01001111'11111001'01010101, 0, "nine ones at bits 11..19"},
      {0b01010101'01010100'00000000'00000101, 0x0001FFF0, "fifteen zeros at bits 3..17"},
      {0b00000000'00110101'01010101'01010101, 0xFF800000, "ten zeros at the top"},
      {0b11111111'11010101'01010101'01010101, 0x7F800000, "ten ones at the top"},
      {0b00000000'01010101'01010101'01010101, 0, "nine zeros at the top"},
      {0b01010101'01010101'01010011'11111111, 0x000001FC, "ten ones at the bottom"},
      {0b01010101'01010101'01010100'00000000, 0x000001FC, "ten zeros at the bottom"},
      {0b00000101'01010101'01010101'01000000, 0, "five zeros at each end, no wrap"},
      {0x55555555, 0, "alternating"},
      {0xAAAAAAAA, 0, "alternating"},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(Mars::FixupMask(c.w), c.mask) << c.what << ", w = " << std::hex << c.w;
  }
}

TEST(Mars, WipeFillsSubKeys) {
  Mars m;
  for (uint32_t w : m.SubKeys()) EXPECT_EQ(w, 0xFFFFFFFFu);
  const uint8_t key[16] = {1};
  m.Init(key, 128);
  m.Wipe();
  for (uint32_t w : m.SubKeys()) EXPECT_EQ(w, 0xFFFFFFFFu);
  uint8_t block[16] = {};
  EXPECT_THROW(m.EncryptBlock(block, block), BlockCipherError);
  EXPECT_THROW(m.DecryptBlock(block, block), BlockCipherError);
}

}  // namespace
}  // namespace kryvane
