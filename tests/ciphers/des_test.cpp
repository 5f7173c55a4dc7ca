// DES and triple DES: the key-size rules of the file format (agreement with Botan for every key
// size is a row of reference_library_test.cpp).
#include "ciphers/des.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/support/botan_block.h"
#include "tests/support/hex.h"

namespace kryvane {
namespace {

using test::Bytes;
using test::FromHex;
using test::ToHex;

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

}  // namespace
}  // namespace kryvane
