// The chaining modes, the tail rule and the block cipher life cycle, on a toy cipher.
#include <gtest/gtest.h>

#include <random>

#include "tests/crypto/toy_cipher.h"
#include "tests/support/hex.h"
#include "tests/support/random_bytes.h"

namespace kryvane {
namespace {

using Toy8 = test::Toy<8>;
using Toy16 = test::Toy<16>;
using Bytes = std::vector<uint8_t>;
constexpr ChainingMode kModes[] = {ChainingMode::cmCBC, ChainingMode::cmCFB8bit,
                                   ChainingMode::cmCFBblock, ChainingMode::cmOFB,
                                   ChainingMode::cmCTR};
const uint8_t kKey[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

using test::RandomBytes;

template <class C>
Bytes E(C& c, const Bytes& in) {
  Bytes out(in.size());
  c.EncryptBlock(in.data(), out.data());
  return out;
}

Bytes Xor(Bytes a, const Bytes& b) {
  for (std::size_t i = 0; i < a.size(); ++i) a[i] ^= b[i];
  return a;
}

Bytes Slice(const Bytes& b, std::size_t from, std::size_t n) {
  return Bytes(b.begin() + std::ptrdiff_t(from), b.begin() + std::ptrdiff_t(from + n));
}

TEST(BlockModes, ToyCipherInverts) {
  Toy16 c;
  c.Init(kKey, 128);
  for (unsigned s = 0; s < 50; ++s) {
    const Bytes p = RandomBytes(16, s);
    Bytes x = E(c, p);
    c.DecryptBlock(x.data(), x.data());
    EXPECT_EQ(x, p);
  }
}

TEST(BlockModes, DefaultIvIsEncryptionOfZeroBlock) {
  Toy8 c;
  c.Init(kKey, 64);
  Bytes iv(8);
  c.GetIV(iv.data());
  EXPECT_EQ(iv, E(c, Bytes(8, 0)));
  const Bytes given = RandomBytes(8, 7);
  c.Init(kKey, 64, given.data());
  c.GetIV(iv.data());
  EXPECT_EQ(iv, given);
}

// The tail rule written out from its definition, for each mode, on 13 bytes with B = 8.
TEST(BlockModes, TailRuleOfEveryMode) {
  Toy8 c;
  c.Init(kKey, 64);
  Bytes iv(8);
  c.GetIV(iv.data());
  const Bytes p = RandomBytes(13, 3);
  const Bytes p0 = Slice(p, 0, 8), tail = Slice(p, 8, 5);
  auto run = [&](ChainingMode m, bool encrypt) {
    c.Reset();
    c.SetCipherMode(m);
    Bytes out(p.size());
    encrypt ? c.Encrypt(p.data(), out.data(), p.size()) : c.Decrypt(p.data(), out.data(), p.size());
    return out;
  };
  {  // CBC: C0 = E(P0 ^ IV); tail ^= E(C0)
    const Bytes c0 = E(c, Xor(p0, iv));
    const Bytes out = run(ChainingMode::cmCBC, true);
    EXPECT_EQ(Slice(out, 0, 8), c0);
    EXPECT_EQ(Slice(out, 8, 5), Xor(tail, Slice(E(c, c0), 0, 5)));
    // Decryption's tail is keyed by the ciphertext block read, again output feedback.
    Bytes d0(8);
    c.DecryptBlock(p0.data(), d0.data());
    const Bytes dout = run(ChainingMode::cmCBC, false);
    EXPECT_EQ(Slice(dout, 0, 8), Xor(d0, iv));
    EXPECT_EQ(Slice(dout, 8, 5), Xor(tail, Slice(E(c, p0), 0, 5)));
  }
  {  // CFB block: C0 = P0 ^ E(IV); tail ^= E(C0)
    const Bytes c0 = Xor(p0, E(c, iv));
    const Bytes out = run(ChainingMode::cmCFBblock, true);
    EXPECT_EQ(Slice(out, 0, 8), c0);
    EXPECT_EQ(Slice(out, 8, 5), Xor(tail, Slice(E(c, c0), 0, 5)));
    const Bytes dout = run(ChainingMode::cmCFBblock, false);
    EXPECT_EQ(Slice(dout, 0, 8), c0);
    EXPECT_EQ(Slice(dout, 8, 5), Xor(tail, Slice(E(c, p0), 0, 5)));
  }
  {  // OFB: K0 = E(IV), K1 = E(K0)
    const Bytes k0 = E(c, iv), k1 = E(c, k0);
    const Bytes out = run(ChainingMode::cmOFB, true);
    EXPECT_EQ(Slice(out, 0, 8), Xor(p0, k0));
    EXPECT_EQ(Slice(out, 8, 5), Xor(tail, Slice(k1, 0, 5)));
    EXPECT_EQ(run(ChainingMode::cmOFB, false), out);
  }
  {  // CTR: K0 = E(IV), K1 = E(IV + 1)
    Bytes iv1 = iv;
    for (std::size_t i = 8; i-- > 0;) {
      if (++iv1[i] != 0) break;
    }
    const Bytes out = run(ChainingMode::cmCTR, true);
    EXPECT_EQ(Slice(out, 0, 8), Xor(p0, E(c, iv)));
    EXPECT_EQ(Slice(out, 8, 5), Xor(tail, Slice(E(c, iv1), 0, 5)));
    EXPECT_EQ(run(ChainingMode::cmCTR, false), out);
  }
  {  // CFB 8-bit: byte by byte, register shifted left with the ciphertext byte.
    Bytes reg = iv, expected;
    for (uint8_t x : p) {
      const uint8_t y = uint8_t(x ^ E(c, reg)[0]);
      expected.push_back(y);
      reg.erase(reg.begin());
      reg.push_back(y);
    }
    EXPECT_EQ(run(ChainingMode::cmCFB8bit, true), expected);
  }
}

TEST(BlockModes, ShortInputIsOutputFeedbackInCbcCfbOfb) {
  Toy16 c;
  c.Init(kKey, 128);
  const Bytes p = RandomBytes(11, 9);
  Bytes first;
  for (ChainingMode m : {ChainingMode::cmCBC, ChainingMode::cmCFBblock, ChainingMode::cmOFB}) {
    c.Reset();
    c.SetCipherMode(m);
    Bytes out(p.size());
    c.Encrypt(p.data(), out.data(), p.size());
    if (first.empty()) first = out;
    EXPECT_EQ(out, first);
  }
}

// Whole-block splits continue the chain; a split inside a block applies the tail rule early.
TEST(BlockModes, SplittingProperties) {
  Toy8 c;
  c.Init(kKey, 64);
  const Bytes p = RandomBytes(16, 11);
  for (ChainingMode m : kModes) {
    SCOPED_TRACE(int(m));
    c.SetCipherMode(m);
    auto encrypt = [&](std::size_t first) {
      c.Reset();
      Bytes out(16);
      c.Encrypt(p.data(), out.data(), first);
      c.Encrypt(p.data() + first, out.data() + first, 16 - first);
      return out;
    };
    const Bytes whole = encrypt(16);
    EXPECT_EQ(encrypt(8), whole);
    if (m == ChainingMode::cmCFB8bit) {
      for (std::size_t k = 0; k <= 16; ++k) EXPECT_EQ(encrypt(k), whole);
    } else {
      EXPECT_NE(encrypt(5), whole);
    }
  }
}

TEST(BlockModes, RoundTripInPlaceAndSeparate) {
  Toy16 c;
  c.Init(kKey, 128);
  for (ChainingMode m : kModes) {
    c.SetCipherMode(m);
    for (std::size_t n : {0u, 1u, 15u, 16u, 17u, 100u}) {
      SCOPED_TRACE(std::to_string(int(m)) + "/" + std::to_string(n));
      const Bytes p = RandomBytes(n, unsigned(n));
      Bytes sep(n), inplace = p;
      c.Reset();
      c.Encrypt(p.data(), sep.data(), n);
      c.Reset();
      c.Encrypt(inplace.data(), inplace.data(), n);
      EXPECT_EQ(sep, inplace);
      Bytes back(n);
      c.Reset();
      c.Decrypt(sep.data(), back.data(), n);
      EXPECT_EQ(back, p);
      c.Reset();
      c.Decrypt(inplace.data(), inplace.data(), n);
      EXPECT_EQ(inplace, p);
    }
  }
}

// The many-block decryption path must give the bytes of the one-block path, whatever the call
// sizes (runs cut at every size, a partial final block), with separate buffers and in place, and
// leave the same chaining value behind for the next call.
TEST(BlockModes, MultiBlockCbcDecryptionEqualsOneBlockPath) {
  test::Toy<8> one;
  test::Toy<8, true> multi;
  one.Init(kKey, 64);
  multi.Init(kKey, 64);
  const Bytes c = RandomBytes(8 * 300 + 5, 41);
  const std::size_t kSplits[][3] = {{8, 8, 0},
                                    {7, 9, 16},
                                    {2048, 8, 13},
                                    {1024, 1032, 0},
                                    {8192, 0, 0},
                                    {1, 1023, 1029},
                                    {8 * 129, 8 * 127, 8 * 3},
                                    {0, 2405, 0}};
  for (const auto& s : kSplits) {
    for (bool inPlace : {false, true}) {
      SCOPED_TRACE(std::to_string(s[0]) + "," + std::to_string(s[1]) + "," + std::to_string(s[2]) +
                   (inPlace ? " in place" : ""));
      one.Reset();
      multi.Reset();
      Bytes expected(c.size()), got = c, sep(c.size());
      std::size_t at = 0;
      for (std::size_t part : {s[0], s[1], s[2], c.size()}) {
        const std::size_t n = std::min(part, c.size() - at);
        one.DecryptCBC(c.data() + at, expected.data() + at, n);
        if (inPlace) {
          multi.DecryptCBC(got.data() + at, got.data() + at, n);
        } else {
          multi.DecryptCBC(c.data() + at, sep.data() + at, n);
        }
        at += n;
        Bytes cvOne(8), cvMulti(8);
        one.GetIV(cvOne.data());
        multi.GetIV(cvMulti.data());
        ASSERT_EQ(cvOne, cvMulti);
      }
      EXPECT_EQ(inPlace ? got : sep, expected);
    }
  }
  EXPECT_GT(multi.multiCalls, 0);
  // The same through Decrypt in CBC mode, 16-byte blocks, over a run of sizes.
  test::Toy<16> one16;
  test::Toy<16, true> multi16;
  one16.Init(kKey, 128);
  multi16.Init(kKey, 128);
  for (std::size_t n = 0; n < 16 * 140; n += 15) {
    SCOPED_TRACE(n);
    const Bytes x = RandomBytes(n, unsigned(n));
    Bytes a(n), b = x;
    one16.Reset();
    multi16.Reset();
    one16.Decrypt(x.data(), a.data(), n);
    multi16.Decrypt(b.data(), b.data(), n);
    ASSERT_EQ(b, a);
  }
}

TEST(BlockModes, ChainingValueAfterCalls) {
  Toy8 c;
  c.Init(kKey, 64);
  Bytes iv(8), cv(8), out(24);
  c.GetIV(iv.data());
  const Bytes p = RandomBytes(24, 5);
  c.EncryptCBC(p.data(), out.data(), 8);
  c.GetIV(cv.data());
  EXPECT_EQ(cv, Slice(out, 0, 8));
  c.Reset();
  c.EncryptCTR(p.data(), out.data(), 24);
  c.GetIV(cv.data());
  const auto plus = [&iv](int n) {
    Bytes v = iv;
    for (int k = 0; k < n; ++k) {
      for (std::size_t i = 8; i-- > 0;) {
        if (++v[i] != 0) break;
      }
    }
    return v;
  };
  EXPECT_EQ(cv, plus(3));
  // A partial block uses up a counter value too: 13 bytes advance it twice.
  c.Reset();
  c.EncryptCTR(p.data(), out.data(), 13);
  c.GetIV(cv.data());
  EXPECT_EQ(cv, plus(2));
}

TEST(BlockModes, IncCounterCarriesAndWraps) {
  Toy8 c;
  c.Init(kKey, 64);
  const struct {
    const char* from;
    const char* to;
  } kCases[] = {{"0000000000000000", "0000000000000001"},
                {"00000000000000FF", "0000000000000100"},
                {"00FFFFFFFFFFFFFF", "0100000000000000"},
                {"FFFFFFFFFFFFFFFF", "0000000000000000"}};
  for (const auto& k : kCases) {
    c.SetIV(test::FromHex(k.from).data());
    c.IncCounter();
    Bytes cv(8);
    c.GetIV(cv.data());
    EXPECT_EQ(test::ToHex(cv), k.to);
  }
}

TEST(BlockModes, UnkeyedCipherRefusesEverything) {
  Toy8 c;
  Bytes buf(8, 0);
  auto expectRefused = [](auto&& f) {
    try {
      f();
      ADD_FAILURE() << "no exception";
    } catch (const BlockCipherError& e) {
      EXPECT_STREQ(e.what(), "Cipher not initialized");
    }
  };
  for (int round = 0; round < 2; ++round) {  // fresh, then keyed and wiped
    uint8_t* b = buf.data();
    expectRefused([&] { c.EncryptCBC(b, b, 0); });
    expectRefused([&] { c.DecryptCBC(b, b, 8); });
    expectRefused([&] { c.EncryptCFB8bit(b, b, 0); });
    expectRefused([&] { c.DecryptCFB8bit(b, b, 1); });
    expectRefused([&] { c.EncryptCFBblock(b, b, 8); });
    expectRefused([&] { c.DecryptCFBblock(b, b, 8); });
    expectRefused([&] { c.EncryptOFB(b, b, 8); });
    expectRefused([&] { c.DecryptOFB(b, b, 8); });
    expectRefused([&] { c.EncryptCTR(b, b, 8); });
    expectRefused([&] { c.DecryptCTR(b, b, 8); });
    expectRefused([&] { c.Encrypt(b, b, 8); });
    expectRefused([&] { c.Decrypt(b, b, 8); });
    expectRefused([&] { c.EncryptBlock(b, b); });
    expectRefused([&] { c.DecryptBlock(b, b); });
    expectRefused([&] { c.SetIV(b); });
    expectRefused([&] { c.GetIV(b); });
    expectRefused([&] { c.Reset(); });
    expectRefused([&] { c.EncryptText(""); });
    expectRefused([&] { c.DecryptText(""); });
    MemorySource src(buf);
    MemorySink sink;
    expectRefused([&] { c.EncryptStream(src, sink, 8); });
    EXPECT_TRUE(sink.Data().empty());
    c.Init(kKey, 64);
    c.Wipe();
    EXPECT_FALSE(c.Initialized());
  }
}

// The key-size rule of every cipher: above 0, a multiple of 4, at most the maximum.
TEST(CipherKeySize, Rule) {
  const struct {
    uint32_t bits;
    bool accepted;
  } kCases[] = {{0, false},   {3, false},           {4, true}, {8, true}, {126, false}, {128, true},
                {132, false}, {0xFFFFFFFCu, false}, {64, true}};
  for (const auto& k : kCases) {
    SCOPED_TRACE(k.bits);
    Toy16 c;
    c.Init(kKey, 128);
    if (k.accepted) {
      c.Init(kKey, k.bits);
      EXPECT_TRUE(c.Initialized());
    } else {
      const int before = c.expandCalls;
      try {
        c.Init(kKey, k.bits);
        ADD_FAILURE() << "accepted";
      } catch (const CipherError& e) {
        EXPECT_STREQ(e.what(), "Invalid key size");
      }
      EXPECT_FALSE(c.Initialized());  // the old key is gone too
      EXPECT_EQ(c.expandCalls, before);
    }
  }
}

TEST(BlockModes, ModeChangeContinuesChain) {
  Toy8 c;
  c.Init(kKey, 64);
  const Bytes p = RandomBytes(16, 21);
  Bytes a(16), b(16);
  c.EncryptCBC(p.data(), a.data(), 8);
  c.EncryptOFB(p.data() + 8, a.data() + 8, 8);
  c.Reset();
  c.SetCipherMode(ChainingMode::cmCBC);
  c.Encrypt(p.data(), b.data(), 8);
  c.SetCipherMode(ChainingMode::cmOFB);
  c.Encrypt(p.data() + 8, b.data() + 8, 8);
  EXPECT_EQ(a, b);
}

TEST(BlockCipherText, RoundTripWhateverTheMode) {
  Toy8 c;
  c.Init(kKey, 64);
  const std::string text = "Attack at dawn, bring 12 ropes.";
  std::string first;
  for (ChainingMode m : kModes) {
    c.SetCipherMode(m);
    c.Reset();
    const std::string enc = c.EncryptText(text);
    EXPECT_EQ(enc.size(), 4 * ((text.size() + 2) / 3));
    if (first.empty()) first = enc;
    EXPECT_EQ(enc, first);
    c.Reset();
    EXPECT_EQ(c.DecryptText(enc), text);
  }
  EXPECT_EQ(c.EncryptText(""), "");
}

}  // namespace
}  // namespace kryvane
